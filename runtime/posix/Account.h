#pragma once

#include <string>
#include <sys/types.h>

// Who the process acts as: the user that owns what it makes and that files are checked against.
namespace Account {

// The effective user id.
uid_t effectiveId();

// The login name of uid; empty when the user database has none.
std::string nameOf(uid_t uid);

} // namespace Account
