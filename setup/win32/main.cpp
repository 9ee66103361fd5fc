// Process entry of setup, a windowed program without a window of its own.
// It starts without the compiler's C runtime start-up: msvcrt initialises
// itself when it loads, and the start-up code would cost more bytes than
// the whole program has room for in front of the package offset.
#include "win32.h"

#include "../setup.h"

extern "C" {

struct StartupInfo {
    int newMode;
};
int __cdecl __getmainargs(int* argc, char*** argv, char*** environment, int expandWildcards,
                          StartupInfo* info);

void __cdecl SetupEntry() {
    int argc = 0;
    char** argv = nullptr;
    char** environment = nullptr;
    StartupInfo info = {0};
    if (__getmainargs(&argc, &argv, &environment, 0, &info) < 0) ExitProcess(kExitModeFailed);
    ExitProcess(static_cast<UINT>(RunSetup(argc, argv, GetCommandLineA())));
}

}  // extern "C"
