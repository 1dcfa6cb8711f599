// The system's version query and Tool Help process snapshot: Windows' own,
// or our layer over /proc elsewhere.
#ifndef TARNWICK_PLATFORM_H
#define TARNWICK_PLATFORM_H

#ifdef _WIN32
#undef UNICODE  // the ANSI records and calls
#include <windows.h>
#include <tlhelp32.h>
#else
#include "linux/toolhelp.h"
#endif

#endif
