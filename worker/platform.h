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
Handle CreateAutoResetEvent();         // unnamed, not signalled; null on failure
bool SetEventSignal(Handle event);
uint32_t WaitForEvent(Handle event, uint32_t milliseconds);
// Waits for either event: kWaitObject0 when stop is set, kWaitObject0 + 1
// when now is set (an auto-reset event, cleared by the wait), else
// kWaitTimeout after the time given.
uint32_t WaitForWork(Handle stop, Handle now, uint32_t milliseconds);
void CloseKernelHandle(Handle handle);
uint32_t TickCount();                  // milliseconds since boot, wraps at 2^32
uint32_t LastError();                  // of the last failed call on this thread
void SleepMs(uint32_t milliseconds);

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
// The names of the file's sections, each NUL-terminated, the list ended by
// an empty name; cut (whole names only) to fit size bytes.
void ProfileSectionNames(char* buffer, uint32_t size, const char* file);

// ---- event log -------------------------------------------------------------

// Opens the service's event source, writes one event with count insertion
// strings (none: null and 0) and no data, closes the source. 1 when the
// event was written.
int ReportEventToLog(uint16_t type, uint32_t messageId, const char* const* strings,
                     uint16_t count);

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
// Whether the body was whole once received bytes were read to its end:
// false when the response declared a longer Content-Length. A body without
// one (a 204, a chunked body) counts as whole: the Internet library ends a
// chunked body that lost its last chunk as if it were complete, and gives
// no sign of it. A declared length beyond 32 bits is not checked.
bool BodyComplete(Handle request, uint64_t received);
void CloseInternetHandle(Handle handle);
// The Internet library's message for error (else the system's), in the
// system's default language, cut to size - 1 bytes and NUL-terminated in
// buffer; returns its length, 0 when neither has one.
size_t InternetErrorMessage(uint32_t error, char* buffer, size_t size);
// The response text the server left for an extended error (12003), cut and
// terminated like the above; 0 when there is none.
size_t InternetLastResponseText(char* buffer, size_t size);

// ---- this machine's own IPv6 addresses -----------------------------------

struct LocalIpv6Address {
    uint8_t bytes[16];
    bool preferred;     // usable: not tentative, duplicate or deprecated
    bool randomSuffix;  // a temporary (privacy) address, or on a default
                        // Windows perhaps also the one that stays
    bool adapterUp;
    bool defaultRoute;  // its adapter has an IPv6 default gateway
    uint32_t metric;    // its adapter's IPv6 interface metric
    uint32_t preferredLifetime;  // seconds left, 0xFFFFFFFF: infinite
    bool dnsEligible;   // Windows says it may appear in DNS
};
// Up to max of this machine's unicast IPv6 addresses; how many (0 where the
// IP Helper library or its function is missing).
size_t LocalIpv6Addresses(LocalIpv6Address* list, size_t max);

// ---- whole files: the settings file's rewrite, private files -----------

enum class FileRead { Read, Missing, Failed };
// The whole of a file of at most limit bytes, in memory of std::malloc
// (*bytes, one byte longer than *size); Failed for a larger file or when it
// cannot be read.
FileRead ReadWholeFile(const char* path, uint32_t limit, char** bytes, uint32_t* size);
// The access list of a file or folder, as a self-relative security
// descriptor (*size bytes) in memory of std::malloc; null when it cannot be
// read.
char* ReadAccessList(const char* path, uint32_t* size);
// Creates path afresh (over a leftover), holding data, flushed to the disk,
// with like's access list and attributes, or the private list when there is
// no like. Fails, leaving nothing at path, when like is read-only or
// anything goes wrong.
bool WriteFileLike(const char* path, const char* like, const void* data, uint32_t size);
// The file at path held open to be renamed, shared only with readers:
// while held, nobody else writes, renames or deletes it or renames over it,
// so its name stays its own. Null when it cannot be held (somebody writes
// it). Let go with CloseKernelHandle.
Handle HoldFile(const char* path);
// Renames the held file to to, over an existing to only with replace. A
// failure because to exists leaves LastError() kNameTaken.
bool RenameHeldFile(Handle held, const char* to, bool replace);
constexpr uint32_t kNameTaken = 183;  // ERROR_ALREADY_EXISTS
// Gives the file at from the name to, which must be free.
bool MoveFileTo(const char* from, const char* to);
bool RemoveFile(const char* path);
uint32_t ProcessId();
// Gives the file the private list: SYSTEM and the Administrators only,
// nothing inherited. true also when there is no such file.
bool MakeFilePrivate(const char* path);

}  // namespace platform
