// Internal mail and short messages between the application's users.
#include "host/page.h"

namespace oapx1 {}  // namespace oapx1
