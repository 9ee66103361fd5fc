/* A test helper built for 64-bit Windows, where the Event Viewer is a 64-bit
   program: finds an event source's message file as that viewer does and
   prints the text of one message as the bytes FormatMessageA gives (hex).
     eventtext64 KEY ID    KEY under HKEY_LOCAL_MACHINE, in the 64-bit view
   Prints file=<expanded path> and text=<hex>; exits 1, saying why, when the
   value, the file or the message is not there. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) return fprintf(stderr, "usage: eventtext64 KEY ID\n"), 2;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS) {
        return printf("no key\n"), 1;
    }
    char value[MAX_PATH];
    DWORD type = 0, size = sizeof value - 1;
    LONG result = RegQueryValueExA(key, "EventMessageFile", NULL, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return printf("no EventMessageFile\n"), 1;
    }
    value[size] = '\0';
    char file[MAX_PATH];
    if (!ExpandEnvironmentStringsA(value, file, sizeof file)) {
        return printf("cannot expand %s - %lu\n", value, GetLastError()), 1;
    }
    printf("file=%s\n", file);
    HMODULE module = LoadLibraryExA(file, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return printf("cannot load - %lu\n", GetLastError()), 1;
    char text[1024];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module,
                             strtoul(argv[2], NULL, 0), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT),
                             text, sizeof text, NULL);
    DWORD error = GetLastError();
    FreeLibrary(module);
    if (!n) return printf("no message - %lu\n", error), 1;
    printf("text=");
    for (DWORD k = 0; k < n; ++k) printf("%02X", (unsigned char)text[k]);
    printf("\n");
    return 0;
}
