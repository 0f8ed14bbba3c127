// Built into every program of a sanitizer or fuzz build: what the sanitizers are told before
// anything runs, so that a test, a fuzz target or a program started by hand all behave alike.
// ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS given in the environment still come on top.

extern "C" {

// Leaks that are not ours, as small as they can be named.
const char *__lsan_default_suppressions()
{
    return
        // Qt's D-Bus thread (tray and accessibility under X) leaves libdbus's read buffer at exit.
        "leak:libdbus-1.so\n"
        // The test runtime's End() throws through Qt's frames, which Qt builds without exception
        // clean-ups: the guard QPointer of QAction::activate is never released. Only that block:
        // Qt has no frame pointers, so a report's stack stops at this very function.
        "leak:QtSharedPointer::ExternalRefCountData::getAndRef\n";
}

const char *__ubsan_default_options()
{
    return "print_stacktrace=1";
}

} // extern "C"
