// The page class: the base of every page of the application, carrying the
// shared function library and the page variables its methods share. Methods
// keep the application's names; their bodies live in the folder of their
// subsystem (data/, util/, layout/, ...), one source file per include family.
//
// Every library method runs inside the one failure handler of this class
// (failure.cpp): a method names its mode, report-and-leave or
// ignore-and-continue, and never catches failures itself.
#ifndef OAPX1_HOST_PAGE_H_
#define OAPX1_HOST_PAGE_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/web/intrinsics.h"
#include "platform/script/variant.h"

namespace oapx1 {

// The class name that failure reports carry before the method name.
inline constexpr std::string_view kPageClassName = "tvwortqflowjiedia";

class Page {
 public:
  Page() = default;
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // Where a method lives. Library methods take their arguments as `Variant&`
  // (by reference: a method may write back into them) and return `Variant`
  // when they have a result. A new method is declared in its family's section
  // below, defined in that family's folder, and registered once in the method
  // table of `oapx1 call` (src/cli/method_table.cpp). Unless its comment says
  // otherwise, a method is report-and-leave: a failure writes one event and the
  // error trailer, and the method returns its result as it stood (empty when
  // nothing was assigned yet).

  // --- Public surface, as the page host calls it (host/) -----------------

  // Page-end notification; does nothing.
  void OnEndPage() {}
  // Binds the request context and produces the whole page; each page defines it.
  virtual void I_init() = 0;
  // The text without its tags ("<" + a character that is not a line break +
  // anything up to the first ">"); null stays null. Ignore-and-continue.
  // Defined with the text helpers (util/text_display.cpp).
  Variant RemoveHtml(Variant Textstr);
  // Runs the six include initialisers in the page's order: tvdb_connI_init,
  // tvtvfunctionI_init, tvincfunctionuserI_init, tvincfunctionwindI_init,
  // tvincfunctioncommI_init, tvincfunctiondbI_init. Each ends quietly on the
  // reserved number and reports any other failure; the next one still runs.
  void run_include_initialisers();

  // --- Callbacks the window frames call, once each -----------------------

  // Writes the page's toolbar buttons; the base writes nothing.
  virtual void winmenu() {}
  // Writes the page's content; the base writes nothing.
  virtual void showcontent() {}

  // --- Connection include (data/guard.cpp) -------------------------------

  // Connection and session guard: limits, the request's connection in `conn`,
  // the session time-out from OA_AnQuan, the login script for a session without
  // a user. Must run before any method that touches `conn`.
  void tvdb_connI_init();
  // Closes `conn` and sets it to nothing; does nothing when there is none.
  void closedb();

  // --- Database-functions include (data/lookups.cpp) ---------------------

  // Writes nothing visible.
  void tvincfunctiondbI_init();
  // The value of `column` in the first row of `table` whose `keycolumn` equals
  // the text `key`; "" when no row matches. Ignore-and-continue: a failure
  // returns the value read so far, with no report.
  Variant getnamefromid(Variant& table, Variant& column, Variant& keycolumn, Variant& key);
  // The same lookup under a second name, for the caller's reading.
  Variant getidfromid(Variant& table, Variant& column, Variant& keycolumn, Variant& key);

  // --- Access policy, audit logs, permission checks (access/) ------------

  // Login access policy (access/access_policy.cpp). True to admit the user now
  // signing in (session items `_LogUserName`, `_LogUserIPAddress`), false to
  // refuse, by the first row of OA_AnQuan: the IP prefix list (`ISIP`,
  // `isYunXu`, `IPList`), the weekdays (`isWeek`, `SM1`..`SM7`) and the daily
  // window (`ISTime`, `SHour`:`SMinute` to `EHour`:`EMinute`, both ends
  // included) against the page clock. No row admits everyone. Accounts of the
  // configured exempt list (login_exempt.h) are admitted unchecked. With
  // `NotValid` "1", a refusal writes OA_Log security rows: "非法IP地址" first,
  // then "非法时间". A window end that is not a valid time disables the window
  // test like an invalid start. A failure before the decision returns true.
  Variant isallowlogin();

