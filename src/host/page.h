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

  // --- User-functions include: directory lookups (directory/user_lookups.cpp)

  // Writes nothing visible.
  void tvincfunctionuserI_init();
  // The full name (TureName) of a login name; "服务器" for "800" without a
  // query; "" when no user has that name. Leaves its statement in `sql`.
  // (defined with the directory lookups)
  Variant showusername(Variant& name);

  // --- General-functions include: trees and walks (directory/walks.cpp) ---

  // Resets the four list fields of the hierarchy walks; writes nothing visible.
  void tvtvfunctionI_init();

  // --- Window include: frames (layout/window_include.cpp) ----------------

  // Writes the window include's head block (stylesheet, script, styles).
  void tvincfunctionwindI_init();
  // Draws the pop-up window frame with `title`, calling winmenu() for the
  // toolbar and showcontent() for the content, then the message row.
  void showpopwindow(Variant& title);

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

  // Binds the intrinsic objects of the current call into this thread's slots
  // (the first step of I_init); binding never reports a failure.
  void bind_request_context();

  // --- Failure modes ------------------------------------------------------

  // One statement of an ignore-and-continue method: a failure, whatever its
  // number, is dropped. Returns false when the statement failed.
  template <class F>
  static bool step(F&& body) {
    try {
      body();
      return true;
    } catch (...) {
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
};

// Writes `tabs` tab characters, the text and CR LF to the response: one static
// line of the page's markup.
void write_line(int tabs, std::string_view text);
// Writes `tabs` tab characters and the text, without a line end.
void write_text(int tabs, std::string_view text);

}  // namespace oapx1

#endif  // OAPX1_HOST_PAGE_H_
