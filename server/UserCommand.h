// `qvr-server user add|passwd|remove|list`: the users who may call,
// managed from the command line (UserAccounts.h) in the database of a
// stopped or running server: the data folder's, or the PostgreSQL database
// of --database. A new password is read from a
// file or standard input, never from the command line, where the process
// list would show it. The messages and exit statuses are those of the usage
// text and docs/server.md.
#pragma once

#include "server/ServerOptions.h"

namespace qvr::server {

// Exit statuses of a user command.
inline constexpr int kUserCommandDone = 0;
inline constexpr int kUserCommandRefused = 1;

// The most bytes a password may have.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// Runs ACommand, whose DataFolder or Database is set, and returns its exit
// status: what it did goes to standard output, a refusal or failure to
// standard error. The database must exist (the server creates it); a
// data folder's must belong to the user running the command, so that the
// files SQLite adds beside it stay the server's.
int RunUserCommand(const TUserCommand& ACommand);

}  // namespace qvr::server