  // Audit logs (access/audit_log.cpp); both ignore-and-continue: a failing
  // statement is skipped silently and the result is always empty. The IP
  // address and account come from the session items `_LogUserIPAddress` and
  // `_LogUserName`; every value is quoted with its apostrophes doubled.
  // Records a sign-in event in OA_Log by the first row of OA_AnQuan: `legal`
  // not "1" writes a security row "非法用户" when `NotValid` is "1"; `legal`
  // "1" writes, when `LoginLog` is "1", an application row "系统登陆" (flag "1")
  // for `login` "1" or "系统退出" (flag "0") otherwise. Arguments unchanged.
  Variant savelog(Variant& legal, Variant& login);
  // Writes an application row of OA_Log with the remark and flag "1", whatever
  // the security settings say. The argument is unchanged.
  Variant oplog(Variant& remark);

  // Permission checks (access/permissions.cpp). Function ids and folder ids
  // are placed bare in SQL and must be numbers: anything else fails (reported)
  // before a statement runs. Codes and names are quoted. A role id belongs to
  // a list when the list holds "," + id + ","; a login name to a `UserList`
  // when ";" + list + ";" holds ";" + name + ";" (an empty name never does).
  // Each check returns a boolean, false unless granted, and writes nothing
  // but a failure's trailer.
  //
  // True when one of the session's roles (`_roleIds`) is granted function
  // `funid` in OA_FunctionRole; false without a query for "".
  Variant hasfunid(Variant& funid);
  // True when one of the roles of `rolelist` is granted function `funid`;
  // false without a query when `funid` is not numeric (also "").
  Variant hasfuniduser(Variant& funid, Variant& rolelist);
  // True when a role whose `userIds` lists the session's `_userId` is granted
  // function `funid`; false without a query for "". `unused` is not read.
  Variant userhasfunid(Variant& funid, Variant& unused);
  // True when the first OA_Functions row of `code` passes userhasfunid, or
  // OA_SysPower's `UserList` of `code` names `username`. Leaves the last
  // statement in `sql`. No administrator rule.
  Variant userhaspower(Variant& code, Variant& username);
  // True at once for session `isAdmin` "TRUE" (exactly); else when any
  // OA_Functions row of `code` passes hasfunid, or OA_SysPower's `UserList` of
  // `code` names the session's `UserName`.
  Variant haspower(Variant& code);
  // The grant text of a document folder, `RIsALL` % `UserReader` % `WIsALL`
  // % `userAll` (nulls as ""), taken from the first ancestor-or-self that does
  // not inherit (`isjicheng` "1" inherits from `POAID`). "%%%" when a folder
  // of the walk does not exist or is met a second time (a loop). Empty when a
  // failure comes first.
  Variant getdocpowers(Variant& folderid);

  // --- User-functions include: directory lookups (directory/user_lookups.cpp)

  // Writes nothing visible.
  void tvincfunctionuserI_init();
  // Lookups by key. A numeric key (user, department, duty, catalogue, work plan
  // or request type id) must read as a whole number: anything else fails before
  // any statement runs. A text key (login name) is quoted with its apostrophes
  // doubled. Each returns the named column of the first row found (a null
  // column as null unless a substitute is named) and writes nothing; "stores
  // in sql" means the statement is left in `sql`.

