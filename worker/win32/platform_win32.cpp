// The worker's operations on Windows: kernel objects, the private-profile
// functions, the event log, the capture file and WinINet, all ANSI.
#include "worker/win32/win32.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "common/unique_handle.h"
#include "service/service.h"
#include "worker/platform.h"
#include "worker/settings_file.h"
#include "worker/text.h"

namespace platform {

namespace {

void ReleaseLocal(char* memory) { LocalFree(memory); }
void CloseInternet(HINTERNET handle) { InternetCloseHandle(handle); }

// FormatMessageA into an allocated buffer, so that a long message is cut
// rather than lost.
size_t FormatInto(DWORD flags, HMODULE module, uint32_t error, char* buffer, size_t size) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        module, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                        reinterpret_cast<char*>(&text), 0, nullptr);
    const UniqueHandle<char*, ReleaseLocal> held(text);
    if (length == 0 || !text) return 0;
    return CopyCut(buffer, size, text, length);
}

bool IsResponseHandleType(DWORD type) {
    switch (type) {
        case INTERNET_HANDLE_TYPE_FTP_FILE:
        case INTERNET_HANDLE_TYPE_FTP_FILE_HTML:
        case INTERNET_HANDLE_TYPE_GOPHER_FILE:
        case INTERNET_HANDLE_TYPE_GOPHER_FILE_HTML:
        case INTERNET_HANDLE_TYPE_HTTP_REQUEST:
        case INTERNET_HANDLE_TYPE_FILE_REQUEST:
            return true;
        default:
            return false;
    }
}

// The URL's scheme as WinINet splits it, or INTERNET_SCHEME_UNKNOWN when
// it cannot be split.
INTERNET_SCHEME SchemeOf(const char* url) {
    char canonical[INTERNET_MAX_URL_LENGTH + 1];
    DWORD length = sizeof canonical;
    if (!InternetCanonicalizeUrlA(url, canonical, &length, ICU_BROWSER_MODE)) {
        return INTERNET_SCHEME_UNKNOWN;
    }
    URL_COMPONENTSA parts;
    std::memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    if (!InternetCrackUrlA(canonical, 0, 0, &parts)) return INTERNET_SCHEME_UNKNOWN;
    return parts.nScheme;
}

}  // namespace

// ---- kernel objects and time -------------------------------------------

Handle CreateManualResetEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
Handle CreateAutoResetEvent() { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }
bool SetEventSignal(Handle event) { return SetEvent(event) != FALSE; }
uint32_t WaitForEvent(Handle event, uint32_t milliseconds) {
    return WaitForSingleObject(event, milliseconds);
}
uint32_t WaitForWork(Handle stop, Handle now, uint32_t milliseconds) {
    // The stop event first: when both are set, the stop wins.
    const HANDLE events[2] = {stop, now};
    return WaitForMultipleObjects(2, events, FALSE, milliseconds);
}
uint32_t LastError() { return GetLastError(); }
void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
void CloseKernelHandle(Handle handle) {
    if (handle) CloseHandle(handle);
}
uint32_t TickCount() { return GetTickCount(); }

LocalTime CurrentLocalTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// ---- module path ---------------------------------------------------------

static_assert(kModulePathSize == MAX_PATH, "the module path buffer is MAX_PATH bytes");

void ModuleFileName(char (&path)[kModulePathSize]) {
    path[0] = '\0';
    GetModuleFileNameA(nullptr, path, kModulePathSize);
    path[kModulePathSize - 1] = '\0';  // a cut path is not terminated on every Windows
}

void SplitPath(const char* path, SplitPathParts* parts) {
    // No part of a path shorter than the buffers can overrun them.
    _splitpath(path, parts->drive, parts->directory, parts->name, parts->extension);
}

// ---- private-profile settings file -------------------------------------

int ProfileInt(const char* section, const char* key, int fallback, const char* file) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, fallback, file));
}

void ProfileText(const char* section, const char* key, const char* fallback, char* buffer,
                   uint32_t size, const char* file) {
    GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
}

void ProfileSectionNames(char* buffer, uint32_t size, const char* file) {
    buffer[0] = buffer[1] = '\0';
    GetPrivateProfileSectionNamesA(buffer, size, file);
    // A list cut by the call may end inside a name: drop that name.
    buffer[size - 1] = buffer[size - 2] = '\0';
}

