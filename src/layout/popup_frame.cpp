#include "host/page.h"