  // KX_UserInfor by OAID: UserName; "" when not found. Stores in sql.
  Variant showuserfromid(Variant& id);
  // The same lookup as showuserfromid: UserName; "" when not found. Stores in sql.
  Variant getusername(Variant& id);
  // KX_UserInfor by OAID: TureName; "" when not found. Stores in sql.
  Variant getusernameid(Variant& id);
  // KX_UserInfor by OAID: DepartMentID; the number 0 when not found. Stores in sql.
  Variant getuserdepartid(Variant& id);
  // KX_UserInfor by UserName: OAID; the number 0 when not found. Stores in sql.
  Variant showuseridfromname(Variant& name);
  // The same lookup as showuseridfromname: OAID; 0 when not found. Stores in sql.
  Variant getuserid(Variant& name);
  // KX_UserInfor by UserName: DepartMentID; 0 when not found. Leaves sql.
  Variant showuserdepartmentid(Variant& name);
  // KX_UserInfor by UserName: TureName; "" when not found. The name "800" (the
  // server's own messages) gives "服务器" without a query. Stores in sql.
  Variant showusername(Variant& name);
  // KX_UserInfor by UserName: TureName + "【" + Mobile + "】"; empty when not
  // found. Stores in sql.
  Variant shownameandmb(Variant& name);
  // KX_UserInfor by UserName: myField1, or TureName when myField1 is "" or
  // null; "" when not found. Stores in sql.
  Variant shownicheng(Variant& name);
  // The same rule as shownicheng under its second name. Stores in sql.
  Variant userzuncheng(Variant& name);
  // KX_UserInfor by UserName: myField2 when myField1 is neither "" nor null,
  // else TureName; "" when not found. Stores in sql.
  Variant usernicheng(Variant& name);
  // KX_UserInfor by UserName: faceImg + ".gif", "1.gif" when faceImg is "" or
  // null or the user is not found. Stores in sql.
  Variant showuserimg(Variant& name);
  // KX_Customer by UserName: TureName; empty when not found. Stores in sql.
  Variant showcustomername(Variant& name);
  // KX_Department by DepartMentID: DepartName; "" when not found. An id that is
  // "" or null is replaced by 0, written back into `id`. Leaves sql.
  Variant showdepartmentname(Variant& id);
  // KX_Department by DepartMentID: DepartName; "" when not found. Stores in sql.
  Variant getdepartname(Variant& id);
  // KX_Catalog by KXID: CatName; "" when not found. Stores in sql.
  Variant showcatlogname(Variant& id);
  // OA_Work_Plan by KXID: name; "" when not found. Stores in sql.
  Variant showprojectname(Variant& id);
  // KX_ReqType by ReqTypeID: ReqTypeName; empty when not found. Stores in sql.
  Variant showreqtypename(Variant& id);
  // The DepartName of the department of the user with that login name; "" when
  // the user or the department is not found. Leaves sql.
  Variant showuserdepartmentname(Variant& name);
  // The DutyName of each item of a comma-separated list of duty ids (each
  // optionally followed by "*" and more text) joined by "、"; duties not found
  // add nothing, "" for an empty list. An empty item fails, returning the
  // names found before it. Stores each statement in sql.
  Variant showduty(Variant& list);
  // The showusername of each non-empty piece of `list` split on `separator`,
  // joined by "、" ("、、" reduced to one, one trailing "," dropped); "" for a
  // null list.
  Variant getxingmingfromnames(Variant& list, Variant& separator);
  // getdepartname of getuserdepartid of the user id; "" when not found.
  Variant getuserdepartname(Variant& id);

  // --- General-functions include: trees and walks (directory/walks.cpp) ---

  // Resets the four list fields of the hierarchy walks; writes nothing visible.
  void tvtvfunctionI_init();

  // Trees and option lists (directory/trees.cpp). Each walks a parent-child
  // table downward in depth-first pre-order, children in the database's order
  // unless stated, and writes markup pieces (no enclosing element); values
  // from the database are HTML-encoded. `level` is 0 for the top call and
  // gives level + 1 indentation units (stringcount). A node already met on the
  // walk is not visited again, and depth does not use the C++ stack. A failing
  // statement writes the error trailer and ends that node's part of the walk;
  // the walk goes on with the next row of the node above. An id that is not a
  // whole number fails before any statement. No result (empty).

