#include "platform/script/regexp.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace oapx1 {
namespace {

// Work limits of one match attempt: far above what any page text needs, low
// enough that a runaway pattern ends in a failure instead of a hung request.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kDepthLimit = 100'000;

[[noreturn]] void work_limit() { throw ScriptError(err::kRegExpWorkLimit, "Out of stack space"); }

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

// The end of the well-formed UTF-8 run that starts at pos.
size_t valid_run_end(std::string_view s, size_t pos) {
  while (pos < s.size()) {
    if (static_cast<unsigned char>(s[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const size_t n = utf8_sequence(s, pos);
    if (n == 0) break;
    pos += n;
  }
  return pos;
}

// A compiled pattern, shared by every object with the same pattern and
// options: PCRE2 code is read-only once built, so threads may match with it at
// once, each with its own match data.
struct Program {
  pcre2_code* code = nullptr;
  // A byte every match must hold after its first character, and whether its
  // other letter case must be looked for too; a match can then never begin
  // after the last occurrence of that byte.
  std::optional<unsigned char> required;
  bool required_other_case = false;

  ~Program() {
    if (code) pcre2_code_free(code);
  }
};

constexpr size_t kProgramCacheSize = 64;

std::shared_ptr<const Program> build_program(const std::string& pattern, uint32_t options,
                                             bool ignore_case) {
  auto p = std::make_shared<Program>();
  pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
  if (!cc) throw std::bad_alloc();
  // Both CR and LF end a line: "." matches neither, as on the platform.
  pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  p->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                          &error, &error_offset, cc);
  pcre2_compile_context_free(cc);
  if (!p->code) {
    PCRE2_UCHAR buffer[256];
    pcre2_get_error_message(error, buffer, sizeof buffer);
    throw ScriptError(err::kRegExpSyntax, std::string("Syntax error in regular expression: ") +
                                              reinterpret_cast<const char*>(buffer));
  }
  pcre2_jit_compile(p->code, PCRE2_JIT_COMPLETE);  // the interpreter serves where JIT cannot
  uint32_t last_type = 0, last_unit = 0;
  pcre2_pattern_info(p->code, PCRE2_INFO_LASTCODETYPE, &last_type);
  pcre2_pattern_info(p->code, PCRE2_INFO_LASTCODEUNIT, &last_unit);
  if (last_type == 1 && last_unit < 0x100) {
    const auto u = static_cast<unsigned char>(last_unit);
    const bool letter = (u | 0x20) >= 'a' && (u | 0x20) <= 'z';
    // Without case, any byte will do. With it, ASCII letters are looked for in
    // both cases, except k and s, which have case partners outside ASCII (the
    // Kelvin sign, the long s); other non-ASCII bytes are not relied on.
    if (!ignore_case) {
      p->required = u;
    } else if (u < 0x80 && !letter) {
      p->required = u;
    } else if (u < 0x80 && (u | 0x20) != 'k' && (u | 0x20) != 's') {
      p->required = u;
      p->required_other_case = true;
    }
  }
  return p;
}

// The program of a pattern and options, compiled once and kept in a small
// process-wide cache (emptied when full).
std::shared_ptr<const Program> program_for(const std::string& pattern, uint32_t options,
                                           bool ignore_case) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, uint32_t>, std::shared_ptr<const Program>> cache;
  std::lock_guard<std::mutex> guard(mutex);
  auto key = std::make_pair(pattern, options);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  auto program = build_program(pattern, options, ignore_case);
  if (cache.size() >= kProgramCacheSize) cache.clear();
  cache.emplace(std::move(key), program);
  return program;
}

}  // namespace

struct RegExp::Compiled {
  std::shared_ptr<const Program> program;
  pcre2_match_data* match_data = nullptr;
  pcre2_match_context* context = nullptr;

  ~Compiled() {
    if (context) pcre2_match_context_free(context);
    if (match_data) pcre2_match_data_free(match_data);
  }
};

// Finds the matches of one subject left to right, one run of well-formed
// UTF-8 at a time, so invalid bytes are never handed to PCRE2 and never
// matched. A subject that begins or ends with invalid bytes has an empty run
// there, where an empty match can still be found.
class RegExp::Matcher {
 public:
  Matcher(Compiled& c, std::string_view subject)
      : c_(c), subject_(subject), end_(valid_run_end(subject, 0)) {}

  // The first match starting at or after byte `from`, as [begin, end).
  std::optional<std::pair<size_t, size_t>> find(size_t from) {
    for (;; next_run()) {
      if (from <= end_) {
        if (from < begin_) from = begin_;
        if (const auto match = find_in_run(from)) return match;
      }
      if (end_ >= subject_.size()) return std::nullopt;
    }
  }

