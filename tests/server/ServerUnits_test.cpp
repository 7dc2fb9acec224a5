// Units of the server that the tests against the running program reach only
// partly: the handlers of the remote methods, the command line, the cache
// area's bounds, the sessions' expiry, password hashes and the cache of
// verified passwords.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "server/CacheArea.h"
#include "server/PasswordHash.h"
#include "server/ServerErrors.h"
#include "server/ServerMethods.h"
#include "server/ServerOptions.h"
#include "server/Sessions.h"
#include "server/VerifiedPasswords.h"

namespace qvr::server {
namespace {

// A method added to the remote interface needs its handler here too.
TEST(ServerMethodsTableTest, EveryMethodOfTheInterfaceHasItsHandler) {
  for (const rest::TRemoteMethod* method : rest::RemoteMethods()) {
    EXPECT_TRUE(TQVRServerMethods::Answers(*method)) << method->QualifiedName();
  }
}

TEST(ServerOptionsTest, OptionsAndTheirDefaults) {
  const auto defaults = ParseServerOptions({});
  EXPECT_EQ(defaults.ListenHost, "127.0.0.1");
  EXPECT_EQ(defaults.ListenPort, 8080);
  EXPECT_FALSE(defaults.Anonymous);
  EXPECT_EQ(defaults.SeedEmployees, 300);

  const auto options = ParseServerOptions(
      {"--listen", "0.0.0.0:9000", "--data=/tmp/x", "--seed-employees", "200000", "--anonymous",
       "--session-timeout", "1.5", "--max-body", "2M", "--cache-size=1G", "--threads", "4"});
  EXPECT_EQ(options.ListenHost, "0.0.0.0");
  EXPECT_EQ(options.ListenPort, 9000);
  EXPECT_EQ(options.DataFolder, "/tmp/x");
  EXPECT_EQ(options.SeedEmployees, 200000);
  EXPECT_TRUE(options.SeedEmployeesGiven);
  EXPECT_TRUE(options.Anonymous);
  EXPECT_EQ(options.SessionTimeoutMs, 1500);
  EXPECT_EQ(options.Limits.MaxBodyBytes, std::size_t{2} << 20);
  EXPECT_EQ(options.CacheBytes, std::size_t{1} << 30);
  EXPECT_EQ(options.Threads, 4);
  EXPECT_EQ(ParseServerOptions({"--listen", ":0"}).ListenHost, "127.0.0.1");
  EXPECT_EQ(ParseServerOptions({"--listen", "[::1]:80"}).ListenHost, "::1");
}

TEST(ServerOptionsTest, BadOptionsNameTheOption) {
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } kCases[] = {
      {{"--listen", "8080"}, "--listen needs ADDRESS:PORT"},
      {{"--listen", "a:65536"}, "--listen must be between 0 and 65535"},
      {{"--listen", "a:-1"}, "--listen needs a whole number"},
      {{"--seed-employees", "200001"}, "--seed-employees must be between 0 and 200000"},
      {{"--session-timeout", "-3"}, "--session-timeout needs a positive number"},
      {{"--session-timeout", "nan"}, "--session-timeout needs a positive number"},
      {{"--max-body", "0"}, "--max-body must be between"},
      {{"--threads"}, "--threads needs a value"},
      {{"--anonymous=yes"}, "--anonymous takes no value"},
      {{"--port", "1"}, "Unknown option '--port'"},
  };
  for (const auto& c : kCases) {
    try {
      ParseServerOptions(c.Args);
      ADD_FAILURE() << c.Args[0] << " was accepted";
    } catch (const EServerOptionsError& AError) {
      EXPECT_NE(AError.Message().find(c.Message), std::string::npos) << AError.Message();
    }
  }
}

TEST(ServerOptionsTest, UserCommandsAndTheirOptions) {
  using TAction = TUserCommand::TAction;
  EXPECT_TRUE(IsUserCommand({"user", "list"}));
  EXPECT_FALSE(IsUserCommand({"--data", "user"}));
  EXPECT_FALSE(IsUserCommand({}));

  const auto add = ParseUserCommand(
      {"add", "--data=/srv/qvr", "ana", "--nombre", "Ana García", "--password-file", "/run/k"});
  EXPECT_EQ(add.Action, TAction::Add);
  EXPECT_EQ(add.UserName, "ana");
  EXPECT_EQ(add.Nombre, "Ana García");
  EXPECT_TRUE(add.NombreGiven);
  EXPECT_EQ(add.PasswordFile, "/run/k");
  EXPECT_EQ(add.DataFolder, "/srv/qvr");
  const auto passwd = ParseUserCommand({"passwd", "kiosco"});
  EXPECT_EQ(passwd.Action, TAction::Passwd);
  EXPECT_EQ(passwd.PasswordFile, "");  // standard input
  EXPECT_FALSE(passwd.NombreGiven);
  EXPECT_EQ(ParseUserCommand({"remove", "ana"}).Action, TAction::Remove);
  EXPECT_EQ(ParseUserCommand({"list"}).Action, TAction::List);
  EXPECT_TRUE(ParseUserCommand({"--help"}).Help);
}

TEST(ServerOptionsTest, BadUserCommandsNameTheProblemButNoPassword) {
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } kCases[] = {
      {{}, "user needs a command"},
      {{"borrar", "ana"}, "Unknown user command 'borrar'"},
      {{"add"}, "user add needs a user name"},
      {{"list", "ana"}, "user list takes no user name"},
      {{"add", "ana", "secreto"}, "takes one user name; a password is read from"},
      {{"add", "ana", "--password=secreto"}, "Unknown option '--password' (a password is read"},
      {{"add", "ana", "--nombre"}, "--nombre needs a value"},
      {{"add", "ana", "--password-file="}, "--password-file needs a file"},
      {{"passwd", "ana", "--nombre", "A"}, "--nombre belongs to user add"},
      {{"remove", "ana", "--password-file", "f"}, "--password-file belongs to"},
      {{"list", "--data", ""}, "--data needs a folder"},
      {{"list", "--help=yes"}, "--help takes no value"},
  };
  for (const auto& c : kCases) {
    try {
      ParseUserCommand(c.Args);
      ADD_FAILURE() << c.Message << ": accepted";
    } catch (const EServerOptionsError& AError) {
      EXPECT_NE(AError.Message().find(c.Message), std::string::npos) << AError.Message();
      EXPECT_EQ(AError.Message().find("secreto"), std::string::npos) << AError.Message();
    }
  }
}

