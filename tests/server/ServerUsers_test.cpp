// The users who may call qvr-server: `qvr-server user add|passwd|remove|list`
// run as an administrator would, on the data folder of a stopped and of a
// running server; what the users table then holds (hashes, never the
// passwords); a running server following every change at its next request;
// and a database of an earlier version, with passwords kept as text, hashed
// on its first start.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "rest/RestExceptions.h"
#include "server/DatabaseReader.h"
#include "server/ServerCalls.h"
#include "support/ProgramRun.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace qvr::test {
namespace {

// `qvr-server user AArgs... --data AFolder` with AInput on standard input.
TProgramResult User(const std::string& AFolder, std::vector<std::string> AArgs,
                    const std::string& AInput = {}) {
  AArgs.insert(AArgs.begin(), "user");
  AArgs.insert(AArgs.end(), {"--data", AFolder});
  TProgramOptions options;
  options.Input = AInput;
  return RunProgram(TServerProcess::ExecutablePath(), AArgs, options);
}

// The status of a call to the running server with these credentials.
// A call that reads the data (ExisteEmpleado), as AUserName with APassword:
// its status.
int CallAs(const TServerProcess& AServer, const std::string& AUserName,
           const std::string& APassword,
           const TMethodRequest& ARequest = calls::ExisteEmpleado(1001)) {
  TServerClient client(AServer.Port(), AUserName);
  client.Connection().SetPassword(APassword);
  try {
    client.Call(ARequest);
    return 200;
  } catch (const rest::TRestProtocolException& AError) {
    return AError.Status();
  }
}

// Changes the database as someone with sqlite3 would.
void ExecSql(const std::string& APath, const std::string& ASql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(APath.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, ASql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error != nullptr ? error : "") << ": " << ASql;
  sqlite3_free(error);
  sqlite3_close(db);
}

bool Contains(const std::string& AText, const std::string& APart) {
  return AText.find(APart) != std::string::npos;
}

// One administrator's session on a server's data folder, step by step: what
// each command prints and its exit status (as the usage text and
// docs/server.md give them). The server has stopped, as before an upgrade.
TEST(ServerUsersTest, UserCommandsManageTheTableStepByStep) {
  TTempDir files;
  const std::string twoLines = files.File("two-lines");
  WriteFileBytes(twoLines, "clave\nmas\n");
  const std::string windowsLine = files.File("windows-line");
  WriteFileBytes(windowsLine, "de ventanas\r\n");
  const std::string noLineEnd = files.File("no-line-end");
  WriteFileBytes(noLineEnd, "sin fin de línea");

  TServerProcess server;
  ASSERT_EQ(server.Stop(), 0);
  const std::string folder = server.DataFolder();
  const struct {
    std::vector<std::string> Args;
    std::string Input;
    int Status;
    std::string Out;  // all of standard output
    std::string Err;  // a part of standard error; empty: none at all
  } kSteps[] = {
      {{"list"},
       "",
       0,
       "caja1\tCaja 1\tempty password\nkiosco\tKiosco de fichaje\tempty password\n",
       ""},
      {{"add", "ana", "--nombre", "Ana García"}, "secreto\n", 0, "Added the user ana\n", ""},
      {{"add", "ana"}, "otra\n", 1, "", "The user ana exists already"},
      {{"add", "vacio"}, "", 0, "Added the user vacio\n", "vacio has an empty password"},
      {{"add", "luis", "--password-file", windowsLine}, "", 0, "Added the user luis\n", ""},
      {{"add", "eva", "--password-file", noLineEnd}, "", 0, "Added the user eva\n", ""},
      {{"add", "pepe", "--password-file", twoLines}, "", 1, "", "holds more than one line"},
      {{"add", "pepe", "--password-file", files.File("none")},
       "",
       1,
       "",
       "Cannot open the password file"},
      {{"add", "pepe"}, std::string(2000, 'x'), 1, "", "at most 1024 bytes"},
      {{"add", "pepe"}, std::string(1025, 'x') + "\n", 1, "", "at most 1024 bytes"},
      {{"add", "pe:pe"}, "x\n", 1, "", "A user name is UTF-8 text without"},
      {{"add", " pepe"}, "x\n", 1, "", "A user name is UTF-8 text without"},
      {{"add", std::string(65, 'p')}, "x\n", 1, "", "at most 64 bytes"},
      {{"add", ""}, "x\n", 1, "", "A user name cannot be empty"},
      {{"add", "pepe", "--nombre", "Pe\tpe"}, "x\n", 1, "", "without control characters"},
      {{"passwd", "nadie"}, "x\n", 1, "", "There is no user nadie"},
      {{"remove", "nadie"}, "", 1, "", "There is no user nadie"},
      {{"passwd", "kiosco"}, "kiosco1\n", 0, "Changed the password of kiosco\n", ""},
      {{"remove", "caja1"}, "", 0, "Removed the user caja1\n", ""},
      {{"list"},
       "",
       0,
       "ana\tAna García\tpassword\neva\teva\tpassword\nkiosco\tKiosco de fichaje\tpassword\n"
       "luis\tluis\tpassword\nvacio\tvacio\tempty password\n",
       ""},
      {{"list", "ana"}, "", 2, "", "user list takes no user name"},
      {{"add"}, "", 2, "", "user add needs a user name"},
      {{"rename", "ana"}, "", 2, "", "Unknown user command 'rename'"},
      {{"remove", "ana", "--nombre", "x"}, "", 2, "", "--nombre belongs to user add"},
      {{"list", "--password-file", twoLines}, "", 2, "", "--password-file belongs to"},
  };
  for (const auto& step : kSteps) {
    std::string what;
    for (const auto& arg : step.Args) what += arg + " ";
    const TProgramResult result = User(folder, step.Args, step.Input);
    EXPECT_EQ(result.Status, step.Status) << what << result.Err;
    EXPECT_EQ(result.Out, step.Out) << what;
    if (step.Err.empty()) {
      EXPECT_EQ(result.Err, "") << what;
    } else {
      EXPECT_TRUE(Contains(result.Err, step.Err)) << what << result.Err;
    }
  }

  // Every password is a salted Argon2id hash, the text nowhere in it.
  TDatabaseReader db(server.DatabasePath());
  const auto rows = db.Rows("SELECT uid, clave FROM usuarios ORDER BY uid");
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& row : rows) {
    EXPECT_TRUE(Contains(row, "|$argon2id$v=19$m=65536,t=2,p=1$")) << row;
    for (const char* password : {"secreto", "de ventanas", "kiosco1", "sin fin"}) {
      EXPECT_FALSE(Contains(row, password)) << row;
    }
  }
  EXPECT_EQ(db.One("SELECT nombre FROM usuarios WHERE uid = 'ana'"), "Ana García");

