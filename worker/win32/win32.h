// The one way <windows.h> comes into the worker's Win32 half, with WinINet.
#pragma once

#include "common/win32.h"

#include <wininet.h>

// The closer of a library the worker loads for a moment (a plain function:
// FreeLibrary is a DLL import).
inline void ReleaseModule(HMODULE module) { FreeLibrary(module); }
