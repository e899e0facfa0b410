#include "host/page.h"

namespace oapx1 {

void Page::bind_request_context() {
  // Each step of the binding is skipped when it fails; outside a page host
  // nothing is bound and the first use of an intrinsic object fails instead.
  step([] { bind_intrinsics(current_object_context()); });
}

void Page::I_init() {
  bind_request_context();
  initialiser("I_init", [&] {
    tvdb_connI_init();
    tvtvfunctionI_init();
    tvincfunctionuserI_init();
    tvincfunctionwindI_init();
    tvincfunctioncommI_init();
    tvincfunctiondbI_init();
  });
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
          {"connprovider", &connprovider}};
}

}  // namespace oapx1
