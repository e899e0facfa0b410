// The common-functions include: its initialiser, and the text display
// helpers: stored text prepared for HTML with its line breaks and spacing
// kept, truncation by display width, tag removal, and the small repeaters the
// tree views indent with.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/page.h"
#include "platform/components/components.h"
#include "platform/script/regexp.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// How many times a "For k = 1 To count" loop runs.
int64_t loop_count(const Variant& count) {
  const double n = std::floor(count.to_double());
  if (!(n >= 1)) return 0;
  if (n > 2147483647.0) throw ScriptError(err::kOverflow, "Overflow");
  return static_cast<int64_t>(n);
}

// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF), as the regular-expression engine requires of the
// text it matches.
bool well_formed_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // Runs of ASCII eight bytes at a time.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p >= end) break;
    const unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      continue;
    }
    int extra = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    if (p[1] < low || p[1] > high) return false;
    for (int k = 2; k <= extra; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
    }
    p += 1 + extra;
  }
  return true;
}

// The tag pattern "<(.[^>]*)>" replaced by nothing, everywhere, for a
// well-formed text: a "<" followed by a character other than a line break
// starts a tag that runs to the first ">" after that character. Once no ">"
// follows a "<", no later "<" can start a tag either.
std::string remove_tags(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;  // the first byte not yet copied or dropped
  size_t from = 0;  // where to look for the next "<"
  while (from < s.size()) {
    const void* lt = std::memchr(s.data() + from, '<', s.size() - from);
    if (!lt) break;
    const size_t i = static_cast<size_t>(static_cast<const char*>(lt) - s.data());
    if (i + 1 >= s.size()) break;
    if (s[i + 1] == '\r' || s[i + 1] == '\n') {
      from = i + 1;
      continue;
    }
    // A multi-byte character after "<" has no ">" among its bytes, so the
    // first ">" from i + 2 on ends the tag either way.
    const void* gt = i + 2 < s.size() ? std::memchr(s.data() + i + 2, '>', s.size() - i - 2) : nullptr;
    if (!gt) break;
    const size_t j = static_cast<size_t>(static_cast<const char*>(gt) - s.data());
    out.append(s, pos, i - pos);
    pos = from = j + 1;
  }
  out.append(s, pos, std::string_view::npos);
  return out;
}

// The marks displaytext puts around script blocks and comments.
constexpr std::string_view kScriptOpen = "<SPAN>&lt;%</SPAN><FONT COLOR=\"#000000\">";
constexpr std::string_view kScriptClose = "<SPAN>%</FONT>&gt;</SPAN>";
constexpr std::string_view kCommentOpen = "<I><FONT COLOR=\"#CC0033\">&lt;!--";
constexpr std::string_view kCommentEnd = "</I></FONT>";

// The bytes display_markup does more with than copy.
constexpr auto kDisplaySpecial = [] {
  std::array<bool, 256> t{};
  for (const unsigned char c : std::string_view("<>%&\"\r ")) t[c] = true;
  return t;
}();

// displaytext's rewrite of `s` in one pass, given to `out` as bytes and
// pieces. It stands for the server's encoding followed by six replacements,
// each on the text the one before left: carriage return by "<br>", blank by
// "&nbsp;", then "&lt;%", "%&gt;", "&lt;!--" and "--&gt;" marked. On the
// source text those come to: "<%" opens a script mark and takes its "%" with
// it; any other "%>" closes one; "<!--" opens a comment mark; and every ">"
// after two "-" (those of a "<!--" included) ends one. Nothing a replacement
// inserts can start or complete a later one.
template <class Out>
void display_markup(std::string_view s, Out& out) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && !kDisplaySpecial[static_cast<unsigned char>(s[run])]) ++run;
    if (run != i) {
      out(s.substr(i, run - i));
      i = run;
      if (i == n) break;
    }
    const char c = s[i];
    switch (c) {
      case '<':
        if (i + 1 < n && s[i + 1] == '%') {
          out(kScriptOpen);
          i += 2;
        } else if (n - i > 3 && s[i + 1] == '!' && s[i + 2] == '-' && s[i + 3] == '-') {
          out(kCommentOpen);
          i += 4;
        } else {
          out(markup_entity(c, false));
          ++i;
        }
        break;
      case '%':
        if (i + 1 < n && s[i + 1] == '>') {
          out(kScriptClose);
          i += 2;
        } else {
          out(s.substr(i, 1));
          ++i;
        }
        break;
      case '>':
        out(markup_entity(c, false));
        if (i >= 2 && s[i - 1] == '-' && s[i - 2] == '-') out(kCommentEnd);
        ++i;
        break;
      case '\r':
        out("<br>");
        ++i;
        break;
      case ' ':
        out("&nbsp;");
        ++i;
        break;
      default:  // & and "
        out(markup_entity(c, false));
        ++i;
        break;
    }
  }
}

}  // namespace

