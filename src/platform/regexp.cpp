#include "platform/regexp.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace oapx1 {
namespace {

// Work limits of one match attempt: far above what any page text needs, low
// enough that a runaway pattern ends in a failure instead of a hung request.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kDepthLimit = 100'000;
constexpr PCRE2_SIZE kJitStackMax = 1 << 20;

[[noreturn]] void work_limit() {
  throw ScriptError(err::kRegExpWorkLimit, "Out of stack space");
}

// Length of the well-formed UTF-8 sequence at s[pos], or 0 when the bytes there
// are not one (overlong forms, surrogates and code points above U+10FFFF are
// not).
size_t utf8_sequence(std::string_view s, size_t pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 == 0xE0) {
    n = 3, lo = 0xA0;
  } else if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) {
    n = 3;
  } else if (b0 == 0xED) {
    n = 3, hi = 0x9F;
  } else if (b0 == 0xF0) {
    n = 4, lo = 0x90;
  } else if (b0 >= 0xF1 && b0 <= 0xF3) {
    n = 4;
  } else if (b0 == 0xF4) {
    n = 4, hi = 0x8F;
  } else {
    return 0;
  }
  if (pos + n > s.size()) return 0;
  const auto b1 = static_cast<unsigned char>(s[pos + 1]);
  if (b1 < lo || b1 > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((static_cast<unsigned char>(s[pos + k]) & 0xC0) != 0x80) return 0;
  return n;
}

