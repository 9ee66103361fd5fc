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
    MSG_REPLY_CUT = 0xC000006A,         // the body ended before its declared end
    MSG_SETTING_TOO_LONG = 0xC000006B,  // %s: the key read cut
    // A provider's refusal (%s: its answer code): the DNS record sends
    // nothing more until its request's settings change or the service
    // starts again. Each cause has its own ID, for a task in the Task
    // Scheduler.
    MSG_REFUSED_ACCOUNT = 0xC000006C,  // badauth
    MSG_REFUSED_HOST = 0xC000006D,     // nohost, notfqdn, numhost, !yours
    MSG_REFUSED_AGENT = 0xC000006E,    // badagent
    MSG_REFUSED_ABUSE = 0xC000006F,    // abuse
    MSG_REFUSED_PLAN = 0xC0000070,     // !donator
    MSG_URL_NOT_SET = 0x800001FF,
    MSG_LOGFILE_OPEN_FAILED = 0x80000200,
    MSG_HTTP_EMPTY_RESPONSE = 0x80000201,
    MSG_NOT_A_SUCCESS = 0x80000202,      // the body lacks the configured success text
    MSG_ADDRESS_UNCHECKED = 0x80000203,  // the check URL gave no address
    MSG_LOCAL6_NOT_IPV4 = 0x80000204,    // family=4 with local6 as the only check
    MSG_PROVIDER_WAIT = 0x80000205,      // %s (911, dnserr): the next request waits 30 minutes
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

constexpr size_t kCatalogueRows = 30;
extern const uint32_t kCatalogueIds[kCatalogueRows];
// The texts in the order of the IDs, each ended by a NUL (code page 932).
extern const char kCatalogueTexts[];
// Room for any catalogue text with its insertion (a settings key or an
// answer code), and its NUL.
constexpr size_t kMessageTextSize = 96;

// Text of the catalogue entry with this ID, or of the first one (the
// memory-error text) when the ID is unknown.
const char* CatalogueText(uint32_t id);
// That text with insertion in place of its "%s" (none: the text as it is),
// cut to fit.
void FormatCatalogueText(uint32_t id, const char* insertion, char (&text)[kMessageTextSize]);

// Event-log type for the severity bits of an ID (8, 4, 2, 1).
uint16_t EventTypeFor(uint32_t id);

// Room for the stamp with any six ints and the longest text.
constexpr size_t kStatusLineSize = 6 * 11 + 6 + kMessageTextSize;

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
// once sealed. insertion: the text for the message's "%s", which record 1's
// event carries as its one insertion string.
void RecordEvent(uint32_t id, const char* insertion = nullptr);
// The same for the given DNS record; the caller holds the record lock and
// the recording is not sealed.
void RecordEventLocked(uint32_t id, int dnsRecord, const char* insertion = nullptr);
// Which DNS record RecordEvent reports for (1 to 9); only the worker's
// thread selects.
void SelectDnsRecord(int dnsRecord);
int SelectedDnsRecord();

// When set, RecordEvent also hands each status line to it (the console's
// one-shot update shows them).
extern void (*g_statusLineEcho)(const char* line);
