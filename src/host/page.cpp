#include "host/page.h"

#include <cstring>

namespace oapx1 {

void Page::bind_request_context() {
  // Each step of the binding is skipped when it fails; outside a page host
  // nothing is bound and the first use of an intrinsic object fails instead.
  step([] { bind_intrinsics(current_object_context()); });
}

void Page::run_include_initialisers() {
  tvdb_connI_init();
  tvtvfunctionI_init();
  tvincfunctionuserI_init();
  tvincfunctionwindI_init();
  tvincfunctioncommI_init();
  tvincfunctiondbI_init();
}

namespace {

// Writes `tabs` tab characters, the text and, with `line_end`, CR LF. A page
// is written in hundreds of such short pieces: one that fits a small buffer
// goes to the response in one write instead of up to three.
void write_piece(int tabs, std::string_view text, bool line_end) {
  static constexpr std::string_view kTabs = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  static constexpr std::string_view kLineEnd = "\r\n";
  Response& out = response_object();
  const size_t indent = tabs > 0 ? static_cast<size_t>(tabs) : 0;
  if (indent == 0 && !line_end) {
    out.write(text);
    return;
  }
  char joined[256];
  if (indent + text.size() + kLineEnd.size() <= sizeof joined) {
    char* p = joined;
    std::memset(p, '\t', indent);
    p += indent;
    std::memcpy(p, text.data(), text.size());
    p += text.size();
    if (line_end) {
      std::memcpy(p, kLineEnd.data(), kLineEnd.size());
      p += kLineEnd.size();
    }
    out.write(std::string_view(joined, static_cast<size_t>(p - joined)));
    return;
  }
  while (tabs > 0) {
    const int n = tabs < static_cast<int>(kTabs.size()) ? tabs : static_cast<int>(kTabs.size());
    out.write(kTabs.substr(0, static_cast<size_t>(n)));
    tabs -= n;
  }
  out.write(text);
  if (line_end) out.write(kLineEnd);
}

}  // namespace

void write_text(int tabs, std::string_view text) { write_piece(tabs, text, false); }

void write_line(int tabs, std::string_view text) { write_piece(tabs, text, true); }

std::vector<std::pair<std::string_view, Variant*>> Page::fields() {
  return {{"conn", &conn},
          {"sql", &sql},
          {"rs", &rs},
          {"msg", &msg},
          {"i", &i},
          {"departmentchildlist", &departmentchildlist},
          {"departmentparentlist", &departmentparentlist},
          {"folderparentlist", &folderparentlist},
          {"reqtypechildlist", &reqtypechildlist},
          {"timeoutvalue", &timeoutvalue},
          {"connprovider", &connprovider},
          {"currentpage", &currentpage},
          {"pagesize", &pagesize},
          {"recordcount", &recordcount},
          {"sortcolumn", &sortcolumn},
          {"sortdirection", &sortdirection},
          {"searchcondition", &searchcondition}};
}

}  // namespace oapx1
