#include "support/test_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace oapx1::testing {

std::string read_source_file(std::string_view relative_path) {
  const std::string path = std::string(OAPX1_SOURCE_DIR) + "/" + std::string(relative_path);
  std::ifstream in(path, std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TestDb::TestDb(bool schema) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "oapx1-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) ADD_FAILURE() << "mkdtemp failed";
  dir_ = tmpl;
  path_ = dir_ + "/oa.db";
  if (schema) exec_file("db/sqlite/schema.sql");
}

TestDb::~TestDb() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void TestDb::exec(std::string_view sql) const {
  sqlite3* db = nullptr;
  if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path_;
    sqlite3_close(db);
    return;
  }
  // Tests need no durability: skipping the syncs makes loading the schema fast.
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  char* error = nullptr;
  if (sqlite3_exec(db, std::string(sql).c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    ADD_FAILURE() << "SQL failed: " << (error ? error : "?") << "\n" << sql;
    sqlite3_free(error);
  }
  sqlite3_close(db);
}

void TestDb::exec_file(std::string_view relative_path) const { exec(read_source_file(relative_path)); }

std::string TestDb::scalar(std::string_view sql) const {
  sqlite3* db = nullptr;
  std::string result;
  sqlite3_open(path_.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, std::string(sql).c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "SQL failed: " << sqlite3_errmsg(db) << "\n" << sql;
  } else if (sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    result = text ? reinterpret_cast<const char*>(text) : "NULL";
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return result;
}

}  // namespace oapx1::testing
