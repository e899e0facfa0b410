// The login access policy: who may sign in, from where and when.
#include "host/page.h"

namespace oapx1 {}  // namespace oapx1