  // One "<OPTION value=ID>" + "|--" indentation + DepartName + "</OPTION>" per
  // department below `id`, each followed by its own sub-departments.
  Variant tabshowdepartmentchild(Variant& id, Variant& level);
  // The same option list over KX_ReqType (ReqTypeID, ReqTypeName).
  Variant tabshowreqtypechild(Variant& id, Variant& level);
  // Options of the users of department `id` (value: IPAddress or NONE, "*"
  // before TureName), then for each sub-department a NONE heading followed by
  // its own list; indentation unit "|&nbsp;&nbsp;".
  Variant listuser(Variant& id, Variant& level);
  // An outline tree: the department's active users by OrderNumber (on-line
  // users in blue, others gray), then each sub-department's folder, caption and
  // container ("Out" + id + "i"/"t"/"s") holding its own tree.
  Variant tabshowdepartmentchildandusername(Variant& id, Variant& level);
  // An outline tree of catalogue `id`: its documents newest first when
  // haspower("CHKDOS" + id), then its sub-catalogues newest first, each with its
  // own tree, when haspower("CHKDOP" + id) or haspower("CHKDOS" + id).
  Variant tabshowdocumentstructure(Variant& id, Variant& level);
  // An outline tree of the sub-catalogues of `id`, newest first, each with a
  // caption and a radio button calling ClickS(id, name) when
  // haspower("CHKDOP" + its id); its container is written either way.
  Variant showdoctree(Variant& id, Variant& level);
  // Appends "," + each descendant id of the department, in pre-order, to
  // departmentchildlist, which is first set to `id` when it is "".
  Variant departmentchild(Variant& id);
  // The same over KX_ReqType into reqtypechildlist.
  Variant reqtypechild(Variant& id);

  // Hierarchy walks (directory/walks.cpp). The upward walks read one row per
  // level and stop at parent 0, at a node already on the path, or at a failure
  // (the path so far is kept).

  // Sets departmentparentlist to `id` when it is "", then puts each ancestor
  // of the department in front of it, separated by ",". No result.
  Variant departmentparent(Variant& id);
  // The path "top,...,id" of the department; departmentparentlist is "" after.
  Variant getparentlists(Variant& id);
  // The number of ids on the department's path (1 at the top);
  // departmentparentlist is "" after.
  Variant departlevel(Variant& id);
  // The DepartmentID of the top-level department above `id` (its own when it
  // is top-level); empty when a department on the way is missing or the
  // parents loop.
  Variant getfengongsi(Variant& id);
  // folderparent, getfolderparentlists: the same over OA_Document_Folder
  // (OAID, POAID) and folderparentlist.
  Variant folderparent(Variant& id);
  Variant getfolderparentlists(Variant& id);
  // Deletes catalogue `id` and every catalogue below it, removing the entries
  // equal to each deleted id from every KX_DutyPower.FunList. Each statement
  // takes effect at once; a failure ends that catalogue's part. No result.
  Variant deletedocumentfolder(Variant& id);

  // --- Window include: frames (layout/) -----------------------------------
  //
  // The frames write fixed markup with the session item "SystemURL" in their
  // image paths, and call back winmenu() and showcontent() of this page, each
  // once, at fixed points. Titles, captions and messages passed in are written
  // as given (they may carry markup); the request item "msg" is HTML-encoded
  // where a frame shows it, followed by the page message `msg` as given.

  // Writes the window include's head block (stylesheet, script, styles).
  // (layout/window_include.cpp)
  void tvincfunctionwindI_init();
  // Draws the pop-up window frame with `title`, calling winmenu() for the
  // toolbar and showcontent() for the content, then the message row.
  void showpopwindow(Variant& title);
  // Draws the full-window list frame: the body tag, the caption bar (left out
  // when `caption` is empty), the title bar (its left part left out when
  // `title` is empty) with winmenu() at its right end, the content area with
  // showcontent() and a width script, and the message row; when `showpager` is
  // true (null counts as false) the row also holds searchform(), called after
  // both callbacks. `extra` is ignored. Fails before writing anything when
  // `showpager` is no boolean. (layout/list_frames.cpp)
  void funshowflow(Variant& caption, Variant& title, Variant& showpager, Variant& extra);
  // The same frame as funshowflow, under the query lists' name.
  void funshowchaxun(Variant& caption, Variant& title, Variant& showpager, Variant& extra);
  // Writes the pager from the page variables currentpage, pagesize,
  // recordcount, sortcolumn, sortdirection and searchcondition: hidden paging
  // fields (the page count is recordcount / pagesize rounded up, both taken as
  // whole numbers), the record count, a jump list with one option per page and
  // the page size list 10 to 80; the sort fields and the search condition are
  // HTML-encoded. A page size of 0 fails with 11 before anything is written.
  // (layout/pager.cpp)
  void searchform();
  // Draws the dialog frame: background style, caption bar with `title`, a
  // scrolling content area with showcontent(), a separator line, and the
  // toolbar row with winmenu() below the content. (layout/other_frames.cpp)
  void popwindow(Variant& title);
  // As popwindow without the background style, the content directly in its
  // cell (the page scrolls as a whole).
  void popwindownoscroll(Variant& title);
  // Draws the search dialog frame: caption bar with `title` over the content
  // written by showcontent().
  void searchwindow(Variant& title);
  // Writes the caption bar with `title` alone; calls no callback.
  void funshowtitle(Variant& title);
  // Draws the full-window editor: the body tag, a button bar with empty tool
  // cells, the content of showcontent() in an area that follows the window
  // width, and the message row only when there is a message.
  void fulledit();
  // As fulledit with a grey background, its own toolbar icon, a content area
  // as wide as the window and no message row.
  void winxinwentype();
  // Writes the fixed-size notice box "系统提示" with `message` in it as given;
  // the result is always empty. (layout/message_box.cpp)
  Variant messagebox(Variant& message);
  // Writes the print button that opens the print dialog page with the seven
  // values as its query (SQL, Title, BottomInfo, EachPageNum, PageWidth,
  // TitleColumn, ColumnWidth, in that order), each apostrophe written as a backslash and the apostrophe
  // and each double quote as &quot;, nothing else encoded.
  void printform(Variant& querysql, Variant& title, Variant& eachpagenum, Variant& pagewidth,
                 Variant& titlecolumn, Variant& columnwidth, Variant& bottominfo);