// Not the profile writer: it rewrites the whole file in place, so a full
// disk cuts it and a save that lands meanwhile is undone (see
// RewriteIniValue).
bool WriteProfileText(const char* section, const char* key, const char* value,
                        const char* file) {
    return RewriteIniValue(file, section, key, value);
}

// ---- event log -------------------------------------------------------------

namespace {
void DeregisterSource(HANDLE source) { DeregisterEventSource(source); }
}  // namespace

int ReportEventToLog(uint16_t type, uint32_t messageId, const char* const* strings,
                     uint16_t count) {
    const UniqueHandle<HANDLE, DeregisterSource> source(
        RegisterEventSourceA(nullptr, kEventSourceName));
    if (!source) return 0;
    return ReportEventA(source.Get(), type, 0, messageId, nullptr, count, 0,
                        const_cast<const char**>(strings), nullptr)
               ? 1
               : 0;
}

// ---- capture file ----------------------------------------------------------

namespace {

// Every file the worker opens closes as its capture file does.
using FileHandle = UniqueHandle<HANDLE, CloseCaptureFile>;

// The private list, "D:P(A;;FA;;;SY)(A;;FA;;;BA)", laid out as a self-
// relative security descriptor: nothing to build or give back at run time.
struct SystemAllowed {
    ACE_HEADER header;
    ACCESS_MASK mask;
    BYTE revision, count, authority[6];
    DWORD rid;
};
struct AdministratorsAllowed {
    ACE_HEADER header;
    ACCESS_MASK mask;
    BYTE revision, count, authority[6];
    DWORD domain, rid;
};
struct PrivateDescriptor {
    SECURITY_DESCRIPTOR_RELATIVE header;
    ACL list;
    SystemAllowed system;
    AdministratorsAllowed administrators;
};
constexpr PrivateDescriptor kPrivate = {
    {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED, 0, 0,
     0, offsetof(PrivateDescriptor, list)},
    {ACL_REVISION, 0, sizeof(PrivateDescriptor) - offsetof(PrivateDescriptor, list), 2, 0},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(SystemAllowed)}, FILE_ALL_ACCESS, SID_REVISION, 1,
     {0, 0, 0, 0, 0, 5}, SECURITY_LOCAL_SYSTEM_RID},
    {{ACCESS_ALLOWED_ACE_TYPE, 0, sizeof(AdministratorsAllowed)}, FILE_ALL_ACCESS, SID_REVISION, 2,
     {0, 0, 0, 0, 0, 5}, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS},
};
static_assert(sizeof kPrivate == 72, "the descriptor has no padding");
void* const kPrivateList = const_cast<PrivateDescriptor*>(&kPrivate);  // only ever read

// A file created afresh, shared with nobody, with the list given: a new file
// gets it at its creation, one that was there (whose own list CreateFileA
// keeps) on the handle.
HANDLE CreateWithList(const char* path, void* descriptor, DWORD attributes) {
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    const HANDLE opened = CreateFileA(path, GENERIC_WRITE | WRITE_DAC, 0, &security,
                                      CREATE_ALWAYS, attributes, nullptr);
    FileHandle file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    if (!file || !SetKernelObjectSecurity(file.Get(), DACL_SECURITY_INFORMATION, descriptor)) {
        return nullptr;
    }
    return file.Release();
}

}  // namespace

// The response may carry what the provider knows of the account: the file
// is as private as the settings.
Handle OpenCaptureFile(const char* path) {
    return CreateWithList(path, kPrivateList, FILE_ATTRIBUTE_NORMAL);
}