// The maximal runs of well-formed UTF-8 in s, as [begin, end) byte ranges;
// the invalid bytes between them belong to no run. A text with no characters
// has one empty run, so an empty match can still be found in it.
std::vector<std::pair<size_t, size_t>> valid_runs(std::string_view s) {
  std::vector<std::pair<size_t, size_t>> runs;
  size_t begin = 0, pos = 0;
  while (pos < s.size()) {
    if (static_cast<unsigned char>(s[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const size_t n = utf8_sequence(s, pos);
    if (n > 0) {
      pos += n;
      continue;
    }
    if (pos > begin || runs.empty()) runs.emplace_back(begin, pos);
    ++pos;
    begin = pos;
  }
  if (pos > begin || runs.empty() || begin == s.size()) runs.emplace_back(begin, pos);
  return runs;
}

}  // namespace

struct RegExp::Compiled {
  pcre2_code* code = nullptr;
  pcre2_match_data* match_data = nullptr;
  pcre2_match_context* context = nullptr;
  pcre2_jit_stack* jit_stack = nullptr;
  bool jit = false;
  // A byte every match must hold after its first character, and whether its
  // other letter case must be looked for too; a match can then never begin
  // after the last occurrence of that byte.
  std::optional<unsigned char> required;
  bool required_other_case = false;

  ~Compiled() {
    if (jit_stack) pcre2_jit_stack_free(jit_stack);
    if (context) pcre2_match_context_free(context);
    if (match_data) pcre2_match_data_free(match_data);
    if (code) pcre2_code_free(code);
  }
};

// Finds the matches of one subject left to right, one valid UTF-8 run at a
// time, so invalid bytes are never handed to PCRE2 and never matched.
class RegExp::Matcher {
 public:
  Matcher(Compiled& c, std::string_view subject)
      : c_(c), subject_(subject), runs_(valid_runs(subject)) {}

  // The first match starting at or after byte `from`, as [begin, end).
  std::optional<std::pair<size_t, size_t>> find(size_t from) {
    for (; run_ < runs_.size(); ++run_, limit_known_ = false) {
      const auto [begin, end] = runs_[run_];
      if (from > end) continue;
      if (from < begin) from = begin;
      const std::optional<PCRE2_SIZE> limit = start_limit();
      if (!limit) continue;  // the required byte is missing: no match in this run
      if (*limit != PCRE2_UNSET && from - begin > *limit) continue;
      pcre2_set_offset_limit(c_.context, *limit);
      uint32_t options = PCRE2_NO_UTF_CHECK;
      if (run_ > 0) options |= PCRE2_NOTBOL;
      if (end != subject_.size()) options |= PCRE2_NOTEOL;
      const auto* text = reinterpret_cast<PCRE2_SPTR>(subject_.data() + begin);
      int rc = pcre2_match(c_.code, text, end - begin, from - begin, options, c_.match_data,
                           c_.context);
      if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
        rc = pcre2_match(c_.code, text, end - begin, from - begin, options | PCRE2_NO_JIT,
                         c_.match_data, c_.context);
      }
      if (rc == PCRE2_ERROR_NOMATCH) continue;
      if (rc < 0) work_limit();
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c_.match_data);
      size_t match_begin = begin + ov[0];
      const size_t match_end = begin + ov[1];
      if (match_begin > match_end) match_begin = match_end;  // \K inside a lookahead
      return std::make_pair(match_begin, match_end);
    }
    return std::nullopt;
  }

  // Byte offset of group n of the last match, or nullopt when it took no part.
  std::optional<std::pair<size_t, size_t>> group(uint32_t n) const {
    if (n >= pcre2_get_ovector_count(c_.match_data)) return std::nullopt;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c_.match_data);
    if (ov[2 * n] == PCRE2_UNSET || ov[2 * n] > ov[2 * n + 1]) return std::nullopt;
    const size_t begin = runs_[run_].first;
    return std::make_pair(begin + ov[2 * n], begin + ov[2 * n + 1]);
  }

  // The byte after the character at pos (one byte for an invalid one).
  size_t next_char(size_t pos) const {
    if (pos >= subject_.size()) return pos + 1;
    const size_t n = utf8_sequence(subject_, pos);
    return pos + (n ? n : 1);
  }

 private:
  // The last offset in the current run, relative to the run, at which a match
  // may begin: PCRE2_UNSET when any may, nullopt when none can.
  std::optional<PCRE2_SIZE> start_limit() {
    if (limit_known_) return limit_;
    limit_known_ = true;
    limit_ = PCRE2_UNSET;
    if (c_.required) {
      const auto [begin, end] = runs_[run_];
      std::optional<size_t> last;
      for (size_t p = end; p > begin; --p) {
        const auto b = static_cast<unsigned char>(subject_[p - 1]);
        if (b == *c_.required || (c_.required_other_case && (b ^ 0x20) == *c_.required)) {
          last = p - 1 - begin;
          break;
        }
      }
      limit_ = last ? std::optional<PCRE2_SIZE>(*last) : std::nullopt;
    }
    return limit_;
  }

  Compiled& c_;
  std::string_view subject_;
  std::vector<std::pair<size_t, size_t>> runs_;  // well-formed runs of the subject
  size_t run_ = 0;                               // the run being searched
  bool limit_known_ = false;                     // limit_ holds the current run's limit
  std::optional<PCRE2_SIZE> limit_;              // see start_limit()
};

RegExp::RegExp() = default;
RegExp::~RegExp() = default;

void RegExp::set_Pattern(std::string_view pattern) {
  pattern_ = std::string(pattern);
  compiled_.reset();
}

void RegExp::set_IgnoreCase(bool on) {
  ignore_case_ = on;
  compiled_.reset();
}

void RegExp::set_MultiLine(bool on) {
  multiline_ = on;
  compiled_.reset();
}

