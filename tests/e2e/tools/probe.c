/* A test helper run under Wine: reads what the tests cannot see from Linux.
     probe messages PROGRAM ID...   message-table text of each ID, as hex ("-" when absent)
     probe version PROGRAM          the version block's fixed versions and strings (UTF-16LE hex)
     probe icons PROGRAM GROUP      the images of an icon group: WIDTHxHEIGHT@BITS
     probe hold PATH                opens PATH for writing without sharing, until stdin ends
     probe regvalue KEY VALUE       type, byte count and bytes (hex) of a value under HKEY_LOCAL_MACHINE
     probe exitcode COMMANDLINE     runs the command, prints its full exit code
     probe svctime SERVICE          starts the service, then stops it: milliseconds from each
                                    request to RUNNING and to STOPPED, polled every millisecond */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static void hex(const char* text, DWORD n) {
    for (DWORD k = 0; k < n; ++k) printf("%02X", (unsigned char)text[k]);
}

static int messages(int argc, char** argv) {
    HMODULE module = LoadLibraryExA(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return printf("cannot load - %lu\n", GetLastError()), 1;
    for (int i = 3; i < argc; ++i) {
        DWORD id = strtoul(argv[i], NULL, 0);
        char text[1024];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 module, id, 0x411, text, sizeof text, NULL);
        printf("0x%08lX ", id);
        if (n == 0) printf("-");
        hex(text, n);
        printf("\n");
    }
    FreeLibrary(module);
    return 0;
}

static int version(char** argv) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(argv[2], &ignored);
    if (!size) return printf("no version block - %lu\n", GetLastError()), 1;
    char* block = malloc(size);
    GetFileVersionInfoA(argv[2], 0, size, block);
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (VerQueryValueA(block, "\\", (void**)&fixed, &length)) {
        printf("FixedFileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
               LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
               LOWORD(fixed->dwFileVersionLS));
        printf("FixedProductVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
               LOWORD(fixed->dwProductVersionLS));
    }
    WORD* translation = NULL;
    if (VerQueryValueA(block, "\\VarFileInfo\\Translation", (void**)&translation, &length) &&
        length >= 4) {
        printf("Translation=%04x%04x\n", translation[0], translation[1]);
        static const char* names[] = {"FileDescription", "FileVersion", "InternalName",
                                      "OriginalFilename", "ProductName", "ProductVersion"};
        for (int i = 0; i < 6; ++i) {
            /* the strings as stored (UTF-16), whatever this process's code page */
            WCHAR path[128];
            WCHAR* value = NULL;
            swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%hs", translation[0],
                     translation[1], names[i]);
            if (VerQueryValueW(block, path, (void**)&value, &length)) {
                printf("%s=", names[i]);
                hex((const char*)value, (DWORD)(wcslen(value) * sizeof(WCHAR)));
                printf("\n");
            }
        }
    }
    free(block);
    return 0;
}

#pragma pack(push, 2)
typedef struct {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
} GroupEntry;
#pragma pack(pop)

static int icons(char** argv) {
    HMODULE module = LoadLibraryExA(argv[2], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return printf("cannot load - %lu\n", GetLastError()), 1;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(atoi(argv[3])), (LPCSTR)RT_GROUP_ICON);
    if (!found) return printf("no icon group\n"), 1;
    const WORD* group = (const WORD*)LockResource(LoadResource(module, found));
    const GroupEntry* entry = (const GroupEntry*)(group + 3);
    for (WORD i = 0; i < group[2]; ++i, ++entry) {
        printf("%dx%d@%d\n", entry->width ? entry->width : 256, entry->height ? entry->height : 256,
               entry->bits);
    }
    FreeLibrary(module);
    return 0;
}

static int hold(char** argv) {
    HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return printf("cannot open - %lu\n", GetLastError()), 1;
    printf("holding\n");
    fflush(stdout);
    char line[16];
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, NULL);
    CloseHandle(file);
    return 0;
}

static int regvalue(char** argv) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[2], 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return printf("no key\n"), 1;
    }
    char data[2048];
    DWORD type = 0, size = sizeof data;
    LONG result = RegQueryValueExA(key, argv[3], NULL, &type, (BYTE*)data, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return printf("no value\n"), 1;
    printf("type=%lu size=%lu data=", type, size);
    hex(data, size);
    printf("\n");
    return 0;
}

static int exitcode(char** argv) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, argv[2], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        return printf("cannot start - %lu\n", GetLastError()), 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("exitcode=%lu\n", code);
    return 0;
}

static DWORD poll_until(SC_HANDLE service, DWORD state, DWORD since) {
    SERVICE_STATUS status;
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != state) Sleep(1);
    return GetTickCount() - since;
}

static int svctime(char** argv) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, argv[2], SERVICE_START | SERVICE_STOP |
                                                                 SERVICE_QUERY_STATUS) : NULL;
    if (!service) return printf("cannot open - %lu\n", GetLastError()), 1;
    DWORD since = GetTickCount();
    if (!StartServiceA(service, 0, NULL)) return printf("cannot start - %lu\n", GetLastError()), 1;
    printf("start=%lu\n", poll_until(service, SERVICE_RUNNING, since));
    Sleep(500);
    SERVICE_STATUS status;
    since = GetTickCount();
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        return printf("cannot stop - %lu\n", GetLastError()), 1;
    }
    printf("stop=%lu\n", poll_until(service, SERVICE_STOPPED, since));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 4 && !strcmp(argv[1], "messages")) return messages(argc, argv);
    if (argc >= 3 && !strcmp(argv[1], "version")) return version(argv);
    if (argc >= 4 && !strcmp(argv[1], "icons")) return icons(argv);
    if (argc >= 3 && !strcmp(argv[1], "hold")) return hold(argv);
    if (argc >= 4 && !strcmp(argv[1], "regvalue")) return regvalue(argv);
    if (argc >= 3 && !strcmp(argv[1], "exitcode")) return exitcode(argv);
    if (argc >= 3 && !strcmp(argv[1], "svctime")) return svctime(argv);
    fprintf(stderr, "usage: probe messages|version|icons|hold|regvalue|exitcode|svctime ...\n");
    return 2;
}
