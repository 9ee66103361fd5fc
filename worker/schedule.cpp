// The schedule of the DNS records: at each tick, which record is due (its
// interval or retry delay has passed, its URL changed, or an update was
// asked for), the check of its address and then its update; and what a
// provider's answer holds back: a refusal stops the record, a wait code
// makes it wait, and updates asked for are spaced.
#include <cstring>

#include "worker/address.h"
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
    uint32_t problem;         // fingerprint of the settings texts warned about, 0: none
    // Fingerprint of the request's settings that a provider refused, 0: not
    // stopped. Only other settings (or a new start) let the record go again.
    uint32_t stoppedFor;
    bool waiting;      // the provider's last answer asked it to wait
    bool nowPending;   // an update asked for waits for the spacing
    bool requested;    // it has made a request since the worker started
    bool haveUpdated;
    char previousUrl[kUrlReadSize];  // or the unset URL text last warned about
    // What the last successful update was sent for, while there is one.
    char lastUpdateAddress[kAddressTextSize];
    char lastUpdateUrl[kUrlReadSize];
};
DnsRecordState g_dnsRecords[kDnsRecordCount];

DnsRecordState& Selected() { return g_dnsRecords[SelectedDnsRecord() - 1]; }

bool CheckUrlIsSet() { return std::strlen(g_checkUrl) >= kShortestUrl; }

// A URL or check URL that a request would have to cut.
bool TextsOverlong() { return IsOverlong(g_currentUrl) || (CheckUrlIsSet() && IsOverlong(g_checkUrl)); }

// The settings that make a record's request what it is: the provider knows
// it by them, so a refusal holds until one of them changes.
// Never 0, which says "not stopped".
uint32_t RequestFingerprint() {
    uint32_t hash = Fingerprint(g_currentUrl, kFingerprintStart + static_cast<uint32_t>(g_family));
    hash = Fingerprint(g_user, Fingerprint(g_password, Fingerprint(g_agent, hash)));
    return Fingerprint(g_checkUrl, hash) | 1;
}

// A setting that keeps the record from being sent, as its message (and
// insertion), or 0.
uint32_t SettingsProblem(const char** insertion) {
    *insertion = nullptr;
    if (TextsOverlong()) return MSG_URL_OPEN_FAILED;
    if ((*insertion = OverlongSetting())) return MSG_SETTING_TOO_LONG;
    if (g_family == 4 && CheckUrlIsSet() && OnlyLocalChecks(g_checkUrl)) return MSG_LOCAL6_NOT_IPV4;
    return 0;
}

// The update itself, once the address is known (or not needed).
Outcome SendUpdate(const char* address) {
    // With the address in the URL, the URL that is sent can outgrow the
    // longest one; it is never sent cut.
    char url[kUrlBufferSize];
    if (!WithAddress(g_currentUrl, address, url, sizeof url)) {
        RecordEvent(MSG_URL_OPEN_FAILED);
        return Outcome::Failure;
    }
    return RunRequest(url);
}

