// The one page fixture of the test programs: a page object of the class under
// test on an in-memory request bound to the test's thread, with a fresh SQLite
// database built from the shipped schema and named as the application's
// connection string. Library-method tests use the default LibraryPage; the
// node page's tests pass its class.
#ifndef OAPX1_TESTS_SUPPORT_PAGE_FIXTURE_H_
#define OAPX1_TESTS_SUPPORT_PAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/page.h"
#include "platform/web/event_log.h"
#include "platform/web/process.h"
#include "support/test_db.h"
#include "support/test_request.h"

namespace oapx1::testing {

// The library methods alone, without a page of its own.
class LibraryPage : public Page {
 public:
  void I_init() override {}
};

// A variant as "type:value", so expectations state the type too:
// "empty", "null", "text:abc", "number:42", "bool:True", "date:2026-5-6", "object".
std::string describe(const Variant& v);

// The first line (CR LF separated) where two texts differ, for readable failures.
std::string first_difference(const std::string& expected, const std::string& actual);

template <class P = LibraryPage>
class PageFixture : public ::testing::Test {
 protected:
  // The request of a signed-in administrator: application root "/oa/", the
  // test database as the cached connection string.
  PageFixture() : page(std::make_unique<P>()) {
    request.application_state.set_item("TavrinOAURL", "/oa/");
    request.application_state.set_item("KXTDBConnectString", db.url());
    request.session.set_item("SystemURL", "/oa/");
    request.session.set_item("UserName", "admin");
  }

  // Opens the page's connection as the connection include does, then forgets
  // what that wrote, so a test reads only its method's output.
  void connect() {
    page->tvdb_connI_init();
    request.response.body().clear();
  }
  // Runs one request on a fresh page object as the host does: I_init, then
  // OnEndPage. Returns the whole body.
  const std::string& run() {
    page = std::make_unique<P>();
    page->I_init();
    page->OnEndPage();
    return request.body();
  }
  // Adds posted form items.
  void post(std::initializer_list<std::pair<const char*, const char*>> items) {
    for (auto [name, value] : items) request.request.add_form(name, value);
  }
  // Runs the request and compares the body with a page of tests/golden/, byte
  // for byte; the page must log no event.
  void expect_golden(const std::string& file) {
    const std::string expected = read_source_file("tests/golden/" + file);
    const std::string& actual = run();
    EXPECT_TRUE(expected == actual) << file << ": " << first_difference(expected, actual);
    EXPECT_TRUE(request.events.entries().empty())
        << file << ": unexpected event " << request.event_texts().front();
  }

  // What the page wrote to the response so far.
  const std::string& output() const { return request.body(); }
  bool contains(const std::string& text) const { return output().find(text) != std::string::npos; }
  // The event log entries so far, as (type, text).
  std::vector<std::pair<int, std::string>> events() const { return request.events.entries(); }

  // Whatever a test changes of the clock, weekday names or database is put
  // back when it ends.
  ScopedProcessSettings settings{[](ProcessSettings&) {}};
  TestDb db;                 // the application database
  TestRequest request;       // the bound intrinsic objects and the collected events
  std::unique_ptr<P> page;   // the page under test (replaced by run())
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_PAGE_FIXTURE_H_
