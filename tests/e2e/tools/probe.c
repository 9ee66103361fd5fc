/* A test helper run under Wine: reads what the tests cannot see from Linux.
     probe messages PROGRAM ID...   message-table text of each ID, as hex ("-" when absent)
     probe version PROGRAM          the version block's fixed versions and strings (UTF-16LE hex)
     probe icons PROGRAM GROUP      the images of an icon group: WIDTHxHEIGHT@BITS, and
                                    " unreadable" behind one that Windows cannot load
     probe hold PATH                opens PATH for writing without sharing, until stdin ends
     probe regvalue KEY VALUE       type, byte count and bytes (hex) of a value under HKEY_LOCAL_MACHINE
     probe exitcode COMMANDLINE     runs the command, prints its full exit code
     probe svctime SERVICE          starts the service, then stops it: milliseconds from each
                                    request to RUNNING and to STOPPED, polled every millisecond
     probe svcstop SERVICE          stops the running service: milliseconds from the control to
                                    STOPPED, polled every millisecond
     probe sddl PATH                the access list of a file or folder, as SDDL ("D:...")
     probe setsddl PATH SDDL        gives a file or folder that access list (e.g. a protected one)
     probe saves INI SECONDS PREFIX PAUSE [rename]  a user saving INI in place (or by renaming
                                    INI.new over it) for SECONDS, PAUSE ms apart,
                                    each time with the next url=PREFIX<n>; a save not back 2 s after
                                    an older one shows counts as undone; also how often it
                                    found a new status line and had a save refused:
                                    "saves=N undone=M lines=K refused=R" */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
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
        int width = entry->width ? entry->width : 256, height = entry->height ? entry->height : 256;
        /* as Windows draws it: an image it cannot read is said so */
        HICON icon = (HICON)LoadImageA(module, MAKEINTRESOURCEA(atoi(argv[3])), IMAGE_ICON, width,
                                       height, 0);
        ICONINFO info;
        BITMAP bitmap = {0};
        int read = icon && GetIconInfo(icon, &info) &&
                   GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap) &&
                   bitmap.bmWidth == width;
        printf("%dx%d@%d%s\n", width, height, entry->bits, read ? "" : " unreadable");
        if (icon) DestroyIcon(icon);
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

static int stop_timed(SC_HANDLE manager, SC_HANDLE service);

static int svctime(char** argv) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, argv[2], SERVICE_START | SERVICE_STOP |
                                                                 SERVICE_QUERY_STATUS) : NULL;
    if (!service) return printf("cannot open - %lu\n", GetLastError()), 1;
    DWORD since = GetTickCount();
    if (!StartServiceA(service, 0, NULL)) return printf("cannot start - %lu\n", GetLastError()), 1;
    printf("start=%lu\n", poll_until(service, SERVICE_RUNNING, since));
    Sleep(500);
    return stop_timed(manager, service);
}

/* Sends the stop, prints the milliseconds to STOPPED, closes both handles. */
static int stop_timed(SC_HANDLE manager, SC_HANDLE service) {
    SERVICE_STATUS status;
    DWORD since = GetTickCount();
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        return printf("cannot stop - %lu\n", GetLastError()), 1;
    }
    printf("stop=%lu\n", poll_until(service, SERVICE_STOPPED, since));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}

static int svcstop(char** argv) {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, argv[2], SERVICE_STOP | SERVICE_QUERY_STATUS)
                                : NULL;
    if (!service) return printf("cannot open - %lu\n", GetLastError()), 1;
    return stop_timed(manager, service);
}

static int sddl(char** argv) {
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD error = GetNamedSecurityInfoA(argv[2], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL,
                                        NULL, NULL, NULL, &descriptor);
    if (error != ERROR_SUCCESS) return printf("cannot read - %lu\n", error), 1;
    char* text = NULL;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, NULL)) {
        return printf("cannot convert - %lu\n", GetLastError()), 1;
    }
    printf("%s\n", text);
    LocalFree(text);
    LocalFree(descriptor);
    return 0;
}

static int setsddl(char** argv) {
    /* SetFileSecurityA, as the programs do: it takes the list as given (a "D:P" list stays
       protected), where Wine's SetNamedSecurityInfoA merges in what the folder passes on. */
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[3], SDDL_REVISION_1, &descriptor,
                                                              NULL)) {
        return printf("cannot convert - %lu\n", GetLastError()), 1;
    }
    BOOL set = SetFileSecurityA(argv[2], DACL_SECURITY_INFORMATION, descriptor);
    DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!set) return printf("cannot set - %lu\n", error), 1;
    printf("set\n");
    return 0;
}

