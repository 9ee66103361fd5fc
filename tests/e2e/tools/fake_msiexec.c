/* A stand-in for the system installer, for setup's tests. It appends one
   line per run to the file named by FAKE_MSIEXEC_LOG:
     <own path>|<command line>|<bytes of the quoted .msi package, or -1>
   then, when FAKE_MSIEXEC_SECOND names a setup file, runs it once (with
   the variable removed) and appends "second|<its exit code>", and ends with
   the exit code in FAKE_MSIEXEC_EXIT (default 0). When FAKE_MSIEXEC_COPY
   names a file, the package is first copied there as it was received. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static long long package_size(const char* commandLine, const char* copyTo) {
    const char* end = strstr(commandLine, ".msi\"");
    if (!end) return -1;
    const char* start = end;
    while (start > commandLine && start[-1] != '"') --start;
    char path[MAX_PATH];
    size_t length = (size_t)(end - start) + 4;
    if (length >= sizeof path) return -1;
    memcpy(path, start, length);
    path[length] = '\0';
    if (copyTo && !CopyFileA(path, copyTo, FALSE)) return -2;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return -1;
    DWORD size = GetFileSize(file, NULL);
    CloseHandle(file);
    return size;
}

int main(void) {
    char log[MAX_PATH], own[MAX_PATH], second[MAX_PATH], code[32], copy[MAX_PATH];
    if (!GetEnvironmentVariableA("FAKE_MSIEXEC_LOG", log, sizeof log)) return 2;
    GetModuleFileNameA(NULL, own, sizeof own);
    const char* commandLine = GetCommandLineA();
    FILE* out = fopen(log, "ab");
    if (!out) return 3;
    const int copying = GetEnvironmentVariableA("FAKE_MSIEXEC_COPY", copy, sizeof copy) != 0;
    fprintf(out, "%s|%s|%lld\n", own, commandLine, package_size(commandLine, copying ? copy : NULL));
    fflush(out);
    if (GetEnvironmentVariableA("FAKE_MSIEXEC_SECOND", second, sizeof second)) {
        SetEnvironmentVariableA("FAKE_MSIEXEC_SECOND", NULL);
        STARTUPINFOA startup;
        PROCESS_INFORMATION process;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        DWORD exitCode = 0xFFFFFFFF;
        if (CreateProcessA(second, NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            GetExitCodeProcess(process.hProcess, &exitCode);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        fprintf(out, "second|%lu\n", exitCode);
    }
    fclose(out);
    DWORD exitCode = 0;
    if (GetEnvironmentVariableA("FAKE_MSIEXEC_EXIT", code, sizeof code)) exitCode = strtoul(code, NULL, 10);
    return (int)exitCode;
}
