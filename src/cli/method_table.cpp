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
      OAPX1_METHOD(isallowlogin),
      OAPX1_METHOD(savelog),
      OAPX1_METHOD(oplog),
      OAPX1_METHOD(hasfunid),
      OAPX1_METHOD(hasfuniduser),
      OAPX1_METHOD(userhasfunid),
      OAPX1_METHOD(userhaspower),
      OAPX1_METHOD(haspower),
      OAPX1_METHOD(getdocpowers),
      // User-functions include: directory lookups.
      OAPX1_METHOD(tvincfunctionuserI_init),
      OAPX1_METHOD(showuserfromid),
      OAPX1_METHOD(getusername),
      OAPX1_METHOD(getusernameid),
      OAPX1_METHOD(getuserdepartid),
      OAPX1_METHOD(showuseridfromname),
      OAPX1_METHOD(getuserid),
      OAPX1_METHOD(showuserdepartmentid),
      OAPX1_METHOD(showusername),
      OAPX1_METHOD(shownameandmb),
      OAPX1_METHOD(shownicheng),
      OAPX1_METHOD(userzuncheng),
      OAPX1_METHOD(usernicheng),
      OAPX1_METHOD(showuserimg),
      OAPX1_METHOD(showcustomername),
      OAPX1_METHOD(showdepartmentname),
      OAPX1_METHOD(getdepartname),
      OAPX1_METHOD(showcatlogname),
      OAPX1_METHOD(showprojectname),
      OAPX1_METHOD(showreqtypename),
      OAPX1_METHOD(showuserdepartmentname),
      OAPX1_METHOD(showduty),
      OAPX1_METHOD(getxingmingfromnames),
      OAPX1_METHOD(getuserdepartname),
      // General-functions include: trees and walks.
      OAPX1_METHOD(tvtvfunctionI_init),
      OAPX1_METHOD(tabshowdepartmentchild),
      OAPX1_METHOD(tabshowreqtypechild),
      OAPX1_METHOD(listuser),
      OAPX1_METHOD(tabshowdepartmentchildandusername),
      OAPX1_METHOD(tabshowdocumentstructure),
      OAPX1_METHOD(showdoctree),
      OAPX1_METHOD(departmentchild),
      OAPX1_METHOD(reqtypechild),
      OAPX1_METHOD(departmentparent),
      OAPX1_METHOD(getparentlists),
      OAPX1_METHOD(departlevel),
      OAPX1_METHOD(getfengongsi),
      OAPX1_METHOD(folderparent),
      OAPX1_METHOD(getfolderparentlists),
      OAPX1_METHOD(deletedocumentfolder),
      // Window include: frames.
      OAPX1_METHOD(tvincfunctionwindI_init),
      OAPX1_METHOD(showpopwindow),
      OAPX1_METHOD(funshowflow),
      OAPX1_METHOD(funshowchaxun),
      OAPX1_METHOD(searchform),
      OAPX1_METHOD(popwindow),
      OAPX1_METHOD(popwindownoscroll),
      OAPX1_METHOD(searchwindow),
      OAPX1_METHOD(funshowtitle),
      OAPX1_METHOD(fulledit),
      OAPX1_METHOD(winxinwentype),
      OAPX1_METHOD(messagebox),
      OAPX1_METHOD(printform),
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