RegExp::Compiled& RegExp::compiled() {
  if (compiled_) return *compiled_;
  auto c = std::make_unique<Compiled>();
  pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
  if (!cc) throw std::bad_alloc();
  // Both CR and LF end a line: "." matches neither, as on the platform.
  pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
  uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX;
  if (ignore_case_) options |= PCRE2_CASELESS;
  if (multiline_) options |= PCRE2_MULTILINE;
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  c->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(),
                          options | PCRE2_USE_OFFSET_LIMIT, &error, &error_offset, cc);
  pcre2_compile_context_free(cc);
  if (!c->code) {
    PCRE2_UCHAR buffer[256];
    pcre2_get_error_message(error, buffer, sizeof buffer);
    throw ScriptError(err::kRegExpSyntax, std::string("Syntax error in regular expression: ") +
                                              reinterpret_cast<const char*>(buffer));
  }
  c->jit = pcre2_jit_compile(c->code, PCRE2_JIT_COMPLETE) == 0;
  c->match_data = pcre2_match_data_create_from_pattern(c->code, nullptr);
  c->context = pcre2_match_context_create(nullptr);
  if (!c->match_data || !c->context) throw std::bad_alloc();
  pcre2_set_match_limit(c->context, kMatchLimit);
  pcre2_set_depth_limit(c->context, kDepthLimit);
  if (c->jit) {
    c->jit_stack = pcre2_jit_stack_create(32 * 1024, kJitStackMax, nullptr);
    if (c->jit_stack) pcre2_jit_stack_assign(c->context, nullptr, c->jit_stack);
  }
  uint32_t last_type = 0, last_unit = 0;
  pcre2_pattern_info(c->code, PCRE2_INFO_LASTCODETYPE, &last_type);
  pcre2_pattern_info(c->code, PCRE2_INFO_LASTCODEUNIT, &last_unit);
  if (last_type == 1 && last_unit < 0x100) {
    const unsigned char u = static_cast<unsigned char>(last_unit);
    const bool letter = (u | 0x20) >= 'a' && (u | 0x20) <= 'z';
    // Without case, any byte will do. With it, ASCII letters are looked for in
    // both cases; other letters may have case partners outside ASCII, so they
    // are not relied on.
    if (!ignore_case_) {
      c->required = u;
    } else if (u < 0x80 && letter && u != 'k' && u != 'K' && u != 's' && u != 'S') {
      c->required = u;
      c->required_other_case = true;
    } else if (u < 0x80 && !letter) {
      c->required = u;
    }
  }
  compiled_ = std::move(c);
  return *compiled_;
}

bool RegExp::Test(std::string_view subject) {
  Matcher m(compiled(), subject);
  return m.find(0).has_value();
}

std::string RegExp::Replace(std::string_view subject, std::string_view replacement) {
  Compiled& c = compiled();
  Matcher m(c, subject);
  std::string out;
  size_t copied = 0;  // subject bytes up to here are in `out`
  size_t from = 0;
  while (from <= subject.size()) {
    const auto match = m.find(from);
    if (!match) break;
    const auto [begin, end] = *match;
    out.append(subject.substr(copied, begin - copied));
    // Expand the replacement's $ forms.
    for (size_t k = 0; k < replacement.size(); ++k) {
      const char ch = replacement[k];
      if (ch != '$' || k + 1 == replacement.size()) {
        out += ch;
        continue;
      }
      const char next = replacement[k + 1];
      if (next == '$') {
        out += '$';
        ++k;
      } else if (next == '&') {
        out.append(subject.substr(begin, end - begin));
        ++k;
      } else if (next == '`') {
        out.append(subject.substr(0, begin));
        ++k;
      } else if (next == '\'') {
        out.append(subject.substr(end));
        ++k;
      } else if (next >= '0' && next <= '9') {
        const uint32_t groups = pcre2_get_ovector_count(c.match_data);
        uint32_t n = static_cast<uint32_t>(next - '0');
        size_t used = 1;
        if (k + 2 < replacement.size() && replacement[k + 2] >= '0' && replacement[k + 2] <= '9') {
          const uint32_t two = n * 10 + static_cast<uint32_t>(replacement[k + 2] - '0');
          if (two > 0 && two < groups) n = two, used = 2;
        }
        if (n == 0 || n >= groups) {
          out += ch;  // not a group of this pattern: kept literally
          continue;
        }
        if (const auto g = m.group(n)) out.append(subject.substr(g->first, g->second - g->first));
        k += used;
      } else {
        out += ch;
      }
    }
    copied = end;
    if (!global_) break;
    from = end > begin ? end : m.next_char(end);
  }
  if (copied < subject.size()) out.append(subject.substr(copied));
  return out;
}

}  // namespace oapx1