  // --- Messaging (messaging/) ---------------------------------------------

  // Internal mail and short messages (messaging/internal_mail.cpp). The
  // timestamps written as text are the page clock as "yyyy-mm-dd hh:nn".

  // Sends an internal mail from the login name `sender` to the login names of
  // `recipients` (separated by ";"): one KX_Email row whose EmailTo lists every
  // piece, empty ones included, as "*name-0-0-0*name-0-0-0*"; one to-do row in
  // OA_DaiBan_Mail and, through myfunsendxinxi, one short message per non-empty
  // name, linking to the mail. `recipients` is rewritten as myfunsendxinxi
  // rewrites it. Nothing is undone on a failure: rows written before it stay.
  void sendneibuyoujian(Variant& sender, Variant& recipients, Variant& subject, Variant& content);
  // Writes one OA_MSG row (unread, not yet shown) per non-empty name of
  // `recipients`, whose names may be separated by ";", "," or "*". Writes back
  // into `recipients` the list with every ";" and "," replaced by "*". A null
  // list writes nothing.
  void myfunsendxinxi(Variant& recipients, Variant& type, Variant& message, Variant& linktext,
                      Variant& url, Variant& target, Variant& id1, Variant& id2);
  // Field `index` of the entry of login name `name` (matched in any letter
  // case) in the status list of mail `mailid`: 0 the name as stored, 1 to 3
  // its statuses. "" when the mail does not exist or `name` is no recipient;
  // an index beyond the entry's fields fails with 9 and gives "". A mail id
  // that is not a whole number fails with 13.
  Variant getemailstatus(Variant& mailid, Variant& name, Variant& index);
  // The external e-mail address of a login name: Email1 of its
  // OA_User_OtherInfor row, Email2 when Email1 is "" or null; "" when the user
  // has no row. Leaves its statement in `sql`.
  Variant funuseremail(Variant& name);

  // E-mail over the mail components (messaging/email.cpp). Where a method is
  // given no server, sender or account, they come from the first row of
  // SA_Smtp (SMTPIP:SMTPPort, EmailAddress, EUsername/EPassword).

