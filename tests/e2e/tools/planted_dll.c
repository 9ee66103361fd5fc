/* A DLL planted beside a program for setup's tests: when it is loaded, it
   writes its own path into C:\planted-dll-loaded.txt, the mark that the
   program took it instead of the system's. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(instance, path, sizeof path);
        HANDLE mark = CreateFileA("C:\\planted-dll-loaded.txt", FILE_APPEND_DATA, FILE_SHARE_READ,
                                  NULL, OPEN_ALWAYS, 0, NULL);
        if (mark != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(mark, path, length, &written, NULL);
            WriteFile(mark, "\r\n", 2, &written, NULL);
            CloseHandle(mark);
        }
    }
    return TRUE;
}
