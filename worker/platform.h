// The operating-system operations the update worker needs, and nothing more.
// worker/win32/platform_win32.cpp implements them with the Win32 and WinINet
// calls; the unit tests link a scripted fake in their place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using Handle = void*;

// ---- kernel objects and time -------------------------------------------

constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 0x102;

Handle CreateManualResetEvent();       // unnamed, not signalled; null on failure
bool SetEventSignal(Handle event);
uint32_t WaitForEvent(Handle event, uint32_t milliseconds);
void CloseKernelHandle(Handle handle);
uint32_t TickCount();                  // milliseconds since boot, wraps at 2^32

struct LocalTime {
    int year, month, day, hour, minute, second;
};
LocalTime CurrentLocalTime();

// ---- module path ---------------------------------------------------------

// The running program's full path, as GetModuleFileNameA gives it into a
// buffer of kModulePathSize bytes: cut by the call when longer, and always
// terminated.
constexpr uint32_t kModulePathSize = 260;
void ModuleFileName(char (&path)[kModulePathSize]);

// The parts of a path of fewer than kModulePathSize bytes, by the C
// runtime's rules; each buffer holds any part of such a path whole.
struct SplitPathParts {
    char drive[3];
    char directory[kModulePathSize];
    char name[kModulePathSize];
    char extension[kModulePathSize];
};
void SplitPath(const char* path, SplitPathParts* parts);

// ---- private-profile settings file -------------------------------------

int ProfileInt(const char* section, const char* key, int fallback, const char* file);
// Copies the value (cut to size - 1 bytes) into buffer, NUL-terminated.
void ProfileText(const char* section, const char* key, const char* fallback,
                   char* buffer, uint32_t size, const char* file);
bool WriteProfileText(const char* section, const char* key, const char* value,
                        const char* file);

// ---- event log -------------------------------------------------------------

// Opens the service's event source, writes one event without insertion
// strings or data, closes the source. 1 when the event was written.
int ReportEventToLog(uint16_t type, uint32_t messageId);

// ---- capture file ----------------------------------------------------------

// CreateFileA(path, GENERIC_WRITE, no sharing, CREATE_ALWAYS): null on failure.
Handle OpenCaptureFile(const char* path);
bool WriteCaptureFile(Handle file, const void* data, uint32_t size);
bool CloseCaptureFile(Handle file);

// ---- Internet library --------------------------------------------------

enum class ProxyMode { Preconfigured, Direct, Named };
// Root handle with the given User-Agent (null: none of the program's own)
// and proxy: the system's configured settings, none, or the named proxy
// list. Null on failure with the error number in *error.
Handle InternetRoot(const char* agent, ProxyMode mode, const char* proxy, uint32_t* error);
void SetInternetTimeout(Handle root, uint32_t option, uint32_t milliseconds);

enum class OpenOutcome { Response, NoResponse, Failure };
// Requests url (reload, no cache), with headers (CR LF ended lines) or
// null for none. Response: *request holds the response. Failure: *error
// holds the Internet library's error number.
OpenOutcome OpenInternetUrl(Handle root, const char* url, const char* headers, Handle* request,
                            uint32_t* error);
// The HTTP status code; false when it could not be queried.
bool QueryHttpStatus(Handle request, uint32_t* status);
// false on an Internet failure (error number in *error); *read 0 at the end.
bool ReadInternetChunk(Handle request, void* buffer, uint32_t size, uint32_t* read,
                       uint32_t* error);
void CloseInternetHandle(Handle handle);
// The Internet library's message for error (else the system's), in the
// system's default language, cut to size - 1 bytes and NUL-terminated in
// buffer; returns its length, 0 when neither has one.
size_t InternetErrorMessage(uint32_t error, char* buffer, size_t size);
// The response text the server left for an extended error (12003), cut and
// terminated like the above; 0 when there is none.
size_t InternetLastResponseText(char* buffer, size_t size);

}  // namespace platform