  // The passwords as the server takes them: the line without its line end.
  TServerProcess restarted({}, folder);
  const struct {
    const char* UserName;
    const char* Password;
    int Status;
  } kLogins[] = {
      {"ana", "secreto", 200},
      {"ana", "secreto\n", 401},
      {"ana", "", 401},
      {"luis", "de ventanas", 200},
      {"luis", "de ventanas\r", 401},
      {"eva", "sin fin de línea", 200},
      {"vacio", "", 200},
      {"vacio", " ", 401},
      {"kiosco", "kiosco1", 200},
      {"kiosco", "", 401},
      {"caja1", "", 401},
  };
  for (const auto& login : kLogins) {
    EXPECT_EQ(CallAs(restarted, login.UserName, login.Password), login.Status)
        << login.UserName << ":" << login.Password;
  }
}

// Each change made beside the running server holds from its next request
// that reads the data, although the server keeps a verified password for a
// while: a changed password and a removed user stop working at once.
TEST(ServerUsersTest, ARunningServerFollowsEveryChangeAtItsNextRequest) {
  TServerProcess server;
  const std::string folder = server.DataFolder();
  ASSERT_EQ(User(folder, {"add", "ana"}, "secreto\n").Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "secreto"), 200);
  EXPECT_EQ(CallAs(server, "ana", "secreto"), 200);  // now from the cache
  EXPECT_EQ(CallAs(server, "ana", "otra"), 401);

  ASSERT_EQ(User(folder, {"passwd", "ana"}, "otra\n").Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "secreto"), 401);
  EXPECT_EQ(CallAs(server, "ana", "otra"), 200);

  // The same password again makes a new hash (a new salt): still accepted.
  ASSERT_EQ(User(folder, {"passwd", "ana"}, "otra\n").Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "otra"), 200);

  ASSERT_EQ(User(folder, {"remove", "ana"}).Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "otra"), 401);
  ASSERT_EQ(User(folder, {"add", "ana"}, "tercera\n").Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "otra"), 401);
  EXPECT_EQ(CallAs(server, "ana", "tercera"), 200);
  EXPECT_EQ(server.Stop(), 0);
}