bool WriteCaptureFile(Handle file, const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool CloseCaptureFile(Handle file) { return CloseHandle(file) != FALSE; }

// ---- Internet library --------------------------------------------------

Handle InternetRoot(const char* agent, ProxyMode mode, const char* proxy, uint32_t* error) {
    DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
    if (mode == ProxyMode::Direct) access = INTERNET_OPEN_TYPE_DIRECT;
    if (mode == ProxyMode::Named) access = INTERNET_OPEN_TYPE_PROXY;
    HINTERNET root = InternetOpenA(agent, access, mode == ProxyMode::Named ? proxy : nullptr,
                                   nullptr, 0);
    if (!root) *error = GetLastError();
    return root;
}

void SetInternetTimeout(Handle root, uint32_t option, uint32_t milliseconds) {
    DWORD value = milliseconds;
    InternetSetOptionExA(root, option, &value, sizeof value, 0);
}

OpenOutcome OpenInternetUrl(Handle root, const char* url, const char* headers, Handle* request,
                            uint32_t* error) {
    *request = nullptr;
    const INTERNET_SCHEME scheme = SchemeOf(url);
    UniqueHandle<HINTERNET, CloseInternet> response(
        InternetOpenUrlA(root, url, headers, headers ? static_cast<DWORD>(-1) : 0,
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE, 2));
    if (!response) {
        *error = GetLastError();
        return OpenOutcome::Failure;
    }

    bool isResponse = false;
    switch (scheme) {
        case INTERNET_SCHEME_HTTP:
        case INTERNET_SCHEME_HTTPS:
        case INTERNET_SCHEME_FTP:
        case INTERNET_SCHEME_GOPHER:
        case INTERNET_SCHEME_FILE:
            isResponse = true;
            break;
        case INTERNET_SCHEME_UNKNOWN: {
            // Could not be split: the kind of the opened handle decides.
            DWORD type = 0;
            DWORD length = sizeof type;
            isResponse = InternetQueryOptionA(response.Get(), INTERNET_OPTION_HANDLE_TYPE, &type,
                                              &length) &&
                         IsResponseHandleType(type);
            break;
        }
        default:
            break;
    }
    if (!isResponse) return OpenOutcome::NoResponse;
    *request = response.Release();
    return OpenOutcome::Response;
}

bool QueryHttpStatus(Handle request, uint32_t* status) {
    char text[80] = {};
    DWORD length = sizeof text;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, text, &length, nullptr)) return false;
    *status = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    return true;
}

bool ReadInternetChunk(Handle request, void* buffer, uint32_t size, uint32_t* read,
                       uint32_t* error) {
    DWORD count = 0;
    if (!InternetReadFile(request, buffer, size, &count)) {
        *error = GetLastError();
        return false;
    }
    *read = count;
    return true;
}

bool BodyComplete(Handle request, uint64_t received) {
    // A response that also declares a Transfer-Encoding is judged by the
    // length too: one whose two framings disagree is an error of its own.
    DWORD declared = 0;
    DWORD length = sizeof declared;
    return !HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &declared,
                           &length, nullptr) ||
           received >= declared;
}

void CloseInternetHandle(Handle handle) { InternetCloseHandle(handle); }

size_t InternetErrorMessage(uint32_t error, char* buffer, size_t size) {
    size_t length = 0;
    if (const UniqueHandle<HMODULE, ReleaseModule> wininet{LoadLibraryA("WININET.DLL")}) {
        length = FormatInto(FORMAT_MESSAGE_FROM_HMODULE, wininet.Get(), error, buffer, size);
    }
    if (length == 0) length = FormatInto(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, buffer, size);
    return length;
}

