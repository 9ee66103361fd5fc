// The message catalogue and the one way the worker tells an administrator
// anything: an event under the service's event source plus the time-stamped
// status line `lastlog` in the settings file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "worker/platform.h"

// Message IDs: severity in bits 31-30, message number in bits 15-0. The
// message-table resource (resources/messages.mc) carries the same IDs.
enum MessageId : uint32_t {
    MSG_MEMORY_ERROR = 0xC0000001,
    MSG_DEVICE_OPEN_FAILED = 0xC0000065,
    MSG_DEVICE_ERROR = 0xC0000066,
    MSG_URL_OPEN_FAILED = 0xC0000067,
    MSG_HTTP_STATUS_NOT_OK = 0xC0000068,
    MSG_HTTP_EXCEPTION = 0xC0000069,
    MSG_URL_NOT_SET = 0x800001FF,
    MSG_LOGFILE_OPEN_FAILED = 0x80000200,
    MSG_HTTP_EMPTY_RESPONSE = 0x80000201,
    MSG_NOT_A_SUCCESS = 0x80000202,      // the body lacks the configured success text
    MSG_ADDRESS_UNCHECKED = 0x80000203,  // the check URL gave no address
    MSG_SERVICE_START = 0x400002BE,
    MSG_SERVICE_END = 0x400002BF,
    MSG_URL_FETCHED = 0x400002C0,
    MSG_URL_FETCHING = 0x400002C1,  // status line only, never sent to the event log
    MSG_ADDRESS_UNCHANGED = 0x400002C2,  // status line only, never sent to the event log
    MSG_DEVICE_OPENED = 0x4000044D,
    MSG_DEBUG_MODE = 0x400004ED,
    MSG_GENERIC_ERROR = 0xC0007530,
    MSG_GENERIC_WARNING = 0x80007531,
    MSG_GENERIC_INFO = 0x40007532,
};

constexpr size_t kCatalogueTextSize = 44;
constexpr size_t kCatalogueRows = 21;

struct CatalogueRow {
    uint32_t id;
    char text[kCatalogueTextSize];  // code page 932, NUL-padded
};

extern const CatalogueRow kMessageCatalogue[kCatalogueRows];

// Text of the first catalogue row with this ID, or of the first row
// (the memory-error text) when the ID is unknown.
const char* CatalogueText(uint32_t id);

// Event-log type for the severity bits of an ID (8, 4, 2, 1).
uint16_t EventTypeFor(uint32_t id);

// Room for the stamp with any six ints and the longest catalogue text.
constexpr size_t kStatusLineSize = 6 * 11 + 6 + kCatalogueTextSize;

// "2012/07/03,09:05:01 text", each number as "%d" or "%.2d" writes it; a
// longer text is cut to fit.
void FormatStatusLine(const platform::LocalTime& time, const char* text,
                      char (&line)[kStatusLineSize]);

// The generic entry of the same severity, under which records 2 to 9
// report their events.
uint32_t GenericIdFor(uint32_t id);

// Records an event of the DNS record being worked on (SelectDnsRecord):
// record 1 under its own ID and in lastlog, records 2 to 9 under the
// generic entry with their section and the text, and in lastlogN. Nothing
// once sealed.
void RecordEvent(uint32_t id);
// The same for the given DNS record; the caller holds the record lock and
// the recording is not sealed.
void RecordEventLocked(uint32_t id, int dnsRecord);
// Which DNS record RecordEvent reports for (1 to 9); only the worker's
// thread selects.
void SelectDnsRecord(int dnsRecord);
int SelectedDnsRecord();

// When set, RecordEvent also hands each status line to it (the console's
// one-shot update shows them).
extern void (*g_statusLineEcho)(const char* line);
