#include "host/page.h"

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

void write_text(int tabs, std::string_view text) {
  static constexpr std::string_view kTabs = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
  Response& out = response_object();
  while (tabs > 0) {
    const int n = tabs < static_cast<int>(kTabs.size()) ? tabs : static_cast<int>(kTabs.size());
    out.write(kTabs.substr(0, static_cast<size_t>(n)));
    tabs -= n;
  }
  out.write(text);
}

void write_line(int tabs, std::string_view text) {
  write_text(tabs, text);
  response_object().write("\r\n");
}

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
