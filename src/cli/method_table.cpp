#include "cli/method_table.h"

namespace oapx1 {

const std::vector<MethodEntry>& method_table() {
  static const std::vector<MethodEntry> table = {
      // Public surface, and the callbacks the frames call.
      OAPX1_METHOD(OnEndPage),
      OAPX1_METHOD(I_init),
      OAPX1_METHOD(RemoveHtml),
      OAPX1_METHOD(winmenu),
      OAPX1_METHOD(showcontent),
      // Connection include.
      OAPX1_METHOD(tvdb_connI_init),
      OAPX1_METHOD(closedb),
      // Database-functions include.
      OAPX1_METHOD(tvincfunctiondbI_init),
      OAPX1_METHOD(getnamefromid),
      OAPX1_METHOD(getidfromid),
      // Access policy, audit logs, permission checks.
      // User-functions include: directory lookups.
      OAPX1_METHOD(tvincfunctionuserI_init),
      OAPX1_METHOD(showusername),
      // General-functions include: trees and walks.
      OAPX1_METHOD(tvtvfunctionI_init),
      // Window include: frames.
      OAPX1_METHOD(tvincfunctionwindI_init),
      OAPX1_METHOD(showpopwindow),
      // Messaging.
      OAPX1_METHOD(sendneibuyoujian),
      OAPX1_METHOD(myfunsendxinxi),
      OAPX1_METHOD(getemailstatus),
      OAPX1_METHOD(funuseremail),
      OAPX1_METHOD(sendemail),
      OAPX1_METHOD(mysendmail),
      OAPX1_METHOD(jmail),
      OAPX1_METHOD(cdonts),
      OAPX1_METHOD(aspemail),
      // Common-functions include: dates, validation, text, files.
      OAPX1_METHOD(tvincfunctioncommI_init),
      OAPX1_METHOD(lwformatdatetime),
      OAPX1_METHOD(mydategeshi),
      OAPX1_METHOD(formatdate),
      OAPX1_METHOD(getsj),
      OAPX1_METHOD(replacebadchar),
      OAPX1_METHOD(checkstring),
      OAPX1_METHOD(isvalidemail),
      OAPX1_METHOD(to_number),
      OAPX1_METHOD(iif),
      OAPX1_METHOD(gernd),
      OAPX1_METHOD(getuid),
      OAPX1_METHOD(getlongtext),
      OAPX1_METHOD(displaytext),
      OAPX1_METHOD(shrinklonginput),
      OAPX1_METHOD(stringcount),
      OAPX1_METHOD(writecountsign),
      OAPX1_METHOD(writecountsigns),
      OAPX1_METHOD(deletefile),
      OAPX1_METHOD(copyfile),
      OAPX1_METHOD(deletefolder),
      OAPX1_METHOD(createfolder),
      OAPX1_METHOD(folderisexist),
      OAPX1_METHOD(getfolderfilescount),
      OAPX1_METHOD(getfolderfileslist),
  };
  return table;
}

const MethodEntry* find_method(std::string_view name) {
  for (const MethodEntry& entry : method_table())
    if (entry.name == name) return &entry;
  return nullptr;
}

}  // namespace oapx1
