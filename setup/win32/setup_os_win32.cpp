// setup's operations on Windows: files and folders, the message box, paths
// and the installer process, all ANSI, on KnownDLLs alone.
#include "common/win32.h"

#include <mbstring.h>
#include <stdlib.h>

#include "common/unique_handle.h"
#include "setup/setup_os.h"

namespace setupos {

namespace {
// The holders' closers: plain functions of ours, not the DLL imports.
bool CloseKernelHandle(HANDLE handle) { return CloseHandle(handle) != FALSE; }
bool CloseSearch(HANDLE search) { return FindClose(search) != FALSE; }
using KernelHandle = UniqueHandle<HANDLE, CloseKernelHandle>;
using SearchHandle = UniqueHandle<HANDLE, CloseSearch>;

// The holders' "none" is null; file and search calls fail with
// INVALID_HANDLE_VALUE.
HANDLE FromHandle(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }
const char kCaption[] = "setup";
}  // namespace

File OpenOrCreateForWriting(const char* path, bool* existed) {
    // Reading the attributes too: MayBeSameFile asks for the file's number.
    const HANDLE file = CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    *existed = GetLastError() == ERROR_ALREADY_EXISTS;
    return FromHandle(file);
}

File CreateNewForWriting(const char* path) {
    return FromHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
}

File OpenForReading(const char* path) {
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

File HoldForReading(const char* path) {
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool SeekTo(File file, uint32_t offset) {
    return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
           INVALID_SET_FILE_POINTER;
}

bool ReadBlock(File file, void* buffer, uint32_t size, uint32_t* count) {
    DWORD read = 0;
    const BOOL ok = ReadFile(file, buffer, size, &read, nullptr);
    *count = read;
    return ok != FALSE;
}

bool WriteBlock(File file, const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool CutHere(File file) { return SetEndOfFile(file) != FALSE; }
bool CloseFile(File file) { return CloseKernelHandle(file); }

bool MayBeSameFile(File file, const char* path) {
    // Opened for its attributes alone: no sharing mode stands in the way,
    // no read right is needed, and a folder opens too.
    const KernelHandle other(FromHandle(CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)));
    BY_HANDLE_FILE_INFORMATION a, b;
    if (!other || !GetFileInformationByHandle(file, &a) ||
        !GetFileInformationByHandle(other.Get(), &b)) {
        return true;
    }
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool DeleteNamedFile(const char* path) { return DeleteFileA(path) != FALSE; }

bool Exists(const char* path) {
    WIN32_FIND_DATAA found;
    return static_cast<bool>(SearchHandle(FromHandle(FindFirstFileA(path, &found))));
}

uint32_t LastError() { return GetLastError(); }
bool IsAlreadyExists(uint32_t error) { return error == ERROR_ALREADY_EXISTS; }

namespace {
// Well-known SIDs, laid out as the SID structure: revision, count of sub-
// authorities, the NT authority (5), then the sub-authorities.
struct WellKnownSid {
    BYTE revision, count, authority[6];
    DWORD subAuthority[2];
};
const WellKnownSid kLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {SECURITY_LOCAL_SYSTEM_RID, 0}};
const WellKnownSid kAdministrators = {
    1, 2, {0, 0, 0, 0, 0, 5}, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

bool Allow(ACL* acl, const void* sid) {
    return AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                 GENERIC_ALL, const_cast<void*>(sid)) != FALSE;
}
}  // namespace

bool MakePrivateFolder(const char* path) {
    // The running user from the process token; the access list is protected
    // so that nothing is inherited from the temporary folder, where every
    // local user may be let in.
    union {
        TOKEN_USER user;
        BYTE bytes[128];
    } token;
    union {
        ACL acl;
        BYTE bytes[256];
    } list;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const KernelHandle tokenHandle(opened);
    DWORD size = 0;
    SECURITY_DESCRIPTOR descriptor;
    if (!GetTokenInformation(tokenHandle.Get(), TokenUser, &token, sizeof token, &size) ||
        !InitializeAcl(&list.acl, sizeof list, ACL_REVISION) ||
        !Allow(&list.acl, token.user.User.Sid) || !Allow(&list.acl, &kLocalSystem) ||
        !Allow(&list.acl, &kAdministrators) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, &list.acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return false;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    return CreateDirectoryA(path, &attributes) != FALSE;
}

bool RemoveFolder(const char* path) { return RemoveDirectoryA(path) != FALSE; }

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, kCaption, MB_OK); }

uint32_t ModulePath(char* buffer, uint32_t size) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    return length < size ? length : 0;
}

uint32_t TempFolder(char* buffer, uint32_t size) {
    const DWORD length = GetTempPathA(size, buffer);
    return length < size ? length : 0;  // a longer path does not fit: none
}

uint32_t SystemFolder(char* buffer, uint32_t size) {
    const UINT length = GetSystemDirectoryA(buffer, size);
    return length < size ? length : 0;
}

uint32_t ProcessNumber() { return GetCurrentProcessId(); }
uint32_t Ticks() { return GetTickCount(); }

void LowerCase(char* text) { _mbslwr(reinterpret_cast<unsigned char*>(text)); }

int Compare(const char* a, const char* b) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(a),
                   reinterpret_cast<const unsigned char*>(b));
}

void* AllocateBuffer(uint32_t size) { return malloc(size); }
void FreeBuffer(void* buffer) { free(buffer); }

RunResult RunAndWait(const char* application, char* commandLine, uint32_t* exitCode) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;  // 68
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &started)) {
        return RunResult::NotStarted;
    }
    KernelHandle process(started.hProcess);
    const KernelHandle thread(started.hThread);
    const KernelHandle query(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, started.dwProcessId));
    WaitForSingleObject(process.Get(), INFINITE);
    process.Reset();
    DWORD code = 0;
    if (!query || !GetExitCodeProcess(query.Get(), &code)) return RunResult::NoExitCode;
    *exitCode = code;
    return RunResult::Exited;
}

}  // namespace setupos
