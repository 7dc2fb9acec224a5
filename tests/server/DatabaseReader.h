// Read access to qvr-server's database beside the running server (WAL lets a
// reader in while it runs), so that tests can read back what an upload or a
// change stored.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace qvr::test {

class TDatabaseReader {
 public:
  explicit TDatabaseReader(const std::string& APath) {
    EXPECT_EQ(sqlite3_open_v2(APath.c_str(), &FDb, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(FDb, 5000);
  }
  ~TDatabaseReader() { sqlite3_close(FDb); }
  TDatabaseReader(const TDatabaseReader&) = delete;
  TDatabaseReader& operator=(const TDatabaseReader&) = delete;
  // Every row of ASql, its cells joined by "|".
  std::vector<std::string> Rows(const std::string& ASql) {
    std::vector<std::string> rows;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(FDb, ASql.c_str(), -1, &statement, nullptr), SQLITE_OK) << ASql;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (i > 0) row += "|";
        const auto* text = sqlite3_column_text(statement, i);
        row += text == nullptr ? "NULL" : reinterpret_cast<const char*>(text);
      }
      rows.push_back(row);
    }
    sqlite3_finalize(statement);
    return rows;
  }
  std::string One(const std::string& ASql) {
    const auto rows = Rows(ASql);
    return rows.empty() ? "" : rows[0];
  }

 private:
  sqlite3* FDb = nullptr;
};

}  // namespace qvr::test
