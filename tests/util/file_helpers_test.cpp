#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

namespace fs = std::filesystem;

class FileHelpersTest : public PageFixture<> {
 protected:
  FileHelpersTest() {
    std::string pattern = (fs::temp_directory_path() / "oapx1_files_XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~FileHelpersTest() override {
    // Read-only entries are made writable again so the folder can go.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }

  // A path inside the temporary folder, as the page would pass it.
  Variant path(const std::string& relative) const { return Variant((root_ / relative).string()); }
  void write(const std::string& relative, const std::string& content) const {
    std::ofstream(root_ / relative, std::ios::binary) << content;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(root_ / relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool exists(const std::string& relative) const { return fs::exists(root_ / relative); }
  void make_read_only(const std::string& relative) const {
    fs::permissions(root_ / relative,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }

  fs::path root_;  // the test's own temporary folder
};

TEST_F(FileHelpersTest, deletefile_removes_a_file_and_ignores_a_missing_one) {
  write("a.txt", "a");
  Variant file = path("a.txt");
  page->deletefile(file);
  EXPECT_FALSE(exists("a.txt"));
  page->deletefile(file);
  Variant folder = path("");
  fs::create_directory(root_ / "sub");
  Variant subfolder = path("sub");
  page->deletefile(subfolder);  // a folder is no file
  EXPECT_TRUE(exists("sub"));
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(output(), "");
}

TEST_F(FileHelpersTest, deletefile_of_a_read_only_file_is_refused_and_reported) {
  write("locked.txt", "x");
  make_read_only("locked.txt");
  Variant file = path("locked.txt");
  page->deletefile(file);
  EXPECT_TRUE(exists("locked.txt"));
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].second,
            " 70Permission denied LINE #0 Routine : tvwortqflowjiedia.deletefile");
  EXPECT_EQ(output(), " Error Permission denied LINE0 Routine : tvwortqflowjiedia.deletefile");
}

TEST_F(FileHelpersTest, copyfile_replaces_an_existing_destination) {
  write("new.txt", "new");
  write("old.txt", "old");
  Variant source = path("new.txt"), destination = path("old.txt");
  page->copyfile(source, destination);
  EXPECT_EQ(read("old.txt"), "new");

  fs::create_directory(root_ / "into");
  Variant folder = Variant((root_ / "into").string() + "/");
  page->copyfile(source, folder);
  EXPECT_EQ(read("into/new.txt"), "new");

  Variant missing = path("missing.txt"), target = path("target.txt");
  page->copyfile(missing, target);
  EXPECT_FALSE(exists("target.txt"));
  EXPECT_TRUE(events().empty());
}

TEST_F(FileHelpersTest, copyfile_into_a_missing_folder_reports_path_not_found) {
  write("a.txt", "a");
  Variant source = path("a.txt"), destination = path("nowhere/a.txt");
  page->copyfile(source, destination);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].second, " 76Path not found LINE #0 Routine : tvwortqflowjiedia.copyfile");
}

TEST_F(FileHelpersTest, deletefolder_removes_everything_read_only_entries_too) {
  fs::create_directories(root_ / "tree/inner");
  write("tree/a.txt", "a");
  write("tree/inner/b.txt", "b");
  make_read_only("tree/a.txt");
  make_read_only("tree/inner/b.txt");
  make_read_only("tree/inner");
  Variant folder = path("tree");
  page->deletefolder(folder);
  EXPECT_FALSE(exists("tree"));
  page->deletefolder(folder);  // gone already: nothing happens
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(output(), "");
}

TEST_F(FileHelpersTest, deletefolder_of_a_link_removes_the_link_and_touches_nothing_behind_it) {
  fs::create_directories(root_ / "outside");
  write("outside/keep.txt", "k");
  make_read_only("outside/keep.txt");
  make_read_only("outside");
  fs::create_directory_symlink(root_ / "outside", root_ / "link");
  Variant folder = path("link");
  page->deletefolder(folder);
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "link")));
  EXPECT_EQ(read("outside/keep.txt"), "k");
  const fs::perms perms = fs::status(root_ / "outside/keep.txt").permissions();
  EXPECT_EQ(perms & fs::perms::owner_write, fs::perms::none);  // still read-only
  EXPECT_TRUE(events().empty());
}

TEST_F(FileHelpersTest, createfolder_creates_the_last_level_only) {
  Variant folder = path("new");
  page->createfolder(folder);
  EXPECT_TRUE(fs::is_directory(root_ / "new"));
  page->createfolder(folder);  // exists already: nothing happens
  EXPECT_TRUE(events().empty());

  Variant deep = path("missing/deeper");
  page->createfolder(deep);
  EXPECT_FALSE(exists("missing"));
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].first, kEventError);
  EXPECT_EQ(events()[0].second,
            " 76Path not found LINE #0 Routine : tvwortqflowjiedia.createfolder");
  EXPECT_EQ(output(), " Error Path not found LINE0 Routine : tvwortqflowjiedia.createfolder");
}

TEST_F(FileHelpersTest, folder_queries_count_and_list_files_only) {
  fs::create_directories(root_ / "docs/sub");
  fs::create_directories(root_ / "only_folders/x");
  fs::create_directories(root_ / "empty");
  write("docs/b.txt", "b");
  write("docs/a.txt", "a");
  write("docs/sub/c.txt", "c");
  write("file.txt", "f");
  struct Case {
    const char* folder;
    const char* exists;
    const char* count;
    const char* list;
  } cases[] = {
      {"docs", "bool:True", "number:2", "text:a.txt*b.txt"},
      {"docs/sub", "bool:True", "number:1", "text:c.txt"},
      {"only_folders", "bool:True", "number:0", "text:"},
      {"empty", "bool:True", "number:0", "text:"},
      {"missing", "bool:False", "number:0", "text:"},
      {"file.txt", "bool:False", "number:0", "text:"},
  };
  for (const Case& c : cases) {
    Variant folder = path(c.folder);
    EXPECT_EQ(describe(page->folderisexist(folder)), c.exists) << c.folder;
    EXPECT_EQ(describe(page->getfolderfilescount(folder)), c.count) << c.folder;
    EXPECT_EQ(describe(page->getfolderfileslist(folder)), c.list) << c.folder;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(FileHelpersTest, a_null_path_is_reported_and_queries_return_empty) {
  Variant null = Variant::null();
  EXPECT_EQ(describe(page->folderisexist(null)), "empty");
  EXPECT_EQ(describe(page->getfolderfileslist(null)), "empty");
  EXPECT_EQ(events().size(), 2u);
}

}  // namespace
}  // namespace oapx1::testing