  // Sends one mail through "MyEmail.sendemail" to `server` ("host[:port]"):
  // from `from` (display name `fromname`) to `to`, HTML when `html` is True,
  // -1 or "true" in any case, the body followed by CR LF. `toname` is not
  // used. Nothing happens for a null or empty server. The SA_Smtp account is
  // used only when `server` is the SA_Smtp server. Failures up to the send
  // (an `html` flag that is neither a truth value nor a number, a missing
  // component) are reported; the send itself is silent, success or not.
  void sendemail(Variant& server, Variant& from, Variant& fromname, Variant& to, Variant& toname,
                 Variant& subject, Variant& body, Variant& html);
  // Sends an HTML mail through "JMail.Message" with the SA_Smtp server,
  // sender and account, in gb2312 with priority 1, to each non-empty address
  // of `recipients` (separated by ";"). Ignore-and-continue: nothing is ever
  // reported; without an SA_Smtp row nothing is sent.
  void mysendmail(Variant& subject, Variant& body, Variant& recipients);
  // Sends an HTML mail in gb2312 through "JMail.SMTPMail" with the SA_Smtp
  // server, sender and account. "OK" when the server accepted it; a failure
  // (no SA_Smtp row, server refused or unreachable) is reported, result empty.
  Variant jmail(Variant& subject, Variant& body, Variant& recipient);
  // As jmail, through "CDONTS.NewMail" (HTML, MIME).
  Variant cdonts(Variant& subject, Variant& body, Variant& recipient);
  // As jmail, through "ASPMAIL.ASPMailCtrl.1", as plain text with `body`.
  Variant aspemail(Variant& subject, Variant& body, Variant& recipient);

  // --- Common-functions include: dates (util/date_time.cpp) ---------------

  // The template with its tokens (yyyy yy mm m dd d hh h nn n ss s) replaced by
  // the parts of the date; the first argument itself when it is not a date
  // (null stays null).
  Variant lwformatdatetime(Variant& datetime, Variant& format);
  // The same formatting under its second name.
  Variant mydategeshi(Variant& datetime, Variant& format);
  // "year-month-day", unpadded; fails when `date` is not a date.
  Variant formatdate(Variant& date);
  // The present moment (the page clock) as "yyyy年mm月dd日 weekday hh:nn:ss",
  // with the server's regional weekday name.
  Variant getsj();

  // --- Common-functions include: sanitising and validation (util/validation.cpp)

  // The text without the 16 characters unsafe in SQL and markup; "" for null
  // or empty.
  Variant replacebadchar(Variant& text);
  // The text with each apostrophe doubled; "" for null. Only `text` is read.
  Variant checkstring(Variant& text, Variant& a2, Variant& a3, Variant& a4);
  // True when the address has one "@", allowed characters, no dot at either
  // end of a part, no ".." and a last domain label of 2 or 3 characters. A
  // null address fails after the result was set to true.
  Variant isvalidemail(Variant& email);
  // Trims `text` in place; the number when it is all decimal digits, else 0.
  Variant to_number(Variant& text);
  // A copy of `if_true` when the condition holds, else of `if_false` (a null
  // condition does not hold).
  Variant iif(Variant& condition, Variant& if_true, Variant& if_false);
  // `length` random characters from 0-9, A-Z, a-z (cryptographic source);
  // fails on a length that is not a number, with an empty result.
  Variant gernd(Variant& length);
  // 32 upper-case hexadecimal digits of a new unique identifier; fails when the
  // type-library object cannot be created.
  Variant getuid();

  // --- Common-functions include: text display (util/text_display.cpp) -----

  // Writes nothing visible.
  void tvincfunctioncommI_init();
  // The text with CR as "<br>" and spaces as "&nbsp;"; empty for null or a
  // text of spaces only.
  Variant getlongtext(Variant& text);
  // The text server-encoded, with line breaks, spaces, script blocks and
  // comments marked up; written back into `text` step by step.
  Variant displaytext(Variant& text);
  // The leading part of the text whose display width (2 per non-ASCII
  // character) stays within `width`.
  Variant shrinklonginput(Variant& text, Variant& width);
  // The text repeated count + 1 times.
  Variant stringcount(Variant& text, Variant& count);
  // Writes the text `count` times; empty result.
  Variant writecountsign(Variant& text, Variant& count);
  // Writes one indentation cell when `level` > 0; empty result.
  Variant writecountsigns(Variant& level);

  // --- Common-functions include: files and folders (util/file_helpers.cpp) -

  // Deletes the file when it exists.
  void deletefile(Variant& path);
  // Copies the source onto the destination (replacing it) when the source exists.
  void copyfile(Variant& source, Variant& destination);
  // Deletes the folder and everything in it when it exists.
  void deletefolder(Variant& path);
  // Creates the folder when it does not exist.
  void createfolder(Variant& path);
  // True when the folder exists.
  Variant folderisexist(Variant& path);
  // The number of files directly in the folder; 0 when it does not exist.
  Variant getfolderfilescount(Variant& path);
  // The names of the files directly in the folder joined by "*"; "" when it
  // does not exist.
  Variant getfolderfileslist(Variant& path);

