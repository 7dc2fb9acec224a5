// The command line of qvr-server: every option with its default, the user
// commands, the parsers and the usage text. Bad options raise
// EServerOptionsError with a message that names the option; the program
// prints it with the usage and exits.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/SysUtils.h"
#include "server/FrontLimits.h"

namespace qvr::server {

class EServerOptionsError : public Exception {
  using Exception::Exception;
};

struct TServerOptions {
  std::string ListenHost = "127.0.0.1";
  // 0: any free port (the program prints the one it got).
  int ListenPort = 8080;
  // The data folder; empty: DefaultDataFolder().
  std::string DataFolder;
  // A PostgreSQL URL (--database): the store, shared with other instances;
  // empty: SQLite in the data folder.
  std::string Database;
  // Employees of a newly created database.
  int SeedEmployees = 300;
  bool SeedEmployeesGiven = false;
  // Idle time after which a session expires, in milliseconds.
  long long SessionTimeoutMs = 20LL * 60 * 1000;
  std::size_t MaxSessions = 10000;
  // Requests without credentials are accepted (as the anonymous user).
  bool Anonymous = false;
  // Worker threads (the remote methods and the database) and I/O threads
  // (every connection, asynchronously).
  int Threads = 32;
  int IoThreads = 2;
  // The bounds of the HTTP front (--max-body, --max-memory,
  // --max-connections, --max-connections-per-client set theirs).
  TFrontLimits Limits;
  // PEM files of the certificate (with its chain) and the private key: the
  // server speaks https when given.
  std::string TlsCertFile;
  std::string TlsKeyFile;
  // Host names clients may reach the server by, besides IP addresses and
  // "localhost" (--allow-host, repeatable).
  std::vector<std::string> AllowedHosts;
  // The keytab whose keys let clients in with Negotiate (Kerberos); empty:
  // Basic only. The service principal to accept with; empty: HTTP/<the
  // host a request names> from the keytab.
  std::string KerberosKeytab;
  std::string KerberosPrincipal;
  std::size_t MaxInflatedUploadBytes = std::size_t{512} << 20;
  std::size_t CacheCommandsPerSession = 64;
  std::size_t CacheBytes = std::size_t{256} << 20;
  bool Help = false;
};

// `qvr-server user add|passwd|remove|list ...`: a change to the users who
// may call, or their list (UserCommand.h).
struct TUserCommand {
  enum class TAction { Add, Passwd, Remove, List };
  TAction Action = TAction::List;
  std::string UserName;
  // The user's name as shown (user add); the UID unless given.
  std::string Nombre;
  bool NombreGiven = false;
  // The file whose one line is the new password; empty: standard input.
  std::string PasswordFile;
  // The data folder; empty: DefaultDataFolder().
  std::string DataFolder;
  // A PostgreSQL URL (--database) instead of the data folder's database.
  std::string Database;
  bool Help = false;
};

// AArgs are the arguments after the program name. Options take their value
// as the next argument or after "=" (--listen=127.0.0.1:9000).
TServerOptions ParseServerOptions(const std::vector<std::string>& AArgs);
// Whether AArgs (after the program name) are a user command: the first is
// "user".
bool IsUserCommand(const std::vector<std::string>& AArgs);
// AArgs are the arguments after "user": the command, the user name and
// options in any order. There is no option for a password; a message never
// quotes a surplus argument or an unknown option's value, which may be one.
TUserCommand ParseUserCommand(const std::vector<std::string>& AArgs);
std::string ServerUsage();
// Raises EServerOptionsError unless AURL is a PostgreSQL URL
// (postgresql://... or postgres://...) without a password: the command line
// shows in the process list to every user of the machine, so the password
// goes in a password file (~/.pgpass, PGPASSFILE or passfile=...).
void CheckDatabaseUrl(const std::string& AURL);
// qvr-server/ under the user's data home ($XDG_DATA_HOME when set and
// absolute, else ~/.local/share).
std::string DefaultDataFolder();

}  // namespace qvr::server
