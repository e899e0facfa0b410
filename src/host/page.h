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

#include "platform/intrinsics.h"
#include "platform/variant.h"

namespace oapx1 {

// The class name that failure reports carry before the method name.
inline constexpr std::string_view kPageClassName = "tvwortqflowjiedia";

class Page {
 public:
  Page() = default;
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // --- Public surface, as the page host calls it -------------------------

  // Page-end notification; does nothing.
  void OnEndPage() {}
  // Binds the request context and produces the whole page; each page defines it.
  virtual void I_init() = 0;
  // Connection and session guard: limits, the request's connection in `conn`,
  // the session time-out from OA_AnQuan, the login script for a session without
  // a user. Must run before any method that touches `conn`.
  void tvdb_connI_init();
  // Resets the four list fields of the hierarchy walks; writes nothing visible.
  void tvtvfunctionI_init();
  // Writes nothing visible.
  void tvincfunctionuserI_init();
  // Writes the window include's head block (stylesheet, script, styles).
  void tvincfunctionwindI_init();
  // Writes nothing visible.
  void tvincfunctioncommI_init();
  // Writes nothing visible.
  void tvincfunctiondbI_init();
  // The text without its tags ("<" + a character that is not a line break +
  // anything up to the first ">"); null stays null. Never fails.
  Variant RemoveHtml(Variant Textstr);

  // --- Callbacks the window frames call, once each -----------------------

  // Writes the page's toolbar buttons.
  virtual void winmenu() {}
  // Writes the page's content.
  virtual void showcontent() {}

  // --- Connection and code tables ----------------------------------------

  // Closes `conn` and sets it to nothing; does nothing when there is none.
  void closedb();
  // The value of `column` in the first row of `table` whose `keycolumn` equals
  // the text `key`; "" when no row matches or the lookup fails (no report).
  Variant getnamefromid(Variant& table, Variant& column, Variant& keycolumn, Variant& key);
  // The same lookup under a second name, for the caller's reading.
  Variant getidfromid(Variant& table, Variant& column, Variant& keycolumn, Variant& key);

  // --- Window frames ------------------------------------------------------

  // Draws the pop-up window frame with `title`, calling winmenu() for the
  // toolbar and showcontent() for the content, then the message row.
  void showpopwindow(Variant& title);

  // --- Date and time ------------------------------------------------------

  // The template with its tokens (yyyy yy mm m dd d hh h nn n ss s) replaced by
  // the parts of the date; the first argument itself when it is not a date.
  Variant lwformatdatetime(Variant& datetime, Variant& format);
  Variant mydategeshi(Variant& datetime, Variant& format);
  // "year-month-day", unpadded.
  Variant formatdate(Variant& date);
  // The present moment as "yyyy年mm月dd日 weekday hh:nn:ss".
  Variant getsj();

  // --- Input sanitising and validation ------------------------------------

  Variant replacebadchar(Variant& text);
  Variant checkstring(Variant& text, Variant& a2, Variant& a3, Variant& a4);
  Variant isvalidemail(Variant& email);
  Variant to_number(Variant& text);
  Variant iif(Variant& condition, Variant& if_true, Variant& if_false);
  Variant gernd(Variant& length);
  Variant getuid();

  // --- Text display -------------------------------------------------------

  Variant getlongtext(Variant& text);
  Variant displaytext(Variant& text);
  Variant shrinklonginput(Variant& text, Variant& width);
  Variant stringcount(Variant& text, Variant& count);
  Variant writecountsign(Variant& text, Variant& count);
  Variant writecountsigns(Variant& level);

  // --- Files and folders --------------------------------------------------

  void deletefile(Variant& path);
  void copyfile(Variant& source, Variant& destination);
  void deletefolder(Variant& path);
  void createfolder(Variant& path);
  Variant folderisexist(Variant& path);
  Variant getfolderfilescount(Variant& path);
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
    } catch (const std::exception&) {
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
  // Runs `body` as the whole of report-and-leave method `method`: a failure
  // writes the event and the error trailer and leaves the method; the reserved
  // number passes up unreported.
  template <class F>
  void report_and_leave(std::string_view method, F&& body) {
    try {
      body();
    } catch (...) {
      handle_failure(method, false);
    }
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