void Page::tvincfunctioncommI_init() {
  initialiser(__func__, [&] { response_object().write(""); });
}

Variant Page::getlongtext(Variant& text) {
  return reported(__func__, [&](Variant& result) {
    if (text.is_null() || vb::Trim(text.to_text()).empty()) return;
    std::string out = vb::Replace(text.to_text(), "\r", "<br>");
    result = vb::Replace(out, " ", "&nbsp;");
  });
}

Variant Page::displaytext(Variant& text) {
  return reported(__func__, [&](Variant& result) {
    if (text.is_null() || script_equal(text, "")) {
      result = text;
      return;
    }
    // The text is measured first, then written once into a buffer of its
    // final size: a large text rewritten step by step, or grown by
    // reallocation, would be copied and its pages touched again each time.
    const std::string converted = text.is_text() ? std::string() : text.to_text();
    const std::string_view in = text.is_text() ? text.text() : std::string_view(converted);
    size_t size = 0;
    auto measure = [&](std::string_view piece) { size += piece.size(); };
    display_markup(in, measure);
    std::string out(size, '\0');
    char* w = out.data();
    auto write = [&](std::string_view piece) {
      std::memcpy(w, piece.data(), piece.size());
      w += piece.size();
    };
    display_markup(in, write);
    text = std::move(out);
    result = text;
  });
}

Variant Page::shrinklonginput(Variant& text, Variant& width) {
  return reported(__func__, [&](Variant& result) {
    if (width.is_null()) return;
    if (!(script_unequal(width, "") || script_unequal(width, 0))) return;
    const std::string t = text.to_text();
    std::string kept;
    Variant total = 0;
    Variant one = 1, two = 2;
    int64_t position = 1;
    for (size_t pos = 0; pos < t.size(); ++position) {
      i = position;
      const size_t start = pos;
      // A character is one byte in the page's code page (936) exactly when it
      // is ASCII; every other character takes two.
      Variant single = utf8_next(t, pos) < 0x80;
      total = total.to_integer() + iif(single, one, two).to_integer();
      const auto over = script_compare(total, width);
      if (over && *over > 0) break;
      kept.append(t, start, pos - start);
    }
    i = position;
    if (!kept.empty()) result = std::move(kept);
  });
}

Variant Page::RemoveHtml(Variant Textstr) {
  // Ignore and continue: each statement is its own step; the copy of the
  // argument is the result unless the replacement succeeds.
  Variant copy = Textstr;
  Variant objRegExp;
  step([&] { objRegExp = CreateObject("VBScript.RegExp"); });
  step([&] { objRegExp.as<RegExp>().IgnoreCase(true); });
  step([&] { objRegExp.as<RegExp>().Global(true); });
  step([&] { objRegExp.as<RegExp>().Pattern("<(.[^>]*)>"); });
  step([&] {
    const std::string subject = copy.to_text();
    // The pattern's matches are found by a direct scan when the text is
    // well-formed (the engine's own result, in one pass); otherwise the
    // engine, which keeps malformed bytes unmatched, decides.
    if (well_formed_utf8(subject)) {
      copy = remove_tags(subject);
    } else {
      copy = objRegExp.as<RegExp>().Replace(subject, "");
    }
  });
  step([&] { objRegExp = Variant::nothing(); });
  return copy;
}

Variant Page::stringcount(Variant& text, Variant& count) {
  return reported(__func__, [&](Variant& result) {
    result = text;
    const int64_t times = loop_count(count);
    if (times == 0) return;
    const std::string piece = text.str();
    std::string out;
    out.reserve(piece.size() * static_cast<size_t>(times + 1));
    for (int64_t k = 0; k <= times; ++k) out += piece;
    result = std::move(out);
  });
}

Variant Page::writecountsign(Variant& text, Variant& count) {
  report_and_leave(__func__, [&] {
    const int64_t times = loop_count(count);
    if (times == 0) return;
    const std::string piece = text.str();
    Response& out = response_object();
    for (int64_t k = 0; k < times; ++k) out.write(piece);
  });
  return Variant();
}

Variant Page::writecountsigns(Variant& level) {
  report_and_leave(__func__, [&] {
    const auto c = script_compare(level, 0);
    if (c && *c > 0) response_object().write("<td nowrap class=DepartLine height=20></td>");
  });
  return Variant();
}

}  // namespace oapx1
