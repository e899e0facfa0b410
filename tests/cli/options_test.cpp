// The option parser every command reads its arguments with.
#include "cli/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace oapx1 {
namespace {

void check_digits(std::string_view flag, const std::string& value) {
  if (value.find_first_not_of("0123456789") != std::string::npos) throw UsageError{std::string(flag) + " takes digits"};
}

constexpr Flag kFlags[] = {
    {"--switch", "", false, "takes no value"},
    {"--one", "V", false, "the last value counts"},
    {"--many", "V", true, "every value counts"},
    {"--digits", "N", false, "checked as read", check_digits},
};

// What a command line reads as: its words, then each flag given with its
// values; or the error.
std::string read_as(const std::vector<std::string>& args, Words words) {
  try {
    const CommandLine line(args, {kFlags}, words);
    std::string out = "words:";
    for (const std::string& word : line.words()) out += " " + word;
    for (const char* name : {"--switch", "--one", "--many", "--digits", "--db", "--config", "--help"}) {
      if (!line.has(name)) continue;
      out += std::string(" ") + name + "=";
      for (const std::string& value : line.values(name)) out += (out.back() == '=' ? "" : ",") + value;
    }
    return out;
  } catch (const UsageError& e) {
    return "error: " + e.message;
  }
}

TEST(CommandLine, reads_flags_values_and_words_by_one_set_of_rules) {
  struct Case {
    std::vector<std::string> args;
    Words words;
    std::string expected;
  } cases[] = {
      {{}, Words::kNone, "words:"},
      {{"--switch", "--one", "a", "--one", "b"}, Words::kNone, "words: --switch= --one=b"},
      {{"--many", "a", "--many", "b"}, Words::kNone, "words: --many=a,b"},
      {{"--one", "--switch"}, Words::kNone, "words: --one=--switch"},  // a value is whatever follows
      {{"--db", "u", "--config", "f", "--help"}, Words::kNone, "words: --db=u --config=f --help="},
      {{"--one"}, Words::kNone, "error: --one needs a value"},
      {{"word"}, Words::kNone, "error: unknown option word"},
      {{"a", "--switch", "b"}, Words::kNotDashed, "words: a b --switch="},
      {{"-x"}, Words::kNotDashed, "error: unknown option -x"},
      {{"-1", "-x"}, Words::kNotDoubleDashed, "words: -1 -x"},
      {{"--frob", "--one"}, Words::kNotDoubleDashed, "error: unknown option --frob"},
      {{"--digits", "x", "--frob"}, Words::kNone, "error: --digits takes digits"},  // the first fault wins
      {{"--digits", "x", "--digits", "1"}, Words::kNone, "error: --digits takes digits"},  // each value is checked
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(read_as(c.args, c.words), c.expected) << shown;
  }
}

TEST(CommandLine, database_is_db_else_the_configuration_files_else_none) {
  const std::string conf = ::testing::TempDir() + "oapx1-options-" + std::to_string(getpid()) + ".conf";
  std::ofstream(conf) << "db = sqlite:from-file.db\n";
  const std::string missing = conf + ".missing";
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  } cases[] = {
      {{}, ""},
      {{"--db", "sqlite:a.db"}, "sqlite:a.db"},
      {{"--config", conf}, "sqlite:from-file.db"},
      {{"--config", conf, "--db", "sqlite:a.db"}, "sqlite:a.db"},
      {{"--db", "", "--config", conf}, "sqlite:from-file.db"},
      {{"--db", "sqlite:a.db", "--config", missing}, "sqlite:a.db"},  // the file is not read then
      {{"--config", missing}, "error: cannot read the configuration file " + missing + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string database;
    try {
      database = CommandLine(c.args, {}, Words::kNone).database();
    } catch (const UsageError& e) {
      database = "error: " + e.message;
    }
    EXPECT_EQ(database, c.expected) << c.args.size();
  }
  std::remove(conf.c_str());
}

TEST(FlagLines, puts_the_help_in_one_column_under_the_flags) {
  constexpr Flag flags[] = {
      {"--utf8", "", false, "write the body in UTF-8"},
      {"--now", "YYYY-MM-DDTHH:MM:SS", false, "the page clock"},
      {"--db", "URL", false, "database;\nsecond line"},
  };
  EXPECT_EQ(flag_lines(flags),
            "  --utf8                 write the body in UTF-8\n"
            "  --now YYYY-MM-DDTHH:MM:SS  the page clock\n"
            "  --db URL               database;\n"
            "                         second line\n");
}

}  // namespace
}  // namespace oapx1
