// The system's version query and Tool Help process snapshot: Windows' own,
// or our layer over /proc elsewhere.
#ifndef TARNWICK_PLATFORM_H
#define TARNWICK_PLATFORM_H

#ifdef _WIN32
#undef UNICODE  // the ANSI records and calls
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>
#ifdef _WIN64
static_assert(sizeof(PROCESSENTRY32) == 304, "64-bit process entry");
#else
static_assert(sizeof(PROCESSENTRY32) == 296, "32-bit process entry");
#endif
static_assert(sizeof(OSVERSIONINFOA) == 148, "version record");
#else
#include "linux/toolhelp.h"
#endif

#endif
