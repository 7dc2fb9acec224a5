// Cached results against a stand-in server on 127.0.0.1: the URLs and verbs
// that value fetches, command fetches and deletes send for every form of item
// path and filter, what each kind of answer gives, who owns what a fetch
// returns, the faces of an item and their one reference count, and the
// session id around cache-mode executions and cache requests.
#include "rest/RestCachedItem.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "data/DataSetSamples.h"
#include "rest/RestCacheCommand.h"
#include "rest/RestCommand.h"
#include "rest/json/JSONText.h"
#include "rest/uClientClasses.h"
#include "support/StandInServer.h"

namespace qvr::rest {
namespace {

using test::ErrorAnswer;
using test::JsonAnswer;
using test::ResultAnswer;
using test::TStandInServer;

class CachedItemTest : public ::testing::Test {
 protected:
  CachedItemTest() {
    Conn.SetHost("127.0.0.1");
    Conn.SetPort(Server.Port());
    Conn.SetLoginPrompt(false);
    Server.SetDefaultAnswer(JsonAnswer(200, "{\"result\":{\"ok\":1}}"));
  }
  std::string LastTarget() const { return Server.LastRequest().Target; }

  // Declared first so that it outlives the connection's open socket.
  TStandInServer Server;
  TRestConnection Conn;
};

// A marshalled dataset list with one small table, as a cache answer.
std::string DataSetListResult() {
  TDataSetList list;
  list.AddDataSet("Relojes", test::MakeMixedTable(3));
  return "{\"result\":" + WriteJSON(*TJSONConverters::GetJSONMarshaler()->Marshal(&list)) + "}";
}

TEST(RestCacheCommand, TheCommandPathIsEverythingBeforeTheLastSlash) {
  struct TCase {
    const char* ItemPath;
    const char* CommandPath;
  };
  const TCase kCases[] = {{"a/b/c", "a/b"}, {"a/b/", "a/b"}, {"abc", ""}, {"/abc", ""},
                          {"", ""},         {"//", "/"},     {"a/", "a"}, {"/a/b", "/a"}};
  TRestConnection connection;
  for (const TCase& k : kCases) {
    TRestCacheCommand command(connection);
    command.SetParameterPath(k.ItemPath);
    EXPECT_EQ(command.CommandPath(), k.CommandPath) << k.ItemPath;
  }
}

TEST_F(CachedItemTest, RequestsForEveryFormOfPathAndFilter) {
  struct TCase {
    const char* ItemPath;
    const char* Filter;
    const char* Value;    // target of the value fetch
    const char* Command;  // target of the command fetch and delete; nullptr: refused
  };
  const TCase kCases[] = {
      {"a/b/c", "", "/rpc/cache/a/b/c", "/rpc/cache/a/b"},
      {"a/b/c", "x=1", "/rpc/cache/a/b/c/?x=1", "/rpc/cache/a/b"},
      {"a/b/c", "?x=1", "/rpc/cache/a/b/c/?x=1", "/rpc/cache/a/b"},
      {"a/b/", "x=1", "/rpc/cache/a/b/?x=1", "/rpc/cache/a/b"},
      {"abc", "", "/rpc/cache/abc", nullptr},
      {"/abc", "", "/rpc/cache//abc", nullptr},
  };
  for (const TCase& k : kCases) {
    SCOPED_TRACE(std::string(k.ItemPath) + " " + k.Filter);
    auto item = std::make_shared<TRestCachedJSONObject>(k.ItemPath);
    Server.ClearRequests();
    EXPECT_TRUE(item->GetValue(Conn, false, k.Filter));
    EXPECT_EQ(LastTarget(), k.Value);
    EXPECT_EQ(Server.LastRequest().Method, "GET");
    EXPECT_EQ(Server.LastRequest().Header("Accept"), "application/JSON");
    if (k.Command == nullptr) {
      for (int which = 0; which < 2; ++which) {
        try {
          if (which == 0) {
            item->GetCommand(Conn, true);
          } else {
            item->DeleteCommand(Conn);
          }
          FAIL() << "no exception";
        } catch (const TRestException& e) {
          EXPECT_EQ(e.Message(), "Missing command path");
        }
      }
      EXPECT_EQ(Server.RequestCount(), 1u) << "nothing more was sent";
      continue;
    }
    EXPECT_TRUE(item->GetCommand(Conn, false));
    EXPECT_EQ(LastTarget(), k.Command);
    EXPECT_EQ(Server.LastRequest().Method, "GET");
    item->DeleteCommand(Conn);
    EXPECT_EQ(LastTarget(), k.Command);
    EXPECT_EQ(Server.LastRequest().Method, "DELETE");
  }
}

TEST_F(CachedItemTest, AnEmptyItemPathIsRefusedBeforeAnyRequest) {
  auto json = std::make_shared<TRestCachedJSONObject>("");
  auto list = std::make_shared<TRestCachedDataSetList>("");
  for (int which = 0; which < 2; ++which) {
    try {
      if (which == 0) {
        json->GetValue(Conn, true);
      } else {
        list->GetValue(Conn, true);
      }
      FAIL() << "no exception";
    } catch (const TRestException& e) {
      EXPECT_EQ(e.Message(), "Missing parameter path");
    }
  }
  EXPECT_EQ(Server.RequestCount(), 0u);
}

TEST_F(CachedItemTest, AnswersThatGiveNoValue) {
  auto item = std::make_shared<TRestCachedJSONObject>("s/1/0");
  for (const char* body : {"no JSON", "", "{\"other\":{}}", "[{\"result\":{}}]",
                           "{\"result\":[1,2]}", "{\"result\":\"texto\"}", "{\"result\":null}"}) {
    Server.Enqueue(JsonAnswer(200, body));
    EXPECT_FALSE(item->GetValue(Conn, true)) << body;
    Server.Enqueue(JsonAnswer(200, body));
    EXPECT_FALSE(item->GetCommand(Conn, true)) << body;
  }
  EXPECT_EQ(item->OwnedCount(), 0u) << "a value of the wrong kind goes at once";
}

TEST_F(CachedItemTest, WhoOwnsWhatAFetchReturns) {
  auto item = std::make_shared<TRestCachedJSONObject>("s/1/0");
  TMaybeOwned<TJSONObject> first = item->GetValue(Conn, true);
  TMaybeOwned<TJSONObject> second = item->GetValue(Conn, true);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get()) << "every fetch is a new request";
  EXPECT_FALSE(first.IsOwned());
  EXPECT_EQ(item->OwnedCount(), 2u);
  TMaybeOwned<TJSONObject> mine = item->GetValue(Conn, false);
  EXPECT_TRUE(mine.IsOwned());
  TMaybeOwned<TJSONObject> command = item->GetCommand(Conn, true);
  EXPECT_FALSE(command.IsOwned());
  EXPECT_EQ(item->OwnedCount(), 3u);
  EXPECT_TRUE(item->GetCommand(Conn, false).IsOwned());
  EXPECT_EQ(first->ToJSON(), "{\"ok\":1}");
  // The raw cache command hands everything to its caller.
  TRestCacheCommand raw(Conn);
  raw.SetParameterPath("s/1/0");
  EXPECT_NE(raw.GetParameter(), nullptr);
  EXPECT_NE(raw.GetCommand(true), nullptr);
}

TEST_F(CachedItemTest, ADataSetListItemKeepsTheJSONItRead) {
  auto item = std::make_shared<TRestCachedDataSetList>("s/2/0");
  Server.SetDefaultAnswer(JsonAnswer(200, DataSetListResult()));
  TMaybeOwned<TDataSetList> kept = item->GetValue(Conn, true);
  ASSERT_TRUE(kept);
  EXPECT_FALSE(kept.IsOwned());
  EXPECT_EQ(kept->Names(), std::vector<std::string>{"Relojes"});
  EXPECT_EQ(kept->DataSet(0).RecordCount(), 3);
  EXPECT_EQ(item->OwnedCount(), 2u) << "the list and the JSON it came from";
  TMaybeOwned<TDataSetList> mine = item->GetValue(Conn, false);
  EXPECT_TRUE(mine.IsOwned());
  EXPECT_EQ(item->OwnedCount(), 3u) << "the JSON stays with the item";

  Server.SetDefaultAnswer(JsonAnswer(200, "{\"result\":[1,2]}"));
  try {
    item->GetValue(Conn, true);
    FAIL() << "no exception";
  } catch (const EConversionError& e) {
    EXPECT_EQ(e.Message(), "The input value is not a valid Object");
  }
  EXPECT_EQ(item->OwnedCount(), 4u) << "the array stays until the item goes";

  Server.SetDefaultAnswer(JsonAnswer(200, "{\"other\":1}"));
  EXPECT_FALSE(item->GetValue(Conn, true));
  Server.SetDefaultAnswer(
      JsonAnswer(200, R"({"result":{"type":"System.JSON.TJSONObject","id":1,"fields":{}}})"));
  EXPECT_THROW(item->GetValue(Conn, true), EInvalidCast);
}

TEST_F(CachedItemTest, FacesShareOneCountAndTheLastReferenceSendsNothing) {
  std::shared_ptr<IRestCachedJSONObject> json = std::make_shared<TRestCachedJSONObject>("s/3/0");
  EXPECT_EQ(json.use_count(), 1);
  std::shared_ptr<IRestCachedCommand> command = Supports<IRestCachedCommand>(json);
  std::shared_ptr<IRestCachedItem> item = Supports<IRestCachedItem>(command);
  ASSERT_TRUE(command && item);
  EXPECT_EQ(json.use_count(), 3);
  EXPECT_EQ(item->ItemPath(), "s/3/0");
  EXPECT_EQ(Supports<IRestCachedJSONObject>(item), json);
  EXPECT_EQ(json->QueryInterface(TGUID::Parse("{00000000-0000-0000-0000-000000000001}")), nullptr);

  std::shared_ptr<IRestCachedDataSetList> list = std::make_shared<TRestCachedDataSetList>("s/4/0");
  EXPECT_EQ(Supports<IRestCachedJSONObject>(list), nullptr);
  ASSERT_NE(Supports<IRestCachedItem>(list), nullptr);
  EXPECT_EQ(Supports<IRestCachedItem>(list)->ItemPath(), "s/4/0");
  EXPECT_NE(Supports<IRestCachedCommand>(list), nullptr);

  (void)json->GetValue(Conn, true);
  const std::size_t sent = Server.RequestCount();
  json.reset();
  command.reset();
  item.reset();
  list.reset();
  EXPECT_EQ(Server.RequestCount(), sent);
}

TEST_F(CachedItemTest, ReferencesDroppedOnOtherThreads) {
  std::shared_ptr<IRestCachedJSONObject> item = std::make_shared<TRestCachedJSONObject>("s/5/0");
  (void)item->GetValue(Conn, true);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([copy = item]() mutable {
      for (int j = 0; j < 1000; ++j) {
        std::shared_ptr<IRestCachedCommand> face = Supports<IRestCachedCommand>(copy);
        face.reset();
      }
      copy.reset();
    });
  }
  item.reset();  // the last reference goes on whichever thread ends last
  for (std::thread& thread : threads) thread.join();
}

