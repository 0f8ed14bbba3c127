#include "fakes/TestSupport.h"
#include "widgets/Appearance.h"

// Compiled into every test that links widgets: prepareEnvironment then gives its windows the
// program's look, as the program shows them.
namespace {
const bool kLookSet = (TestSupport::windowLook = &Appearance::apply, true);
} // namespace