TEST(PasswordHashTest, SaltedArgon2idHashesVerifyOnlyTheirPassword) {
  const std::string hash = HashPassword("secreto");
  EXPECT_TRUE(hash.starts_with("$argon2id$v=19$m=65536,t=2,p=1$")) << hash;
  EXPECT_TRUE(IsPasswordHash(hash));
  EXPECT_NE(HashPassword("secreto"), hash);  // a salt of its own
  const std::string empty = HashPassword("");

  const struct {
    std::string Stored;
    std::string Password;
    bool Matches;
  } kCases[] = {
      {hash, "secreto", true},
      {hash, "Secreto", false},
      {hash, "secreto ", false},
      {hash, "", false},
      {empty, "", true},
      {empty, " ", false},
      // A password kept as text, or a damaged hash, never verifies.
      {"secreto", "secreto", false},
      {"", "", false},
      {hash.substr(0, hash.size() - 2), "secreto", false},
      {hash + std::string(200, 'x'), "secreto", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(PasswordMatches(c.Stored, c.Password), c.Matches) << c.Stored << " " << c.Password;
  }
  EXPECT_FALSE(IsPasswordHash("$argon2i$v=19$m=65536,t=2,p=1$x$y"));
}

TEST(VerifiedPasswordsTest, HitsOnlyTheSamePasswordAgainstTheSameStoredHash) {
  TVerifiedPasswords cache(std::chrono::seconds(60), 10);
  cache.Remember("ana", "secreto", "$argon2id$A");
  const struct {
    const char* UserName;
    const char* Password;
    const char* Stored;
    bool Hit;
  } kCases[] = {
      {"ana", "secreto", "$argon2id$A", true},    {"ana", "secret", "$argon2id$A", false},
      {"ana", "secreto\n", "$argon2id$A", false}, {"luis", "secreto", "$argon2id$A", false},
      {"ana", "secreto", "$argon2id$B", false},  // the password changed
      {"ana", "secreto", "$argon2id$A", false},  // and the entry went with it
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(cache.Holds(c.UserName, c.Password, c.Stored), c.Hit)
        << c.UserName << " " << c.Password << " " << c.Stored;
  }
}

TEST(VerifiedPasswordsTest, EntriesExpireAndTheirNumberIsBounded) {
  TVerifiedPasswords shortLived(std::chrono::milliseconds(200), 3);
  shortLived.Remember("ana", "1", "$argon2id$A");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(shortLived.Holds("ana", "1", "$argon2id$A"));
  EXPECT_EQ(shortLived.Size(), 0u);

  TVerifiedPasswords cache(std::chrono::seconds(60), 3);
  for (int i = 0; i < 20; ++i) {
    cache.Remember("user" + std::to_string(i), "x", "$argon2id$A");
    EXPECT_LE(cache.Size(), 3u);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // The newest stay.
  EXPECT_TRUE(cache.Holds("user19", "x", "$argon2id$A"));
  EXPECT_TRUE(cache.Holds("user17", "x", "$argon2id$A"));
  EXPECT_FALSE(cache.Holds("user16", "x", "$argon2id$A"));
}

TMethodAnswer AnswerOf(const std::string& AValue) { return MakeAnswerFromText(AValue); }

TEST(CacheAreaTest, BoundedPerSessionAndInTotal) {
  TMemoryCacheArea area(2, 100);
  const auto a1 = area.Store("A", "m", "[]", AnswerOf("\"1\""));
  const auto a2 = area.Store("A", "m", "[]", AnswerOf("\"2\""));
  const auto b1 = area.Store("B", "m", "[]", AnswerOf("\"3\""));
  const auto a3 = area.Store("A", "m", "[]", AnswerOf("\"4\""));
  EXPECT_FALSE(area.Value("A", a1[0]));  // the session's oldest went
  EXPECT_EQ(area.Value("A", a3[0])->Text, "\"4\"");
  EXPECT_EQ(area.Value("B", b1[0])->Text, "\"3\"");
  EXPECT_FALSE(area.Value("B", a2[0]));  // not B's

  // 60 bytes more push the oldest commands of any session out.
  const auto big = area.Store("B", "m", "[]", AnswerOf("\"" + std::string(80, 'x') + "\""));
  EXPECT_LE(area.Bytes(), 100u);
  EXPECT_TRUE(area.Value("B", big[0]));
  EXPECT_FALSE(area.Value("A", a2[0]));

  try {
    area.Store("A", "m", "[]", AnswerOf("\"" + std::string(200, 'x') + "\""));
    ADD_FAILURE() << "a value larger than the area was kept";
  } catch (const EHttpError& AError) {
    EXPECT_EQ(AError.Status(), 507);
  }
  area.DropSessions({"A", "B"});
  EXPECT_EQ(area.CommandCount(), 0u);
  EXPECT_EQ(area.Bytes(), 0u);
}

TEST(SessionStoreTest, IdleSessionsExpireAndTheirDataGoes) {
  std::vector<std::string> dropped;
  TMemorySessionStore store(std::chrono::milliseconds(100), 100,
                            [&](const std::vector<std::string>& AIds) {
                              dropped.insert(dropped.end(), AIds.begin(), AIds.end());
                            });
  const std::string kept = store.Create("kiosco");
  const std::string idle = store.Create("kiosco");
  EXPECT_NE(kept, idle);
  for (int i = 0; i < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_EQ(store.Touch(kept, "kiosco"), TSessionStore::TLookup::Found);
  }
  EXPECT_EQ(store.Touch(idle, "kiosco"), TSessionStore::TLookup::Unknown);
  EXPECT_EQ(dropped, std::vector<std::string>{idle});
  EXPECT_EQ(store.Touch(kept, "caja1"), TSessionStore::TLookup::OtherUser);
  EXPECT_EQ(store.Count(), 1u);
}

}  // namespace
}  // namespace qvr::server