/* The file's text, terminated; its length, -1 when it cannot be read. */
static int read_text(const char* path, char* text, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD read = 0;
    BOOL ok = ReadFile(file, text, size - 1, &read, NULL);
    CloseHandle(file);
    if (!ok) return -1;
    text[read] = 0;
    return (int)read;
}

/* The value of the line that starts with name ("lastlog=", "url="), up to its end. */
static void value_of(const char* text, const char* name, char* value, size_t size) {
    const char* at = strstr(text, name);
    size_t n = 0;
    if (at) {
        at += strlen(name);
        while (at[n] && at[n] != '\r' && at[n] != '\n' && n < size - 1) ++n;
        memcpy(value, at, n);
    }
    value[n] = 0;
}

/* Polls every millisecond, for at most ms, until the value of the line differs from (or, with
   same, equals) value; whether it did. */
static int wait_value(const char* path, const char* name, const char* value, int same, DWORD ms) {
    char text[8192], now[1024];
    DWORD since = GetTickCount();
    do {
        if (read_text(path, text, sizeof text) >= 0) {
            value_of(text, name, now, sizeof now);
            if ((strcmp(now, value) == 0) == same) return 1;
        }
        Sleep(1);
    } while (GetTickCount() - since < ms);
    return 0;
}

static int saves(int argc, char** argv) {
    const char* path = argv[2];
    char target[MAX_PATH];
    snprintf(target, sizeof target, argc > 6 ? "%s.new" : "%s", path);
    DWORD ms = (DWORD)atoi(argv[3]) * 1000, since = GetTickCount();
    int count = 0, undone = 0, lines = 0, refused = 0;
    char text[8192], saved[8192], url[1024] = "", now[1024], status[1024] = "", line[1024];
    while (GetTickCount() - since < ms && count < 9999) {
        if (read_text(path, text, sizeof text) < 0) continue;  /* missing a moment */
        value_of(text, "lastlog=", line, sizeof line);
        if (strcmp(line, status) != 0) ++lines;  /* the program wrote a status line */
        strcpy(status, line);
        value_of(text, "\nurl=", now, sizeof now);
        if (count > 0 && strcmp(now, url) != 0) {
            /* An older save than the last: the program may be putting the last one back. */
            if (!wait_value(path, "\nurl=", url, 1, 2000)) {
                ++undone;
                printf("undone: %s\n", url);
            }
            if (read_text(path, text, sizeof text) < 0) continue;
        }
        /* Saved, as an editor does, with the next URL. */
        char* at = strstr(text, "\r\nurl=");
        char* end = at ? strstr(at + 2, "\r\n") : NULL;
        if (!end) return printf("no url line\n"), 1;
        snprintf(url, sizeof url, "%s%04d", argv[4], count + 1);
        int n = snprintf(saved, sizeof saved, "%.*s\r\nurl=%s%s", (int)(at - text), text, url, end);
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int tries = 0; tries < 100 && file == INVALID_HANDLE_VALUE; ++tries) {
            file = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               argc > 6 ? CREATE_ALWAYS : OPEN_EXISTING, 0, NULL);
            if (file == INVALID_HANDLE_VALUE) {
                ++refused;
                Sleep(1);
            }
        }
        if (file == INVALID_HANDLE_VALUE) return printf("cannot save - %lu\n", GetLastError()), 1;
        DWORD written = 0;
        WriteFile(file, saved, (DWORD)n, &written, NULL);
        SetEndOfFile(file);
        CloseHandle(file);
        for (int tries = 0; argc > 6 && !MoveFileExA(target, path, MOVEFILE_REPLACE_EXISTING); ++tries) {
            if (tries == 100) return printf("cannot rename - %lu\n", GetLastError()), 1;
            ++refused;
            Sleep(1);
        }
        ++count;
        Sleep((DWORD)atoi(argv[5]));
    }
    printf("saves=%d undone=%d lines=%d refused=%d\n", count, undone, lines, refused);
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
    if (argc >= 3 && !strcmp(argv[1], "svcstop")) return svcstop(argv);
    if (argc >= 3 && !strcmp(argv[1], "sddl")) return sddl(argv);
    if (argc >= 4 && !strcmp(argv[1], "setsddl")) return setsddl(argv);
    if (argc >= 6 && !strcmp(argv[1], "saves")) return saves(argc, argv);
    fprintf(stderr, "usage: probe messages|version|icons|hold|regvalue|exitcode|svctime|svcstop|sddl|setsddl|saves ...\n");
    return 2;
}
