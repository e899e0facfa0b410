// The options of the oapx1 commands: a command declares the flags it takes,
// and one parser reads its arguments into their values and the words that are
// no option, refusing what it does not know with the errors every command
// gives alike. Every command takes --db URL, --config FILE, --help and
// --version.
#ifndef OAPX1_CLI_OPTIONS_H_
#define OAPX1_CLI_OPTIONS_H_

#include <initializer_list>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// A command-line usage error: a message for stderr and exit status 2,
// followed by the hint to the usage when `show_usage` (a flag or word the
// command does not take, a value it cannot read); a fault of what the
// command line names, such as a configuration file that cannot be read,
// has no such hint.
struct UsageError {
  std::string message;
  bool show_usage = true;
};

// One flag a command takes.
struct Flag {
  // Throws UsageError when `value`, given to `flag`, is not one the flag takes.
  using Check = void (*)(std::string_view flag, const std::string& value);

  std::string_view name;    // as typed, "--demo"
  std::string_view value;   // its value's name in the usage ("URL"); empty for a flag without one
  bool repeatable = false;  // every value given is kept; otherwise the last one given counts
  std::string_view help;    // what it does; each "\n" starts a line continued under the first
  Check check = nullptr;    // run on each value as it is read, when set
};

// Which of a command's arguments that are not its flags are words.
enum class Words {
  kNone,             // none: every such argument is an unknown option
  kNotDashed,        // those not beginning with "-"; the others are unknown options
  kNotDoubleDashed,  // those not beginning with "--", so "-1" is one; the others are unknown options
};

// Throws std::runtime_error, naming the file and `oapx1 db init`, when `url`
// is a SQLite database whose file does not exist; `configured` is the URL as
// the command line or configuration gave it (empty for the default).
void refuse_missing_database(const std::string& url, const std::string& configured);

// The flags every command takes: --db URL, --config FILE, --help and --version.
std::span<const Flag> common_flags();

// The usage lines of `flags`, in order: the flag and its value's name from
// column 3, its help from column 26 (two spaces after a longer flag), each
// continued line of the help indented to column 26.
std::string flag_lines(std::span<const Flag> flags);

// True when `args` hold --help or -h anywhere: the command then prints its
// usage and exits 0, whatever else is there.
bool asks_for_help(std::span<const std::string> args);

// True when `args` hold --version anywhere (and no --help): the command then
// prints the program's version and exits 0.
bool asks_for_version(std::span<const std::string> args);

// The arguments of one command, read against the common flags and its own.
class CommandLine {
 public:
  // Reads `args` in order against the common flags and `flags` (one list of
  // the command's own, or several): a flag that takes a value takes the
  // argument after it, whatever that is, and has it checked at once. Throws,
  // at the first fault: UsageError "unknown option X" for an argument that is
  // neither a flag nor a word (as `words` says), "X needs a value" for a flag
  // with a value that ends the arguments, and what a flag's check throws.
  CommandLine(std::span<const std::string> args, std::initializer_list<std::span<const Flag>> flags,
              Words words);

  // True when the flag `name` was given.
  bool has(std::string_view name) const;
  // The value of the flag `name` (the last one given); "" when not given.
  const std::string& value(std::string_view name) const;
  // Every value of the flag `name`, in the order given; empty when not given.
  const std::vector<std::string>& values(std::string_view name) const;
  // The words, in order.
  const std::vector<std::string>& words() const { return words_; }

  // The database --db and --config name: --db when given and not empty, else
  // the db setting of the serve configuration file --config (read only then),
  // else "" (resolve_database then takes $OAPX1_DB or the default). Throws
  // UsageError, saying why, for a configuration file that cannot be read or
  // holds a bad line.
  std::string database() const;

  // The database the command works on, resolved (resolve_database of
  // database()). Throws std::runtime_error naming the file and the command
  // that creates it when it is a SQLite file that does not exist: only
  // `db init` creates a database.
  std::string existing_database() const;

 private:
  std::map<std::string, std::vector<std::string>, std::less<>> given_;  // values by flag; "" for a flag without
  std::vector<std::string> words_;                                     // the words, in order
};

}  // namespace oapx1

#endif  // OAPX1_CLI_OPTIONS_H_
