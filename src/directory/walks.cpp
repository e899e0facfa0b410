// The general-functions include: its initialiser, and the walks over the
// parent-child tables of departments, document folders and request types,
// which collect their results in the four list fields it resets.
#include "host/page.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

void Page::tvtvfunctionI_init() {
  initialiser(__func__, [&] {
    departmentchildlist = "";
    departmentparentlist = "";
    folderparentlist = "";
    reqtypechildlist = "";
    for (int n = 0; n < 3; ++n) response_object().write("");
  });
}

}  // namespace oapx1
