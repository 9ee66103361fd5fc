// The worker loop and the update cycle: for each record, one HTTP GET of its
// URL when it is due (after a check of the address, when a check URL is
// set), the outcome recorded and, on request, the body captured.
#include "worker/worker.h"

#include <atomic>
#include <cstring>

#include "common/unique_handle.h"
#include "worker/local_address.h"
#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/provider_rules.h"
#include "worker/settings.h"
#include "worker/text.h"

namespace {

// Read and set from the control handler's thread.
std::atomic<platform::Handle> g_workerStopEvent{nullptr};
std::atomic<platform::Handle> g_workerNowEvent{nullptr};
std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_resumed{false};

const char kInitialPreviousUrl[] = "dummy";

// What one record carries from one tick to the next.
struct RecordState {
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
RecordState g_records[kRecordCount];

RecordState& Selected() { return g_records[SelectedRecord() - 1]; }

// "Authorization: Basic " and the Base64 of 255 + 1 + 255 bytes, CR LF, NUL.
constexpr size_t kAuthorizationSize = 21 + (kShortSettingSize * 2 + 1) / 3 * 4 + 3;

using InternetHandle = UniqueHandle<platform::Handle, platform::CloseInternetHandle>;
using CaptureHandle = UniqueHandle<platform::Handle, platform::CloseCaptureFile>;

// The capture file of the request under way. A stop that cannot wait for
// the worker closes it, so it is only touched under the record lock.
CaptureHandle g_captureFile;

void CloseCaptureFile() { g_captureFile.Reset(); }

// The capture of one request. Capture can be switched off for the rest of
// the request when the file cannot be opened or written, or once a stop has
// sealed the recording.
struct Capture {
    bool on = false;
    char path[kLocationSize];

