// The common-functions include: its initialiser, and the text display
// helpers: stored text prepared for HTML with its line breaks and spacing
// kept, truncation by display width, tag removal, and the small repeaters the
// tree views indent with.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/page.h"
#include "platform/web/components.h"
#include "platform/text/regexp.h"
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

// `in` with every `find` replaced by `with`, left to right without overlaps,
// appended to `out`. Candidates are found by the byte find[anchor] (one that
// is rare in the text), so each start is tried in increasing order exactly
// once. False, with nothing appended, when `find` does not occur.
bool replace_into(std::string_view in, std::string_view find, size_t anchor, std::string_view with,
                  std::string& out) {
  size_t pos = 0;      // the first byte not yet copied
  size_t from = anchor;  // where to look for the next anchor byte
  bool found = false;
  while (from < in.size()) {
    const void* hit = std::memchr(in.data() + from, find[anchor], in.size() - from);
    if (!hit) break;
    const size_t start = static_cast<size_t>(static_cast<const char*>(hit) - in.data()) - anchor;
    from = start + anchor + 1;
    if (start < pos || in.size() - start < find.size() || in.compare(start, find.size(), find) != 0) continue;
    if (!found) {
      out.clear();
      out.reserve(in.size() + in.size() / 4);
      found = true;
    }
    out.append(in, pos, start - pos);
    out.append(with);
    pos = start + find.size();
    from = pos + anchor;
  }
  if (found) out.append(in, pos, std::string_view::npos);
  return found;
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
    // Each step writes back into the caller's variable, so a failure part-way
    // leaves the steps done so far.
    // The text's own line breaks and spaces never survive encoding in
    // another form, and the encoding adds neither, so the first three steps
    // are one pass over the encoded text; each later step rewrites the text
    // only when its pattern occurs.
    text = server_object().html_encode(text.is_text() ? text.text() : std::string_view(text.to_text()));
    // The later steps rewrite the text between two buffers, each sized once
    // with room for the usual growth: a 10 MB text copied into a fresh
    // buffer at every step spends most of its time touching new pages.
    std::string spare;
    {
      const std::string_view encoded = text.text();
      size_t added = 0;
      for (const char c : encoded) added += c == '\r' ? 3 : c == ' ' ? 5 : 0;
      if (added != 0) {
        const size_t size = encoded.size() + added;
        spare.reserve(size + size / 4);
        spare.resize(size);
        char* w = spare.data();
        for (const char c : encoded) {
          if (c == '\r') {
            std::memcpy(w, "<br>", 4);
            w += 4;
          } else if (c == ' ') {
            std::memcpy(w, "&nbsp;", 6);
            w += 6;
          } else {
            *w++ = c;
          }
        }
        text.swap_text(spare);
        // The encoded text's buffer is too small to be the spare one.
        std::string().swap(spare);
      }
    }
    struct Step {
      std::string_view find;
      size_t anchor;  // a byte of `find` that is rare in encoded text
      std::string_view with;
    };
    static constexpr Step kSteps[] = {
        {"&lt;%", 4, "<SPAN>&lt;%</SPAN><FONT COLOR=\"#000000\">"},
        {"%&gt;", 0, "<SPAN>%</FONT>&gt;</SPAN>"},
        {"&lt;!--", 4, "<I><FONT COLOR=\"#CC0033\">&lt;!--"},
        {"--&gt;", 0, "--&gt;</I></FONT>"},
    };
    for (const Step& step : kSteps) {
      if (replace_into(text.text(), step.find, step.anchor, step.with, spare)) text.swap_text(spare);
    }
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
