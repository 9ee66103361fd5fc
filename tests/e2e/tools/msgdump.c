/* Prints the message-table text of each ID given, as FormatMessageA returns
   it from a program's resources: "ID HEXBYTES" per line, "ID -" when absent.
   usage: msgdump PROGRAM ID... */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HMODULE module = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        printf("cannot load %s - %lu\n", argv[1], GetLastError());
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        DWORD id = strtoul(argv[i], NULL, 0);
        char text[1024];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 module, id, 0x411, text, sizeof text, NULL);
        printf("0x%08lX ", id);
        if (n == 0) printf("-");
        for (DWORD k = 0; k < n; ++k) printf("%02X", (unsigned char)text[k]);
        printf("\n");
    }
    FreeLibrary(module);
    return 0;
}