  // --- Page variables -----------------------------------------------------

  // Every page variable by name, for the command line and the tests.
  virtual std::vector<std::pair<std::string_view, Variant*>> fields();

  Variant conn;                  // the request's open connection
  Variant sql;                   // the SQL text of the statement last built
  Variant rs;                    // the recordset of the page's own queries
  Variant msg;                   // the page message shown after the request item "msg"
  Variant i;                     // the loop counter shared by the page's loops
  Variant departmentchildlist;   // result list of the department-children walk
  Variant departmentparentlist;  // result list of the department-parents walk
  Variant folderparentlist;      // result list of the folder-parents walk
  Variant reqtypechildlist;      // result list of the request-type-children walk
  Variant timeoutvalue;          // the session time-out in minutes, from OA_AnQuan
  Variant connprovider;          // the connection-string provider while it is in use
  Variant currentpage;           // pager: the number of the list page shown, from 1
  Variant pagesize;              // pager: rows per list page
  Variant recordcount;           // pager: records in the whole list
  Variant sortcolumn;            // pager: the column the list is sorted by
  Variant sortdirection;         // pager: the direction of the sort
  Variant searchcondition;       // pager: the list's current search condition

  // Binds the intrinsic objects of the current call into this thread's slots
  // (the first step of I_init); binding never reports a failure.
  void bind_request_context();

  // --- Failure modes ------------------------------------------------------

  // One statement of an ignore-and-continue method: a failure, whatever its
  // number, is dropped. Returns false when the statement failed. A failure
  // may not happen again (a lock, a lost connection), so the call's output
  // is not answered again.
  template <class F>
  static bool step(F&& body) {
    try {
      body();
      return true;
    } catch (...) {
      step_failed();
      return false;
    }
  }
  // The condition of a test in an ignore-and-continue method: a condition that
  // fails to evaluate counts as true, so the guarded block runs, as on the
  // platform.
  template <class F>
  static bool condition(F&& test) {
    bool result = true;
    step([&] { result = test(); });
    return result;
  }

 protected:
  // Runs `body` as the whole of report-and-leave method `method` (pass
  // __func__, so the report names the method that runs): a failure writes the
  // event and the error trailer and leaves the method; the reserved number
  // passes up unreported.
  template <class F>
  void report_and_leave(std::string_view method, F&& body) {
    try {
      body();
    } catch (...) {
      handle_failure(method, false);
    }
  }
  // A report-and-leave method with a result: `body(result)` assigns the result
  // as it goes, and whatever it held when a failure left the method is
  // returned (empty when nothing was assigned).
  template <class F>
  Variant reported(std::string_view method, F&& body) {
    Variant result;
    report_and_leave(method, [&] { body(result); });
    return result;
  }
  // The handler of a report-and-leave method that runs in pieces (the levels
  // of a walk): the returned guard runs one piece, reports a failure for
  // `method` (pass __func__), ends only that piece, and returns false then.
  auto piece_guard(std::string_view method) {
    return [this, method](auto&& body) {
      bool ok = false;
      report_and_leave(method, [&] {
        body();
        ok = true;
      });
      return ok;
    };
  }
  // As report_and_leave, for I_init and the include initialisers, which end
  // quietly on the reserved number.
  template <class F>
  void initialiser(std::string_view method, F&& body) {
    try {
      body();
    } catch (...) {
      handle_failure(method, true);
    }
  }

 private:
  // The handler, called from inside a catch block.
  void handle_failure(std::string_view method, bool initialiser);
  // What a dropped failure of step() leaves behind: a call whose output a
  // failure changed is not answered again.
  static void step_failed();
};

// Writes `tabs` tab characters, the text and CR LF to the response: one static
// line of the page's markup.
void write_line(int tabs, std::string_view text);
// Writes `tabs` tab characters and the text, without a line end.
void write_text(int tabs, std::string_view text);

}  // namespace oapx1

#endif  // OAPX1_HOST_PAGE_H_
