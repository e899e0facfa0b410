// The common-functions include: its initialiser, and the text display
// helpers: stored text prepared for HTML with its line breaks and spacing
// kept, truncation by display width, tag removal, and the small repeaters the
// tree views indent with.
#include <cmath>
#include <string>

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
    text = server_object().html_encode(text.to_text());
    text = vb::Replace(text.text(), "\r", "<br>");
    text = vb::Replace(text.text(), " ", "&nbsp;");
    text = vb::Replace(text.text(), "&lt;%", "<SPAN>&lt;%</SPAN><FONT COLOR=\"#000000\">");
    text = vb::Replace(text.text(), "%&gt;", "<SPAN>%</FONT>&gt;</SPAN>");
    text = vb::Replace(text.text(), "&lt;!--", "<I><FONT COLOR=\"#CC0033\">&lt;!--");
    text = vb::Replace(text.text(), "--&gt;", "--&gt;</I></FONT>");
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
  step([&] { copy = objRegExp.as<RegExp>().Replace(copy.to_text(), ""); });
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
