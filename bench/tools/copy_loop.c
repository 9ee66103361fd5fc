/* The yardstick of setup's copy rate: a trivial Windows program that copies
   one file to another through the same 32 KB ReadFile/WriteFile loop.
     copy_loop SOURCE TARGET     exit code 0 when the whole file was copied */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static char buffer[32768];

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    HANDLE source = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (source == INVALID_HANDLE_VALUE) return 1;
    HANDLE target = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    int result = 1;
    if (target != INVALID_HANDLE_VALUE) {
        DWORD count, written;
        for (;;) {
            if (!ReadFile(source, buffer, sizeof buffer, &count, NULL)) break;
            if (count == 0) {
                result = 0;
                break;
            }
            if (!WriteFile(target, buffer, count, &written, NULL) || written != count) break;
        }
        CloseHandle(target);
    }
    CloseHandle(source);
    return result;
}
