// The node page's tests run on the page fixture with the node page's class and
// the rows of tests/golden/fixture.sql.
#ifndef OAPX1_TESTS_PAGES_NODE_PAGE_TEST_BASE_H_
#define OAPX1_TESTS_PAGES_NODE_PAGE_TEST_BASE_H_

#include <string>

#include "pages/flownode/node_settings_page.h"
#include "support/page_fixture.h"

namespace oapx1::testing {

class NodePageTest : public PageFixture<tvwortqflowjiedia> {
 protected:
  NodePageTest() { db.exec_file("tests/golden/fixture.sql"); }
  // A column of node 7 as stored.
  std::string stored(const std::string& column) {
    return db.scalar("select " + column + " from OA_Flow_Model_JieDian where OAID=7");
  }
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_PAGES_NODE_PAGE_TEST_BASE_H_