// The quick methods, which read nothing of the data (the connection test,
// the echoes), are answered from memory for a password verified a moment
// ago: a removed user may still reach them for at most a second.
TEST(ServerUsersTest, QuickCallsFollowAChangeWithinASecond) {
  TServerProcess server;
  const std::string folder = server.DataFolder();
  ASSERT_EQ(User(folder, {"add", "ana"}, "secreto\n").Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "secreto", calls::GetPlatformName()), 200);
  ASSERT_EQ(User(folder, {"remove", "ana"}).Status, 0);
  EXPECT_EQ(CallAs(server, "ana", "secreto"), 401);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(CallAs(server, "ana", "secreto", calls::GetPlatformName()), 401);
  EXPECT_EQ(CallAs(server, "ana", "secreto", calls::EchoString("x")), 401);
}

// No argument carries a password, so none shows in the process list: every
// way of trying to give one is refused as a bad command line, without the
// password in the message, and changes nothing.
TEST(ServerUsersTest, NoArgumentCarriesAPassword) {
  TServerProcess server;
  const std::vector<std::string> kAttempts[] = {
      {"add", "ana", "--password", "secreto"},
      {"add", "ana", "--password=secreto"},
      {"add", "ana", "-p", "secreto"},
      {"add", "ana", "secreto"},
      {"add", "ana", "--nombre", "Ana", "secreto"},
      {"passwd", "kiosco", "secreto"},
      {"passwd", "kiosco", "--clave=secreto"},
  };
  for (const auto& attempt : kAttempts) {
    const TProgramResult result = User(server.DataFolder(), attempt, "x\n");
    EXPECT_EQ(result.Status, 2) << attempt.back();
    EXPECT_FALSE(Contains(result.Err, "secreto")) << result.Err;
    EXPECT_TRUE(Contains(result.Err, "never from the command line")) << result.Err;
  }
  EXPECT_EQ(CallAs(server, "kiosco", ""), 200);
  EXPECT_EQ(CallAs(server, "ana", "secreto"), 401);

  // The usage names --password-file as the only way in besides standard
  // input.
  const TProgramResult help =
      RunProgram(TServerProcess::ExecutablePath(), {"user", "--help"}, TProgramOptions{});
  EXPECT_EQ(help.Status, 0);
  EXPECT_TRUE(Contains(help.Out, "--password-file FILE")) << help.Out;
  EXPECT_FALSE(Contains(help.Out, "--password ")) << help.Out;
}

