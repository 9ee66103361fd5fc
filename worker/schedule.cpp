// The schedule of the DNS records: at each tick, which record is due (its
// interval or retry delay has passed, its URL changed, or an update was
// asked for), the check of its address and then its update.
#include <cstring>

#include "worker/local_address.h"
#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/provider_rules.h"
#include "worker/request.h"
#include "worker/settings.h"
#include "worker/worker.h"

namespace {

const char kInitialPreviousUrl[] = "dummy";

// What one record carries from one tick to the next.
struct DnsRecordState {
    Stopwatch sinceRequest;  // from the end of its last request
    Stopwatch sinceUpdate;   // from its last successful update
    uint32_t failuresInARow;  // for the retry delay
    uint32_t problem;         // fingerprint of the overlong texts warned about, 0: none
    bool haveUpdated;
    char previousUrl[kUrlReadSize];  // or the unset URL text last warned about
    // What the last successful update was sent for, while there is one.
    char lastUpdateAddress[kAddressBytes + 1];
    char lastUpdateUrl[kUrlReadSize];
};
DnsRecordState g_dnsRecords[kDnsRecordCount];

DnsRecordState& Selected() { return g_dnsRecords[SelectedDnsRecord() - 1]; }

bool CheckUrlIsSet() { return std::strlen(g_checkUrl) >= kShortestUrl; }

// A URL or check URL that a request would have to cut.
bool TextsOverlong() { return IsOverlong(g_currentUrl) || (CheckUrlIsSet() && IsOverlong(g_checkUrl)); }

bool CheckAddress(char* address) {
    if (IsLocalAddressCheck(g_checkUrl)) return CheckLocalIpv6(address);
    return CheckAddressOnline(address);
}

// The update itself, once the address is known (or not needed): false
// when it was not sent or did not succeed.
bool SendUpdate(const char* address) {
    // With the address in the URL, the URL that is sent can outgrow the
    // longest one; it is never sent cut.
    char url[kUrlBufferSize];
    if (!WithAddress(g_currentUrl, address, url, sizeof url)) {
        RecordEvent(MSG_URL_OPEN_FAILED);
        return false;
    }
    return RunRequest(url);
}

// Runs record n at this tick: reads its settings, warns once about a URL
// that is not set or too long, and updates when it is due (or anyway).
void RunDnsRecord(int record, bool anyway) {
    SelectDnsRecord(record);
    ReadDnsRecordSettings(record);
    DnsRecordState& state = Selected();
    const uint32_t now = platform::TickCount();
    const uint64_t sinceRequest = ReadStopwatch(&state.sinceRequest, now);
    ReadStopwatch(&state.sinceUpdate, now);  // notices a wrap for force

    if (!UrlIsSet()) {
        // Warn once per change of the short text, not at every tick.
        if (std::strcmp(g_currentUrl, state.previousUrl) != 0) {
            RecordEvent(MSG_URL_NOT_SET);
            std::strcpy(state.previousUrl, g_currentUrl);
        }
        return;
    }
    // A URL cut to what fits would be another URL: warn once per change of
    // the texts and send nothing.
    if (TextsOverlong()) {
        const uint32_t texts = Fingerprint(g_currentUrl, g_checkUrl);
        if (texts != state.problem) {
            RecordEvent(MSG_URL_OPEN_FAILED);
            state.problem = texts;
        }
        return;
    }

    // After a failed update, retry (when set) shortens the wait.
    uint32_t wait = g_intervalMs;
    if (g_retryMs != 0 && state.failuresInARow > 0) {
        wait = RetryDelayMs(g_retryMs, state.failuresInARow, g_intervalMs);
    }
    const bool changed = std::strcmp(g_currentUrl, state.previousUrl) != 0 || state.problem != 0;
    if (anyway || changed || sinceRequest > wait) RunUpdateNow();
}

void RunDnsRecords(bool anyway) {
    anyway = TakeResume() || anyway;
    const uint32_t present = DnsRecordsPresent();
    for (int record = 1; record <= kDnsRecordCount; ++record) {
        // A stop ends the tick: no further record starts.
        if (record > 1 && StopRequested()) break;
        if (present & (1u << record)) RunDnsRecord(record, anyway);
    }
    SelectDnsRecord(1);
}

}  // namespace

void ResetDnsRecords() {
    std::memset(g_dnsRecords, 0, sizeof g_dnsRecords);
    for (DnsRecordState& state : g_dnsRecords) std::strcpy(state.previousUrl, kInitialPreviousUrl);
    g_currentUrl[0] = '\0';
}

bool UrlIsSet() { return std::strlen(g_currentUrl) >= kShortestUrl; }

bool RunUpdateNow() {
    DnsRecordState& state = Selected();
    if (TextsOverlong()) {
        RecordEvent(MSG_URL_OPEN_FAILED);
        return false;
    }
    if (std::strcmp(g_currentUrl, state.previousUrl) != 0) state.failuresInARow = 0;
    std::strcpy(state.previousUrl, g_currentUrl);
    state.problem = 0;
    StartStopwatch(&state.sinceRequest, platform::TickCount());
    RecordEvent(MSG_URL_FETCHING);

    bool failed = false, updated = false;
    char address[kAddressBytes + 1] = "";
    if (CheckUrlIsSet()) {
        if (!CheckAddress(address)) {
            RecordEvent(MSG_ADDRESS_UNCHECKED);
            failed = true;
        } else if (state.haveUpdated && std::strcmp(address, state.lastUpdateAddress) == 0 &&
                   std::strcmp(g_currentUrl, state.lastUpdateUrl) == 0 &&
                   !(g_forceMs != 0 &&
                     ReadStopwatch(&state.sinceUpdate, platform::TickCount()) > g_forceMs)) {
            RecordEvent(MSG_ADDRESS_UNCHANGED);
        } else if (!StopRequested()) {
            updated = SendUpdate(address);
            failed = !updated;
        }
    } else if (HasAddressMarker(g_currentUrl)) {
        // The address belongs in the URL, and nothing says what it is.
        RecordEvent(MSG_ADDRESS_UNCHECKED);
        failed = true;
    } else {
        updated = SendUpdate(address);
        failed = !updated;
    }
    // The interval, and the retry delay, count from the end of the request.
    StartStopwatch(&state.sinceRequest, platform::TickCount());
    if (updated) {
        state.haveUpdated = true;
        StartStopwatch(&state.sinceUpdate, platform::TickCount());
        std::strcpy(state.lastUpdateAddress, address);
        std::strcpy(state.lastUpdateUrl, g_currentUrl);
    }
    if (failed) {
        if (state.failuresInARow < UINT32_MAX) ++state.failuresInARow;
    } else {
        state.failuresInARow = 0;
    }
    return updated;
}

void RunUpdateCycle() { RunDnsRecords(false); }
void RunUpdateNowCycle() { RunDnsRecords(true); }

