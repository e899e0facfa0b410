#include "cli/method_table.h"

namespace oapx1 {

const std::vector<MethodEntry>& method_table() {
  static const std::vector<MethodEntry> table = {
      // Public surface.
      OAPX1_METHOD(OnEndPage),
      OAPX1_METHOD(I_init),
      OAPX1_METHOD(tvdb_connI_init),
      OAPX1_METHOD(tvtvfunctionI_init),
      OAPX1_METHOD(RemoveHtml),
      OAPX1_METHOD(tvincfunctionuserI_init),
      OAPX1_METHOD(tvincfunctionwindI_init),
      OAPX1_METHOD(tvincfunctioncommI_init),
      OAPX1_METHOD(tvincfunctiondbI_init),
      // Connection and code tables.
      OAPX1_METHOD(closedb),
      OAPX1_METHOD(getnamefromid),
      OAPX1_METHOD(getidfromid),
      // The node settings page and its frame.
      OAPX1_METHOD(showcontent),
      OAPX1_METHOD(winmenu),
      OAPX1_METHOD(showpopwindow),
  };
  return table;
}

const MethodEntry* find_method(std::string_view name) {
  for (const MethodEntry& entry : method_table())
    if (entry.name == name) return &entry;
  return nullptr;
}

}  // namespace oapx1