// A database of the earlier version kept passwords as text (schema 1). Its
// first start under this version hashes them all in one transaction and
// records schema 2; rows added by hand later are hashed at the next start.
TEST(ServerUsersTest, PasswordsKeptAsTextAreHashedAtTheFirstStart) {
  TServerProcess first;
  const std::string folder = first.DataFolder();
  const std::string path = first.DatabasePath();
  ASSERT_EQ(first.Stop(), 0);
  ExecSql(path,
          "UPDATE esquema SET version = 1;"
          "UPDATE usuarios SET clave = 'secreto' WHERE uid = 'caja1';"
          "UPDATE usuarios SET clave = '' WHERE uid = 'kiosco';"
          "INSERT INTO usuarios VALUES ('manual', 'a mano', 'Añadido a mano');");
  {
    TServerProcess upgraded({}, folder);
    TDatabaseReader db(path);
    EXPECT_EQ(db.One("SELECT version FROM esquema"), "2");
    EXPECT_EQ(db.One("SELECT count(*) FROM usuarios WHERE clave LIKE '$argon2id$%'"), "3");
    const std::string hash = db.One("SELECT clave FROM usuarios WHERE uid = 'caja1'");
    const struct {
      std::string UserName;
      std::string Password;
      int Status;
    } kLogins[] = {
        {"caja1", "secreto", 200}, {"caja1", "", 401},   {"caja1", hash, 401},
        {"kiosco", "", 200},       {"kiosco", "x", 401}, {"manual", "a mano", 200},
    };
    for (const auto& login : kLogins) {
      EXPECT_EQ(CallAs(upgraded, login.UserName, login.Password), login.Status)
          << login.UserName << ":" << login.Password;
    }
    EXPECT_EQ(upgraded.Stop(), 0);
    EXPECT_TRUE(Contains(upgraded.Log(), "hashed 3 password(s) kept as text")) << upgraded.Log();
  }

  // Schema 2 with a row added by hand with sqlite3: refused while it is
  // text, hashed at the next start.
  ExecSql(path, "INSERT INTO usuarios VALUES ('tarde', 'luego', 'Tarde');");
  {
    TServerProcess next({}, folder);
    EXPECT_EQ(CallAs(next, "tarde", "luego"), 200);
    EXPECT_EQ(CallAs(next, "caja1", "secreto"), 200);
    EXPECT_EQ(next.Stop(), 0);
    EXPECT_TRUE(Contains(next.Log(), "hashed 1 password(s) kept as text")) << next.Log();
  }

  // A schema from a later version is left alone.
  ExecSql(path, "UPDATE esquema SET version = 3;");
  EXPECT_THROW(TServerProcess({}, folder), std::runtime_error);
  const TProgramResult list = User(folder, {"list"});
  EXPECT_EQ(list.Status, 1);
  EXPECT_TRUE(Contains(list.Err, "has a schema this server does not know")) << list.Err;
}

// The commands work on an existing database only, as the user who owns it:
// SQLite adds files beside it that the server must be able to open.
TEST(ServerUsersTest, UserCommandsNeedTheDatabaseAndItsOwner) {
  TTempDir empty;
  const TProgramResult missing = User(empty.Path(), {"list"});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_TRUE(Contains(missing.Err, "There is no database in " + empty.Path())) << missing.Err;
  EXPECT_FALSE(PathExists(empty.File("qvr-server.db")));

  if (!RunningAsRoot()) GTEST_SKIP() << "only root can give the database to another user";
  TServerProcess server;
  ASSERT_EQ(server.Stop(), 0);
  ASSERT_EQ(::chown(server.DatabasePath().c_str(), 65534, 65534), 0);
  const TProgramResult foreign = User(server.DataFolder(), {"add", "ana"}, "x\n");
  EXPECT_EQ(foreign.Status, 1);
  EXPECT_TRUE(Contains(foreign.Err, "belongs to the user")) << foreign.Err;
  EXPECT_TRUE(Contains(foreign.Err, "run the command as that user")) << foreign.Err;
}

}  // namespace
}  // namespace qvr::test
