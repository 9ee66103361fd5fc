// The worker's operations on Windows: kernel objects, the private-profile
// functions, the event log, the capture file and WinINet, all ANSI.
#include "worker/win32/win32.h"

#include <cstdlib>
#include <cstring>

#include "service/service.h"
#include "worker/platform.h"
#include "worker/text.h"

namespace platform {

namespace {

// FormatMessageA into an allocated buffer, so that a long message is cut
// rather than lost.
size_t FormatInto(DWORD flags, HMODULE module, uint32_t error, char* buffer, size_t size) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        module, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                        reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || !text) return 0;
    const size_t copied = CopyCut(buffer, size, text, length);
    LocalFree(text);
    return copied;
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
bool SetEventSignal(Handle event) { return SetEvent(event) != FALSE; }
uint32_t WaitForEvent(Handle event, uint32_t milliseconds) {
    return WaitForSingleObject(event, milliseconds);
}
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

bool WriteProfileText(const char* section, const char* key, const char* value,
                        const char* file) {
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

// ---- event log -------------------------------------------------------------

int ReportEventToLog(uint16_t type, uint32_t messageId) {
    HANDLE source = RegisterEventSourceA(nullptr, kEventSourceName);
    if (!source) return 0;
    const BOOL written = ReportEventA(source, type, 0, messageId, nullptr, 0, 0, nullptr, nullptr);
    DeregisterEventSource(source);
    return written ? 1 : 0;
}

// ---- capture file ----------------------------------------------------------

Handle OpenCaptureFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
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
    HINTERNET response = InternetOpenUrlA(root, url, headers, headers ? static_cast<DWORD>(-1) : 0,
                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE, 2);
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
            isResponse = InternetQueryOptionA(response, INTERNET_OPTION_HANDLE_TYPE, &type, &length) &&
                         IsResponseHandleType(type);
            break;
        }
        default:
            break;
    }
    if (!isResponse) {
        InternetCloseHandle(response);
        return OpenOutcome::NoResponse;
    }

    *request = response;
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

void CloseInternetHandle(Handle handle) { InternetCloseHandle(handle); }

size_t InternetErrorMessage(uint32_t error, char* buffer, size_t size) {
    size_t length = 0;
    if (HMODULE wininet = LoadLibraryA("WININET.DLL")) {
        length = FormatInto(FORMAT_MESSAGE_FROM_HMODULE, wininet, error, buffer, size);
        FreeLibrary(wininet);
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
        if (length > size - 1) length = static_cast<DWORD>(size - 1);
        buffer[length] = '\0';
        return length;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
    // Longer than the buffer: fetch it whole, keep the first size - 1 bytes.
    char* whole = static_cast<char*>(std::malloc(length + 1));
    if (!whole) return 0;
    DWORD wholeLength = length + 1;
    size_t copied = 0;
    if (InternetGetLastResponseInfoA(&code, whole, &wholeLength)) {
        copied = CopyCut(buffer, size, whole, wholeLength);
    }
    std::free(whole);
    return copied;
}

}  // namespace platform