size_t InternetLastResponseText(char* buffer, size_t size) {
    DWORD code = 0;
    DWORD length = static_cast<DWORD>(size);
    if (InternetGetLastResponseInfoA(&code, buffer, &length)) {
        // Already in place: only make sure it is terminated within size.
        if (length == 0 || size == 0) return 0;
        return CopyCut(buffer, size, buffer, length);
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
    // Longer than the buffer: fetch it whole, keep the first size - 1 bytes.
    const UniqueHandle<char*, FreeBytes> whole(static_cast<char*>(std::malloc(length + 1)));
    if (!whole) return 0;
    DWORD wholeLength = length + 1;
    if (!InternetGetLastResponseInfoA(&code, whole.Get(), &wholeLength)) return 0;
    return CopyCut(buffer, size, whole.Get(), wholeLength);
}

// ---- whole files: the settings file's rewrite, private files -----------

FileRead ReadWholeFile(const char* path, uint32_t limit, char** bytes, uint32_t* size) {
    *bytes = nullptr;
    *size = 0;
    // Shared every way: the user's editor must not find the file locked.
    const HANDLE opened = CreateFileA(path, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? FileRead::Missing : FileRead::Failed;
    }
    const FileHandle file(opened);
    const DWORD length = GetFileSize(opened, nullptr);  // INVALID_FILE_SIZE is beyond any limit
    if (length > limit) return FileRead::Failed;
    UniqueHandle<char*, FreeBytes> buffer(static_cast<char*>(std::malloc(length + 1)));
    DWORD read = 0;
    if (!buffer || !ReadFile(opened, buffer.Get(), length, &read, nullptr)) return FileRead::Failed;
    *bytes = buffer.Release();
    *size = read;
    return FileRead::Read;
}

// Lists are far smaller: one of some hundred entries would not be read.
constexpr DWORD kAccessListLimit = 4096;

char* ReadAccessList(const char* path, uint32_t* size) {
    UniqueHandle<char*, FreeBytes> list(static_cast<char*>(std::malloc(kAccessListLimit)));
    DWORD needed = 0;
    if (!list || !GetFileSecurityA(path, DACL_SECURITY_INFORMATION, list.Get(), kAccessListLimit,
                                   &needed)) {
        return nullptr;
    }
    *size = needed;
    return list.Release();
}

bool WriteFileLike(const char* path, const char* like, const void* data, uint32_t size) {
    DWORD attributes = GetFileAttributesA(like);
    UniqueHandle<char*, FreeBytes> list;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
        attributes = FILE_ATTRIBUTE_NORMAL;
    } else {
        // Read-only: not to be rewritten, as the profile writer could not.
        if (attributes & FILE_ATTRIBUTE_READONLY) return false;
        attributes &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        // The new file takes the old one's place with the old one's list: a
        // rename keeps the new file's own.
        uint32_t listSize = 0;
        list.Reset(ReadAccessList(like, &listSize));
        if (!list) return false;
    }
    FileHandle file(CreateWithList(path, list ? list.Get() : kPrivateList, attributes));
    DWORD written = 0;
    // Flushed: after the replace, a power cut must find the whole text.
    const bool whole = file && WriteFile(file.Get(), data, size, &written, nullptr) &&
                       written == size && FlushFileBuffers(file.Get()) && file.Close();
    if (!whole) {
        file.Reset();
        DeleteFileA(path);
    }
    return whole;
}

Handle HoldFile(const char* path) {
    // Without FILE_SHARE_WRITE and FILE_SHARE_DELETE nobody opens it to write,
    // delete or rename it, and nobody renames over a file open at all.
    const HANDLE held = CreateFileA(path, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    return held == INVALID_HANDLE_VALUE ? nullptr : held;
}

bool RenameHeldFile(Handle held, const char* to, bool replace) {
    // FILE_RENAME_INFO, with room for the name.
    struct {
        BOOLEAN replace;
        HANDLE root;
        DWORD length;
        WCHAR name[MAX_PATH];  // as long as the ANSI calls take
    } rename = {static_cast<BOOLEAN>(replace), nullptr, 0, {}};
    // Vista's, looked up so that the program still loads on XP (like the
    // IP Helper's); kernel32 is loaded already, no other file stands in.
    using SetInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
    const UniqueHandle<HMODULE, ReleaseModule> kernel{LoadLibraryA("KERNEL32")};
    const auto set = reinterpret_cast<SetInformation>(
        reinterpret_cast<void*>(GetProcAddress(kernel.Get(), "SetFileInformationByHandle")));
    const int count = MultiByteToWideChar(CP_ACP, 0, to, -1, rename.name, MAX_PATH);
    rename.length = static_cast<DWORD>(count - 1) * sizeof(WCHAR);
    return set && count > 0 && set(held, 3, &rename, sizeof rename);  // FileRenameInfo
}

bool MoveFileTo(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

uint32_t ProcessId() { return GetCurrentProcessId(); }

bool MakeFilePrivate(const char* path) {
    // SetFileSecurityA takes the protected list as it is, where Wine's
    // SetNamedSecurityInfoA leaves the others' rights on.
    return SetFileSecurityA(path, DACL_SECURITY_INFORMATION, kPrivateList) ||
           GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace platform
