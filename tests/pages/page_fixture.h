// Runs requests of the node settings page against a fresh database.
#ifndef OAPX1_TESTS_PAGES_PAGE_FIXTURE_H_
#define OAPX1_TESTS_PAGES_PAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "pages/flownode/node_settings_page.h"
#include "support/test_db.h"
#include "support/test_request.h"

namespace oapx1::testing {

class PageTest : public ::testing::Test {
 protected:
  PageTest() {
    db.exec_file("tests/golden/fixture.sql");
    request.application_state.set_item("TavrinOAURL", "/oa/");
    request.application_state.set_item("KXTDBConnectString", db.url());
    request.session.set_item("SystemURL", "/oa/");
    request.session.set_item("UserName", "admin");
  }

  // Runs one request of the page as the host does and returns the body.
  const std::string& run() {
    page = std::make_unique<tvwortqflowjiedia>();
    page->I_init();
    page->OnEndPage();
    return request.body();
  }
  // Adds posted form items.
  void post(std::initializer_list<std::pair<const char*, const char*>> items) {
    for (auto [name, value] : items) request.request.add_form(name, value);
  }
  // A column of node 7 as stored.
  std::string stored(const std::string& column) {
    return db.scalar("select " + column + " from OA_Flow_Model_JieDian where OAID=7");
  }
  bool contains(const std::string& text) { return request.body().find(text) != std::string::npos; }
  // Runs the request and compares the body with a golden page, byte for byte.
  void expect_golden(const std::string& file);

  TestDb db;
  TestRequest request;
  std::unique_ptr<tvwortqflowjiedia> page;  // the last request's page object
};

// The first line (CR LF separated) where two texts differ, for readable failures.
std::string first_difference(const std::string& expected, const std::string& actual);

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_PAGES_PAGE_FIXTURE_H_