    explicit Capture(bool wanted) : on(wanted) { CapturePathFor(SelectedRecord(), path); }
    ~Capture() { Close(); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Opens (and so empties) the capture file; with warn, records the
    // warning when that fails. Capture stays on only when it worked.
    bool Open(bool warn) {
        RecordLock lock;
        g_captureFile.Reset();  // an earlier open of this request, not shared with the new one
        if (RecordsSealed()) return on = false;
        g_captureFile.Reset(platform::OpenCaptureFile(path));
        if (!g_captureFile && warn) RecordEventLocked(MSG_LOGFILE_OPEN_FAILED);
        return on = static_cast<bool>(g_captureFile);
    }
    // A failed write must not cost the request its outcome: warn, stop
    // capturing and go on reading.
    void Write(const void* data, uint32_t size) {
        if (!on) return;
        RecordLock lock;
        if (RecordsSealed() || !g_captureFile) {
            on = false;
        } else if (!platform::WriteCaptureFile(g_captureFile.Get(), data, size)) {
            RecordEventLocked(MSG_LOGFILE_OPEN_FAILED);
            g_captureFile.Reset();
            on = false;
        }
    }
    void Close() {
        RecordLock lock;
        g_captureFile.Reset();
    }
};

constexpr uint32_t kErrorInternetExtendedError = 12003;

// The text that explains a failure: the server's own response text for an
// extended error, otherwise the library's or the system's message. An
// extended error without a response text has none.
size_t FailureText(uint32_t error, char* text, size_t size) {
    if (error == kErrorInternetExtendedError) return platform::InternetLastResponseText(text, size);
    return platform::InternetErrorMessage(error, text, size);
}

// An Internet failure while opening the URL or reading the body: the
// failure event after whatever this request recorded so far, and with
// capture on, the failure text alone in the capture file.
void HandleInternetFailure(uint32_t error, Capture& capture) {
    RecordEvent(MSG_HTTP_EXCEPTION);
    if (!capture.on || !capture.Open(false)) return;
    char text[kUrlBufferSize];
    const size_t length = FailureText(error, text, sizeof text);
    RecordLock lock;
    if (length > 0 && g_captureFile) {
        platform::WriteCaptureFile(g_captureFile.Get(), text, static_cast<uint32_t>(length));
    }
    g_captureFile.Reset();
}

// The root handle of one request, with the agent, proxy and time-outs of
// the settings.
platform::Handle OpenRoot(uint32_t* error) {
    platform::ProxyMode mode = platform::ProxyMode::Preconfigured;
    if (g_proxy[0]) {
        mode = EqualsIgnoringAsciiCase(g_proxy, "direct") ? platform::ProxyMode::Direct
                                                          : platform::ProxyMode::Named;
    }
    platform::Handle root = platform::InternetRoot(g_agent[0] ? g_agent : nullptr, mode, g_proxy, error);
    if (!root) return nullptr;
    for (uint32_t option : kTimeoutOptions) {
        platform::SetInternetTimeout(root, option, g_timeoutMs);
    }
    return root;
}

// Opens url, reads the body and records the outcome; true when that outcome
// is the success event. A stop ends the request between two chunks: the
// capture keeps what had arrived, and no outcome is recorded.
bool RunRequest(const char* url) {
    Capture capture(g_captureFlag != 0);
    uint32_t error = 0;

    InternetHandle root(OpenRoot(&error));
    if (!root) {
        HandleInternetFailure(error, capture);
        return false;
    }
    char authorization[kAuthorizationSize];
    const bool credentials =
        g_user[0] && BasicAuthorizationHeader(g_user, g_password, authorization, sizeof authorization);

    platform::Handle opened = nullptr;
    switch (platform::OpenInternetUrl(root.Get(), url, credentials ? authorization : nullptr, &opened,
                                      &error)) {
        case platform::OpenOutcome::NoResponse:
            RecordEvent(MSG_URL_OPEN_FAILED);
            return false;
        case platform::OpenOutcome::Failure:
            HandleInternetFailure(error, capture);
            return false;
        case platform::OpenOutcome::Response:
            break;
    }
    InternetHandle response(opened);

    if (capture.on) capture.Open(true);

    // A status that cannot be queried is no 200. A refused update still has
    // its body read and captured (the provider's page says why), but it is
    // never recorded as fetched.
    uint32_t status = 0;
    const bool ok = platform::QueryHttpStatus(response.Get(), &status) && status == kHttpStatusOk;
    if (!ok) RecordEvent(MSG_HTTP_STATUS_NOT_OK);

    BodyMatch expected;
    if (g_okBody[0]) StartBodyMatch(&expected, g_okBody);

    char chunk[kBodyChunkSize];
    uint32_t read = 0;
    // An empty body is two reads of 0 bytes in a row at the start.
    for (int attempt = 0; attempt < 2 && read == 0; ++attempt) {
        if (!platform::ReadInternetChunk(response.Get(), chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return false;
        }
    }
    if (read == 0) {
        RecordEvent(MSG_HTTP_EMPTY_RESPONSE);
        return false;
    }
    while (read > 0) {
        capture.Write(chunk, read);
        if (g_okBody[0]) FeedBodyMatch(&expected, chunk, read);
        if (g_stopRequested.load()) return false;
        if (!platform::ReadInternetChunk(response.Get(), chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return false;
        }
    }
    response.Reset();
    capture.Close();
    if (!ok) return false;
    if (g_okBody[0] && !expected.found) {
        RecordEvent(MSG_NOT_A_SUCCESS);
        return false;
    }
    RecordEvent(MSG_URL_FETCHED);
    return true;
}

// Requests the check URL (never captured) and takes this machine's public
// address from the start of its body; false when it gave none.
bool CheckAddressOnline(char* address) {
    uint32_t error = 0;
    InternetHandle root(OpenRoot(&error));
    if (!root) return false;
    platform::Handle opened = nullptr;
    if (platform::OpenInternetUrl(root.Get(), g_checkUrl, nullptr, &opened, &error) !=
        platform::OpenOutcome::Response) {
        return false;
    }
    InternetHandle response(opened);
    uint32_t status = 0;
    if (!platform::QueryHttpStatus(response.Get(), &status) || status != kHttpStatusOk) return false;
    char start[kAddressBytes];
    uint32_t have = 0, read = 0;
    int emptyReads = 0;
    // The first bytes are enough; the rest of the body is left unread.
    while (have < sizeof start && emptyReads < 2) {
        if (!platform::ReadInternetChunk(response.Get(), start + have, sizeof start - have, &read,
                                         &error)) {
            return false;
        }
        if (read == 0) {
            if (have > 0) break;
            ++emptyReads;
        }
        have += read;
    }
    TakeAddress(start, have, address);
    return address[0] != '\0';
}

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
void RunRecord(int record, bool anyway) {
    SelectRecord(record);
    ReadRecordSettings(record);
    RecordState& state = Selected();
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

void RunRecords(bool anyway) {
    anyway = g_resumed.exchange(false) || anyway;
    const uint32_t present = RecordsPresent();
    for (int record = 1; record <= kRecordCount; ++record) {
        // A stop ends the tick: no further record starts.
        if (record > 1 && g_stopRequested.load()) break;
        if (present & (1u << record)) RunRecord(record, anyway);
    }
    SelectRecord(1);
}

}  // namespace

void ResetWorkerState() {
    std::memset(g_records, 0, sizeof g_records);
    for (RecordState& state : g_records) std::strcpy(state.previousUrl, kInitialPreviousUrl);
    g_currentUrl[0] = '\0';
    // A stop asked for before the worker ran stays in its event.
    g_stopRequested.store(false);
    g_resumed.store(false);
    UnsealRecords();
}

bool UrlIsSet() { return std::strlen(g_currentUrl) >= kShortestUrl; }

bool RunUpdateNow() {
    RecordState& state = Selected();
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
        } else if (!g_stopRequested.load()) {
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

void RunUpdateCycle() { RunRecords(false); }
void RunUpdateNowCycle() { RunRecords(true); }

uint32_t CreateWorkerEvents() {
    RecordLock lock;
    if (!g_workerStopEvent.load()) {
        platform::Handle stop = platform::CreateManualResetEvent();
        if (!stop) return platform::LastError();
        g_workerStopEvent.store(stop);
        g_stopRequested.store(false);
    }
    if (!g_workerNowEvent.load()) {
        platform::Handle now = platform::CreateAutoResetEvent();
        if (!now) return platform::LastError();
        g_workerNowEvent.store(now);
    }
    return 0;
}

void CloseWorkerEvents() {
    // Under the lock: the control handler never signals an event that is
    // being closed.
    RecordLock lock;
    platform::CloseKernelHandle(g_workerStopEvent.exchange(nullptr));
    platform::CloseKernelHandle(g_workerNowEvent.exchange(nullptr));
}

int RequestWorkerStop() {
    g_stopRequested.store(true);
    RecordLock lock;
    platform::Handle event = g_workerStopEvent.load();
    if (!event) return 1;
    return platform::SetEventSignal(event) ? 1 : 0;
}

void RequestUpdateNow() {
    RecordLock lock;
    if (platform::Handle event = g_workerNowEvent.load()) platform::SetEventSignal(event);
}

void NoteResume() { g_resumed.store(true); }

void SealWorker() { SealRecords(MSG_SERVICE_END, CloseCaptureFile); }

int RunWorker() {
    ResetWorkerState();
    ComputeLocations();
    // The settings hold passwords and tokens: only SYSTEM and the
    // Administrators may read them, also in a file an older version left.
    platform::MakeFilePrivate(g_settingsPath);
    if (CreateWorkerEvents() != 0) {
        CloseWorkerEvents();
        return 0;
    }
    RecordEvent(MSG_SERVICE_START);

    for (;;) {
        const uint32_t woke =
            platform::WaitForWork(g_workerStopEvent.load(), g_workerNowEvent.load(), kWorkerTickMs);
        if (woke == platform::kWaitTimeout) {
            RunUpdateCycle();
        } else if (woke == platform::kWaitObject0 + 1) {
            // Ticks go on from the end of this update.
            RunUpdateNowCycle();
        } else {
            break;
        }
    }

    CloseWorkerEvents();
    SealWorker();
    return 1;
}

uint32_t WorkerThreadMain(void*) {
    // Built without exceptions and without allocation: nothing can leave
    // the thread routine.
    RunWorker();
    return 0;
}
