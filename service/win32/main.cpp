// Process entry of the service program. It starts without the compiler's C
// runtime start-up (msvcrt initialises itself when it loads): the program's
// own entry takes the arguments from msvcrt and ends the process with the
// command's exit code. Nothing here relies on global constructors.
#include "common/win32.h"

#include "service/commands.h"

extern "C" {

struct StartupInfo {
    int newMode;
};
int __cdecl __getmainargs(int* argc, char*** argv, char*** environment, int expandWildcards,
                          StartupInfo* info);

void __cdecl PelkorEntry() {
    int argc = 0;
    char** argv = nullptr;
    char** environment = nullptr;
    StartupInfo info = {0};
    if (__getmainargs(&argc, &argv, &environment, 0, &info) < 0) ExitProcess(1);
    ExitProcess(static_cast<UINT>(RunEntry(argc, argv)));
}

}  // extern "C"
