// A page whose callbacks write markers, so a frame's own markup can be read
// apart from the page's, and the order of the callbacks seen.
#ifndef OAPX1_TESTS_LAYOUT_MARKER_PAGE_H_
#define OAPX1_TESTS_LAYOUT_MARKER_PAGE_H_

#include "host/page.h"

namespace oapx1::testing {

class MarkerPage : public Page {
 public:
  void I_init() override {}
  void winmenu() override { response_object().write("[winmenu]"); }
  void showcontent() override { response_object().write("[showcontent]"); }
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_LAYOUT_MARKER_PAGE_H_
