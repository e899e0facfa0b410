// The process-wide settings live below the data layer and the web objects
// (platform/process/process.h), since both obey them; this path stays for
// the pages and programs built on the installed page class.
#ifndef OAPX1_PLATFORM_WEB_PROCESS_H_
#define OAPX1_PLATFORM_WEB_PROCESS_H_

#include "platform/process/process.h"

#endif  // OAPX1_PLATFORM_WEB_PROCESS_H_