// Runs record n at this tick: reads its settings, warns once about a URL
// that is not set or settings that cannot be sent, and updates when it is
// due, asked for (now, spaced) or the machine woke (resumed).
void RunDnsRecord(int record, bool now, bool resumed) {
    SelectDnsRecord(record);
    ReadDnsRecordSettings(record);
    DnsRecordState& state = Selected();
    const uint32_t tick = platform::TickCount();
    const uint64_t sinceRequest = ReadStopwatch(&state.sinceRequest, tick);
    ReadStopwatch(&state.sinceUpdate, tick);  // notices a wrap for force

    if (!UrlIsSet()) {
        // Warn once per change of the short text, not at every tick.
        if (std::strcmp(g_currentUrl, state.previousUrl) != 0) {
            RecordEvent(MSG_URL_NOT_SET);
            std::strcpy(state.previousUrl, g_currentUrl);
        }
        return;
    }
    // Settings that cannot be sent as they are: warn once per change of the
    // texts and send nothing.
    const char* insertion;
    if (const uint32_t problem = SettingsProblem(&insertion)) {
        const uint32_t fingerprint = Fingerprint(g_okBody, RequestFingerprint()) | 1;
        if (fingerprint != state.problem) {
            RecordEvent(problem, insertion);
            state.problem = fingerprint;
        }
        return;
    }
    // A refused record sends nothing, not even when asked, until the user
    // changes what it sends; then it goes at once.
    bool changed = std::strcmp(g_currentUrl, state.previousUrl) != 0 || state.problem != 0;
    if (state.stoppedFor != 0) {
        if (state.stoppedFor == RequestFingerprint()) return;
        state.stoppedFor = 0;
        changed = true;
    }
    // A provider that asked for a wait gets it, whatever else asks.
    if (state.waiting && sinceRequest < kProviderWaitMs) return;

    // Updates asked for come no sooner than the spacing after the last
    // request: repeated updates are what providers block accounts for.
    state.nowPending = state.nowPending || now;
    const bool asked =
        state.nowPending && (!state.requested || sinceRequest >= kUpdateNowSpacingMs);

    // After a failed update, retry (when set) shortens the wait.
    uint32_t wait = g_intervalMs;
    if (g_retryMs != 0 && state.failuresInARow > 0) {
        wait = RetryDelayMs(g_retryMs, state.failuresInARow, g_intervalMs);
    }
    if (asked || resumed || changed || sinceRequest > wait) RunUpdateNow();
}

void RunDnsRecords(bool now) {
    const bool resumed = TakeResume();
    const uint32_t present = DnsRecordsPresent();
    for (int record = 1; record <= kDnsRecordCount; ++record) {
        // A stop ends the tick: no further record starts.
        if (record > 1 && StopRequested()) break;
        if (present & (1u << record)) RunDnsRecord(record, now, resumed);
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
    const char* insertion;
    if (const uint32_t problem = SettingsProblem(&insertion)) {
        RecordEvent(problem, insertion);
        return false;
    }
    if (std::strcmp(g_currentUrl, state.previousUrl) != 0) state.failuresInARow = 0;
    std::strcpy(state.previousUrl, g_currentUrl);
    state.problem = 0;
    state.nowPending = false;
    state.requested = true;
    StartStopwatch(&state.sinceRequest, platform::TickCount());
    RecordEvent(MSG_URL_FETCHING);

    Outcome outcome = Outcome::Failure;
    char address[kAddressTextSize] = "";
    if (CheckUrlIsSet()) {
        if (!CheckAddress(g_checkUrl, g_family, address)) {
            RecordEvent(MSG_ADDRESS_UNCHECKED);
        } else if (state.haveUpdated && std::strcmp(address, state.lastUpdateAddress) == 0 &&
                   std::strcmp(g_currentUrl, state.lastUpdateUrl) == 0 &&
                   !(g_forceMs != 0 &&
                     ReadStopwatch(&state.sinceUpdate, platform::TickCount()) > g_forceMs)) {
            RecordEvent(MSG_ADDRESS_UNCHANGED);
            outcome = Outcome::NotSent;
        } else if (StopRequested()) {
            outcome = Outcome::NotSent;
        } else {
            outcome = SendUpdate(address);
        }
    } else if (HasAddressMarker(g_currentUrl)) {
        // The address belongs in the URL, and nothing says what it is.
        RecordEvent(MSG_ADDRESS_UNCHECKED);
    } else {
        outcome = SendUpdate(address);
    }
    // The interval, and the retry delay, count from the end of the request.
    StartStopwatch(&state.sinceRequest, platform::TickCount());
    const bool updated = outcome == Outcome::Success;
    if (updated) {
        state.haveUpdated = true;
        StartStopwatch(&state.sinceUpdate, platform::TickCount());
        std::strcpy(state.lastUpdateAddress, address);
        std::strcpy(state.lastUpdateUrl, g_currentUrl);
    }
    if (outcome == Outcome::Refused) state.stoppedFor = RequestFingerprint();
    state.waiting = outcome == Outcome::Wait;
    if (updated || outcome == Outcome::NotSent) {
        state.failuresInARow = 0;
    } else if (state.failuresInARow < UINT32_MAX) {
        ++state.failuresInARow;
    }
    return updated;
}

void RunUpdateCycle() { RunDnsRecords(false); }
void RunUpdateNowCycle() { RunDnsRecords(true); }
