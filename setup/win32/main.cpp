// Process entry of setup, a windowed program without a window of its own.
// It starts without the compiler's C runtime start-up: msvcrt initialises
// itself when it loads, and the start-up code would cost more bytes than
// the whole program has room for in front of the package offset.
#include "common/win32.h"

#include "setup/setup.h"

extern "C" {

struct StartupInfo {
    int newMode;
};
int __cdecl __getmainargs(int* argc, char*** argv, char*** environment, int expandWildcards,
                          StartupInfo* info);

// setup runs elevated from wherever it was downloaded to, often beside other
// downloads: a DLL that is not a KnownDLL must never come from its own
// folder or the current one. Both calls are looked up, since the first is
// missing before Windows 8 (without its update) and the second before XP SP1.
void RestrictDllSearch() {
    const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCSTR);
    if (SetDefaultDllDirectoriesFn setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
        setDefault(kSearchSystem32);
    }
    if (SetDllDirectoryFn setDirectory = reinterpret_cast<SetDllDirectoryFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")))) {
        setDirectory("");
    }
}

void __cdecl SetupEntry() {
    RestrictDllSearch();  // before anything can load a DLL
    int argc = 0;
    char** argv = nullptr;
    char** environment = nullptr;
    StartupInfo info = {0};
    if (__getmainargs(&argc, &argv, &environment, 0, &info) < 0) ExitProcess(kExitModeFailed);
    ExitProcess(static_cast<UINT>(RunSetup(argc, argv, GetCommandLineA())));
}

}  // extern "C"
