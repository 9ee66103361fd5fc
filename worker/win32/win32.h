// The one way <windows.h> comes into the worker's Win32 half.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// MinGW-w64 defaults to a recent _WIN32_WINNT already; pin Windows XP's
// level so that nothing newer slips in by accident.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include <windows.h>
#include <wininet.h>
