// The platform's regular-expression object (class id "VBScript.RegExp"):
// properties Pattern, IgnoreCase, Global and MultiLine, methods Test and
// Replace. Backed by PCRE2 in UTF-8 mode; "." matches any character but a line
// break (CR or LF). Matching runs in time linear in the text for patterns whose
// every match must contain a known character (such as the tag pattern
// "<(.[^>]*)>"): no match is attempted from a position after its last
// occurrence, and matching gives up with a failure past a fixed work limit
// rather than running without end.
#ifndef OAPX1_PLATFORM_SCRIPT_REGEXP_H_
#define OAPX1_PLATFORM_SCRIPT_REGEXP_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/script/variant.h"

namespace oapx1 {

class RegExp : public Object {
 public:
  RegExp();
  ~RegExp() override;

  // The expression, in the platform's syntax (ECMAScript-like: \uXXXX and \xXX
  // escapes, $1..$99 in replacements).
  void Pattern(std::string_view pattern);
  const std::string& Pattern() const { return pattern_; }
  // Letters match regardless of case.
  void IgnoreCase(bool on);
  bool IgnoreCase() const { return ignore_case_; }
  // Replace acts on every match instead of the first only.
  void Global(bool on) { global_ = on; }
  bool Global() const { return global_; }
  // "^" and "$" match at line breaks too.
  void MultiLine(bool on);
  bool MultiLine() const { return multiline_; }

  // True when the pattern matches somewhere in `subject`. Fails with 5017 for a
  // pattern that does not compile, 28 when matching exceeds the work limit.
  bool Test(std::string_view subject);
  // `subject` with the first match (every match when Global) replaced by
  // `replacement`, in which $$ is "$", $& the match, $` the text before it, $'
  // the text after it and $n / $nn the n-th group ("" when it took no part);
  // matches are found left to right without overlapping, and after an empty
  // match the search goes on one character further. Invalid UTF-8 bytes are
  // kept as they are and never match. Fails as Test does; the subject is then
  // left to the caller unchanged.
  std::string Replace(std::string_view subject, std::string_view replacement);

 private:
  struct Compiled;
  class Matcher;
  // The compiled pattern for the current properties, compiling on first use.
  Compiled& compiled();

  std::string pattern_;                 // the expression text
  bool ignore_case_ = false;            // IgnoreCase
  bool global_ = false;                 // Global
  bool multiline_ = false;              // MultiLine
  std::unique_ptr<Compiled> compiled_;  // null until used or after a property change
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_SCRIPT_REGEXP_H_
