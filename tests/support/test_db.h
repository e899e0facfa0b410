// Temporary SQLite databases for tests, built from the shipped schema.
#ifndef OAPX1_TESTS_SUPPORT_TEST_DB_H_
#define OAPX1_TESTS_SUPPORT_TEST_DB_H_

#include <string>
#include <string_view>

namespace oapx1::testing {

// A fresh database file in a temporary folder, removed with the object.
class TestDb {
 public:
  // Creates the database; with `schema`, loads db/sqlite/schema.sql into it.
  explicit TestDb(bool schema = true);
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  // Runs SQL (one or more statements) directly on the file; fails the test on error.
  void exec(std::string_view sql) const;
  // Runs the SQL file at a path relative to the source tree.
  void exec_file(std::string_view relative_path) const;
  // The first column of the first row of a query as text ("NULL" for null,
  // "" when there is no row).
  std::string scalar(std::string_view sql) const;
  // The connection string our data layer opens it with: "sqlite:PATH".
  std::string url() const { return "sqlite:" + path_; }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;   // the temporary folder
  std::string path_;  // the database file inside it
};

// The contents of a file of the source tree.
std::string read_source_file(std::string_view relative_path);

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_TEST_DB_H_