TEST_F(CachedItemTest, ARefusedCacheRequestKeepsTheSession) {
  Conn.SetSessionID("S1");
  auto item = std::make_shared<TRestCachedJSONObject>("s/6/0");
  Server.Enqueue(ErrorAnswer(404, "no existe"));
  try {
    item->GetValue(Conn, true);
    FAIL() << "no exception";
  } catch (const TRestProtocolException& e) {
    EXPECT_EQ(e.Status(), 404);
    EXPECT_NE(e.Message().find("no existe"), std::string::npos);
  }
  EXPECT_EQ(Conn.SessionID(), "S1");
  EXPECT_EQ(item->OwnedCount(), 0u);
  Server.Enqueue(ErrorAnswer(410, "borrado"));
  EXPECT_THROW(item->DeleteCommand(Conn), TRestProtocolException);
  EXPECT_EQ(Conn.SessionID(), "S1");
}

TEST_F(CachedItemTest, CacheRequestsRunOutsideTheExecutionFrame) {
  int before = 0, after = 0;
  Conn.SetOnBeforeExecute([&](TObject*) { ++before; });
  Conn.SetOnAfterExecute([&](TObject*) { ++after; });
  Conn.SetLoginPrompt(true);
  Conn.SetOnLogin([](TObject*, TRestLoginProperties&, bool& ACancel) { ACancel = true; });
  auto item = std::make_shared<TRestCachedJSONObject>("s/7/0");
  EXPECT_TRUE(item->GetValue(Conn, true));
  EXPECT_EQ(before + after, 0);
}

