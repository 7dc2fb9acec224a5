// qvr-server under bad and heavy input: malformed requests answered with
// their statuses and an "error" text, concurrent clients, and shutdown by
// signal with the database intact and kept for the next start.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <atomic>
#include <thread>

#include "rest/RestExceptions.h"
#include "rest/json/JSONText.h"
#include "server/ServerCalls.h"
#include "support/ServerProcess.h"

namespace qvr::test {
namespace {

struct TRawCase {
  const char* Note;
  std::string Method;
  std::string Target;
  std::string Body;
  httplib::Headers Headers;
  int Status;
};

httplib::Headers Credentials() { return {{"Authorization", "Basic a2lvc2NvOg=="}}; }  // kiosco:

TEST(ServerRobustnessTest, BadRequestsAreAnsweredWithTheirStatus) {
  TServerProcess server({"--max-body", "64K"});
  httplib::Headers many = Credentials();
  for (int i = 0; i < 80; ++i) many.emplace("X-Extra-" + std::to_string(i), "1");
  httplib::Headers big = Credentials();
  for (int i = 0; i < 4; ++i) big.emplace("X-Big-" + std::to_string(i), std::string(5000, 'b'));
  const std::string rest = "/rpc/rest/TQVRServerMethods/";
  const TRawCase kCases[] = {
      {"body not JSON", "POST", rest + "%22ActualizarEmpleado%22/", "{\"Codigo\":", Credentials(),
       400},
      {"body of NUL bytes", "POST", rest + "%22ActualizarEmpleado%22/", std::string(10, '\0'),
       Credentials(), 400},
      {"nesting beyond the parser's depth", "POST", rest + "%22ActualizarEmpleado%22/",
       std::string(5000, '[') + std::string(5000, ']'), Credentials(), 400},
      {"body too large", "POST", rest + "%22SubirAsistencia%22/f/", std::string(70000, ' '),
       Credentials(), 413},
      {"URI too long", "GET", rest + "EchoString/" + std::string(5000, 'a') + "/", "",
       Credentials(), 414},
      {"too many headers", "GET", rest + "EchoString/a/", "", many, 431},
      {"headers too large", "GET", rest + "EchoString/a/", "", big, 431},
      {"DELETE of a remote call", "DELETE", rest + "EchoString/a/", "", Credentials(), 405},
      {"PATCH", "PATCH", rest + "EchoString/a/", "", Credentials(), 405},
      {"outside the served area", "GET", "/index.html", "", Credentials(), 404},
      {"bad percent escapes", "GET", rest + "EchoString/%zz%4/", "", Credentials(), 200},
      {"invalid UTF-8 in a segment", "GET", rest + "EchoString/%FF%FE/", "", Credentials(), 200},
      {"no credentials", "GET", rest + "EchoString/a/", "", {}, 401},
      {"other authentication",
       "GET",
       rest + "EchoString/a/",
       "",
       {{"Authorization", "Bearer abc"}},
       401},
      {"cache area: unknown item", "GET", "/rpc/cache/5/0", "", Credentials(), 404},
      {"cache area: POST", "POST", "/rpc/cache/5", "", Credentials(), 405},
  };
  httplib::Client client("127.0.0.1", server.Port());
  for (const auto& c : kCases) {
    httplib::Request request;
    request.method = c.Method;
    request.path = c.Target;
    request.headers = c.Headers;
    request.body = c.Body;
    if (!c.Body.empty()) request.headers.emplace("Content-Type", "text/plain;charset=UTF-8");
    const auto result = client.send(request);
    ASSERT_TRUE(result) << c.Note << ": " << httplib::to_string(result.error());
    EXPECT_EQ(result->status, c.Status) << c.Note << ": " << result->body;
    const auto body = rest::ParseJSON(result->body);
    ASSERT_TRUE(body && body->AsObject()) << c.Note << ": " << result->body;
    if (c.Status != 200) {
      EXPECT_NE(body->AsObject()->GetValue("error"), nullptr) << c.Note << ": " << result->body;
    }
  }
  // Still serving after all of them.
  TServerClient after(server.Port());
  EXPECT_EQ(StringOf(after.Result(calls::EchoString("ok")).get()), "ok");
}

TEST(ServerRobustnessTest, ConcurrentClientsAreServedAndEveryRecordIsStored) {
  TServerProcess server;
  constexpr int kClients = 8, kRounds = 25, kRows = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      TServerClient client(server.Port());
      for (int r = 0; r < kRounds; ++r) {
        try {
          const std::string text = "c" + std::to_string(t) + "r" + std::to_string(r);
          if (StringOf(client.Result(calls::EchoString(text)).get()) != text) ++failures;
          const int first = 1 + (t * kRounds + r) * kRows;
          const auto list = AttendanceList(1, kRows, first);
          if (client.Result(calls::SubirAsistencia("t.dat", MarshalList(*list)))->Kind() !=
              rest::TJSONValue::TKind::True)
            ++failures;
          client.Result(calls::ListaPersonalParcial());
          client.Result(calls::ActualizarEmpleado("{\"Codigo\":" + std::to_string(1001 + t) +
                                                  ",\"Tarjeta\":\"" + text + "\"}"));
        } catch (const std::exception& AError) {
          ADD_FAILURE() << AError.what();
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  ASSERT_EQ(server.Stop(), 0);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(server.DatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*), count(DISTINCT codigo) FROM asistencia", -1, &query,
                     nullptr);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(query, 0), kClients * kRounds * kRows);
  EXPECT_EQ(sqlite3_column_int(query, 1), kClients * kRounds * kRows);
  sqlite3_finalize(query);
  sqlite3_close(db);
}

TEST(ServerRobustnessTest, ASignalStopsTheServerWithTheDatabaseIntact) {
  TTempDir folder;
  const std::string data = folder.File("data");
  for (int signal : {SIGTERM, SIGINT}) {
    TServerProcess server({}, data);
    TServerClient client(server.Port());
    // Uploads in flight while the signal arrives.
    std::atomic<bool> stop{false};
    std::atomic<int> stored{0};
    std::thread uploader([&] {
      TServerClient uploading(server.Port());
      for (int i = 0; i < 200 && !stop; ++i) {
        try {
          const auto list = AttendanceList(1, 50, 1);
          uploading.Result(calls::SubirAsistencia("s.dat", MarshalList(*list)));
          ++stored;
        } catch (const std::exception&) {
          break;  // the server went away
        }
      }
    });
    for (int i = 0; i < 2000 && stored < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(stored.load(), 3);
    EXPECT_EQ(server.Stop(signal), 0) << server.Log();
    stop = true;
    uploader.join();
    EXPECT_NE(server.Log().find("stopped"), std::string::npos);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((data + "/qvr-server.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &query, nullptr);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)), "ok");
  sqlite3_finalize(query);
  // Whole uploads only: 50 rows each.
  sqlite3_prepare_v2(db, "SELECT count(*) % 50 FROM asistencia", -1, &query, nullptr);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(query, 0), 0);
  sqlite3_finalize(query);
  sqlite3_close(db);
}

TEST(ServerRobustnessTest, TheDataStaysForTheNextStart) {
  TTempDir folder;
  const std::string data = folder.File("data");
  {
    TServerProcess server({"--seed-employees", "20"}, data);
    TServerClient client(server.Port());
    ASSERT_EQ(client.Result(calls::ActualizarEmpleado(R"({"Codigo":1005,"Nombre":"Zoe"})"))->Kind(),
              rest::TJSONValue::TKind::True);
  }
  TServerProcess again({"--seed-employees", "50"}, data);
  TServerClient client(again.Port());
  const auto info = client.Result(calls::InfoEmpleado(1005));
  EXPECT_EQ(StringOf(info->AsObject()->GetValue("Nombre")), "Zoe");
  EXPECT_EQ(client.Result(calls::ExisteEmpleado(1021))->Kind(), rest::TJSONValue::TKind::False);
  EXPECT_NE(again.Log().find("applies to a new database"), std::string::npos);
}

TEST(ServerRobustnessTest, EveryRequestIsLogged) {
  TServerProcess server;
  TServerClient client(server.Port());
  client.Result(calls::EchoString("log me"));
  try {
    client.Result(calls::ExisteEmpleado(-1));
    client.Call({"GET", "TQVRServerMethods/ExisteEmpleado/x/", ""});
  } catch (const rest::TRestProtocolException&) {
  }
  server.Stop();
  const std::string log = server.Log();
  EXPECT_NE(log.find(" GET /rpc/rest/TQVRServerMethods/EchoString/log%20me/ 200 "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" GET /rpc/rest/TQVRServerMethods/ExisteEmpleado/x/ 400 "), std::string::npos)
      << log;
  EXPECT_NE(log.find(" ms\n"), std::string::npos) << log;
}

TEST(ServerRobustnessTest, BadOptionsEndTheProgramWithTheUsage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--listen", "nowhere"},
                                               {"--seed-employees", "200001"},
                                               {"--session-timeout", "0"},
                                               {"--bogus"}}) {
    EXPECT_THROW(TServerProcess server(args), std::runtime_error) << args[0];
  }
}

}  // namespace
}  // namespace qvr::test
