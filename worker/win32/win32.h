// The one way <windows.h> comes into the worker's Win32 half, with WinINet.
#pragma once

#include "common/win32.h"

#include <wininet.h>