TEST_F(CachedItemTest, ACacheModeExecutionAndItsFetchesShareTheSession) {
  Conn.SetPreserveSessionID(false);
  Conn.SetSessionID("OLD");
  TRestCommand command(Conn);
  command.SetRequestType("GET");
  command.SetText("TQVRServerMethods.Opciones");
  const TRestParameterMetaData table[] = {
      {"", TParameterDirections::Return, TValueTypes::WideString, "String"}};
  command.Prepare(table);
  Server.Enqueue(ResultAnswer("\"S9/0/0\"").WithSessionID("S9"));
  command.ExecuteCache();
  const auto executed = Server.LastRequest();
  EXPECT_FALSE(executed.HasHeader("Pragma")) << "cleared before the execution";
  EXPECT_EQ(executed.Header("Accept"), "application/rest");
  EXPECT_EQ(executed.Target, "/rpc/rest/TQVRServerMethods/Opciones/");
  const std::string path = command.Parameters()->GetParameterByOrdinal(0).Value().GetWideString();
  EXPECT_EQ(path, "S9/0/0");

  auto item = std::make_shared<TRestCachedJSONObject>(path);
  EXPECT_TRUE(item->GetValue(Conn, true));
  EXPECT_EQ(Server.LastRequest().Header("Pragma"), "sessionid=S9")
      << "a value fetch does not clear the session";
  EXPECT_EQ(LastTarget(), "/rpc/cache/S9/0/0");
}

TEST_F(CachedItemTest, ItemPathsFromTheServerNeverLeaveTheCacheBase) {
  const std::string longPath(20000, 'a');
  const std::vector<std::string> paths = {
      "..",        "../../../../x", "///",     "\xC3\xB1/\xE2\x82\xAC", longPath + "/b",
      "a b/c",     "@otro:1/x",     "a?b#c/d", "a\r\nHost: otro/x",     "%2e%2e/x",
      "\\\\otro/x"};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path.substr(0, 40));
    auto item = std::make_shared<TRestCachedJSONObject>(path);
    Server.ClearRequests();
    try {
      (void)item->GetValue(Conn, true);
      (void)item->GetCommand(Conn, true);
    } catch (const Exception&) {
      // Refused by the HTTP layer or a missing command path: a clear error.
    }
    for (const auto& request : Server.Requests()) {
      EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(Server.Port()));
      EXPECT_EQ(request.HeaderCount("Host"), 1u);
    }
  }
}

}  // namespace
}  // namespace qvr::rest
