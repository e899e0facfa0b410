// The user-functions include: its initialiser, and the lookups of users,
// departments and the other directory names by key.
#include "host/page.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

void Page::tvincfunctionuserI_init() {
  initialiser(__func__, [&] { response_object().write(""); });
}

}  // namespace oapx1
