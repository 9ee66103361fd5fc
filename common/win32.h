// The one way <windows.h> comes into the programs: only the Win32 halves of
// the seams include it, and only through this header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// MinGW-w64 predefines a recent _WIN32_WINNT: pin Windows XP's level here,
// the one place it is set, so that nothing newer slips in by accident.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#undef WINVER
#define WINVER 0x0501
#include <windows.h>
