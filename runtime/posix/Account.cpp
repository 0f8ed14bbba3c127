#include "runtime/posix/Account.h"

#include <pwd.h>
#include <unistd.h>

namespace Account {

uid_t effectiveId()
{
    return ::geteuid();
}

std::string nameOf(uid_t uid)
{
    const passwd *entry = ::getpwuid(uid);
    return entry && entry->pw_name ? std::string(entry->pw_name) : std::string();
}

} // namespace Account