  // Byte offset of group n of the last match, or nullopt when it took no part.
  std::optional<std::pair<size_t, size_t>> group(uint32_t n) const {
    if (n >= pcre2_get_ovector_count(c_.match_data)) return std::nullopt;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c_.match_data);
    if (ov[2 * n] == PCRE2_UNSET || ov[2 * n] > ov[2 * n + 1]) return std::nullopt;
    return std::make_pair(begin_ + ov[2 * n], begin_ + ov[2 * n + 1]);
  }

  // The byte after the character at pos (one byte for an invalid one).
  size_t next_char(size_t pos) const {
    if (pos >= subject_.size()) return pos + 1;
    const size_t n = utf8_sequence(subject_, pos);
    return pos + (n ? n : 1);
  }

 private:
  // Moves to the run after the invalid bytes that end the current one.
  void next_run() {
    size_t pos = end_;
    while (pos < subject_.size() && static_cast<unsigned char>(subject_[pos]) >= 0x80 &&
           utf8_sequence(subject_, pos) == 0)
      ++pos;
    begin_ = pos;
    end_ = valid_run_end(subject_, pos);
    limit_known_ = false;
  }

  std::optional<std::pair<size_t, size_t>> find_in_run(size_t from) {
    const std::optional<PCRE2_SIZE> limit = start_limit();
    if (!limit) return std::nullopt;  // the required byte is missing from the run
    if (*limit != PCRE2_UNSET && from - begin_ > *limit) return std::nullopt;
    pcre2_set_offset_limit(c_.context, *limit);
    uint32_t options = PCRE2_NO_UTF_CHECK;
    if (begin_ > 0) options |= PCRE2_NOTBOL;
    if (end_ != subject_.size()) options |= PCRE2_NOTEOL;
    const auto* text = reinterpret_cast<PCRE2_SPTR>(subject_.data() + begin_);
    int rc = pcre2_match(c_.program->code, text, end_ - begin_, from - begin_, options,
                         c_.match_data, c_.context);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      rc = pcre2_match(c_.program->code, text, end_ - begin_, from - begin_, options | PCRE2_NO_JIT,
                       c_.match_data, c_.context);
    }
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) work_limit();
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c_.match_data);
    size_t match_begin = begin_ + ov[0];
    const size_t match_end = begin_ + ov[1];
    if (match_begin > match_end) match_begin = match_end;  // \K inside a lookahead
    return std::make_pair(match_begin, match_end);
  }

  // The last offset in the current run, relative to the run, at which a match
  // may begin: PCRE2_UNSET when any may, nullopt when none can.
  std::optional<PCRE2_SIZE> start_limit() {
    if (limit_known_) return limit_;
    limit_known_ = true;
    limit_ = PCRE2_UNSET;
    if (const auto required = c_.program->required) {
      std::optional<PCRE2_SIZE> last;
      for (size_t p = end_; p > begin_; --p) {
        const auto b = static_cast<unsigned char>(subject_[p - 1]);
        if (b == *required || (c_.program->required_other_case && (b ^ 0x20) == *required)) {
          last = p - 1 - begin_;
          break;
        }
      }
      limit_ = last;
    }
    return limit_;
  }

  Compiled& c_;
  std::string_view subject_;
  size_t begin_ = 0;  // the current run of well-formed UTF-8: [begin_, end_)
  size_t end_;
  bool limit_known_ = false;         // limit_ holds the current run's limit
  std::optional<PCRE2_SIZE> limit_;  // see start_limit()
};

RegExp::RegExp() = default;
RegExp::~RegExp() = default;

void RegExp::Pattern(std::string_view pattern) {
  pattern_ = std::string(pattern);
  compiled_.reset();
}

void RegExp::IgnoreCase(bool on) {
  ignore_case_ = on;
  compiled_.reset();
}

void RegExp::MultiLine(bool on) {
  multiline_ = on;
  compiled_.reset();
}

RegExp::Compiled& RegExp::compiled() {
  if (compiled_) return *compiled_;
  uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_USE_OFFSET_LIMIT;
  if (ignore_case_) options |= PCRE2_CASELESS;
  if (multiline_) options |= PCRE2_MULTILINE;
  auto c = std::make_unique<Compiled>();
  c->program = program_for(pattern_, options, ignore_case_);
  c->match_data = pcre2_match_data_create_from_pattern(c->program->code, nullptr);
  c->context = pcre2_match_context_create(nullptr);
  if (!c->match_data || !c->context) throw std::bad_alloc();
  pcre2_set_match_limit(c->context, kMatchLimit);
  pcre2_set_depth_limit(c->context, kDepthLimit);
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
