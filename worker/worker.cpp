// The worker loop and the update cycle: one HTTP GET of the configured URL
// when it is due (after a check of the address, when a check URL is set),
// its outcome recorded and, on request, its body captured.
#include "worker/worker.h"

#include <atomic>
#include <cstring>

#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/provider_rules.h"
#include "worker/settings.h"
#include "worker/text.h"

namespace {

// Read by RequestWorkerStop on the control handler's thread.
std::atomic<platform::Handle> g_workerStopEvent{nullptr};

uint32_t g_lastRequestTick;
char g_previousUrl[kUrlBufferSize];

const char kInitialPreviousUrl[] = "dummy";

// Failed updates in a row, for the retry delay.
uint32_t g_failuresInARow;
// What the last successful update was sent for, while there is one.
bool g_haveUpdated;
uint32_t g_lastUpdateTick;
char g_lastUpdateAddress[kAddressBytes + 1];
char g_lastUpdateUrl[kUrlBufferSize];

// "Authorization: Basic " and the Base64 of 255 + 1 + 255 bytes, CR LF, NUL.
constexpr size_t kAuthorizationSize = 21 + (kShortSettingSize * 2 + 1) / 3 * 4 + 3;


// The capture file of one request. Capture can be switched off for the rest
// of the request when the file cannot be opened or written.
struct Capture {
    bool on = false;
    platform::Handle file = nullptr;
    ~Capture() { Close(); }

    // Opens (and so empties) the capture file; records the warning and
    // switches capture off when that fails.
    void Open() {
        file = platform::OpenCaptureFile(g_capturePath);
        if (!file) {
            RecordEvent(MSG_LOGFILE_OPEN_FAILED);
            on = false;
        }
    }
    // A failed write must not cost the request its outcome: warn, stop
    // capturing and go on reading.
    void Write(const void* data, uint32_t size) {
        if (!on || !file) return;
        if (!platform::WriteCaptureFile(file, data, size)) {
            RecordEvent(MSG_LOGFILE_OPEN_FAILED);
            Close();
            on = false;
        }
    }
    void Close() {
        if (file) platform::CloseCaptureFile(file);
        file = nullptr;
    }
};

// Closes the Internet handles of one request on every path.
struct RequestHandles {
    platform::Handle root = nullptr;
    platform::Handle response = nullptr;
    ~RequestHandles() {
        ReleaseResponse();
        if (root) platform::CloseInternetHandle(root);
    }
    void ReleaseResponse() {
        if (response) platform::CloseInternetHandle(response);
        response = nullptr;
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
    if (!capture.on) return;
    capture.Close();
    platform::Handle file = platform::OpenCaptureFile(g_capturePath);
    if (!file) return;
    char text[kUrlBufferSize];
    const size_t length = FailureText(error, text, sizeof text);
    if (length > 0) platform::WriteCaptureFile(file, text, static_cast<uint32_t>(length));
    platform::CloseCaptureFile(file);
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

// Opens the URL, reads the body and records the outcome; true when that
// outcome is the success event.
bool RunRequest() {
    Capture capture;
    capture.on = g_captureFlag != 0;
    RequestHandles handles;
    uint32_t error = 0;

    handles.root = OpenRoot(&error);
    if (!handles.root) {
        HandleInternetFailure(error, capture);
        return false;
    }
    char authorization[kAuthorizationSize];
    const bool credentials =
        g_user[0] && BasicAuthorizationHeader(g_user, g_password, authorization, sizeof authorization);

    switch (platform::OpenInternetUrl(handles.root, g_currentUrl, credentials ? authorization : nullptr,
                                      &handles.response, &error)) {
        case platform::OpenOutcome::NoResponse:
            handles.response = nullptr;
            RecordEvent(MSG_URL_OPEN_FAILED);
            return false;
        case platform::OpenOutcome::Failure:
            handles.response = nullptr;
            HandleInternetFailure(error, capture);
            return false;
        case platform::OpenOutcome::Response:
            break;
    }

    if (capture.on) capture.Open();

    // A status that cannot be queried is no 200. A refused update still has
    // its body read and captured (the provider's page says why), but it is
    // never recorded as fetched.
    uint32_t status = 0;
    const bool ok = platform::QueryHttpStatus(handles.response, &status) && status == kHttpStatusOk;
    if (!ok) RecordEvent(MSG_HTTP_STATUS_NOT_OK);

    BodyMatch expected;
    if (g_okBody[0]) StartBodyMatch(&expected, g_okBody);

    char chunk[kBodyChunkSize];
    uint32_t read = 0;
    // An empty body is two reads of 0 bytes in a row at the start.
    for (int attempt = 0; attempt < 2 && read == 0; ++attempt) {
        if (!platform::ReadInternetChunk(handles.response, chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return false;
        }
    }
    if (read == 0) {
        RecordEvent(MSG_HTTP_EMPTY_RESPONSE);
        capture.Close();
        return false;
    }
    while (read > 0) {
        capture.Write(chunk, read);
        if (g_okBody[0]) FeedBodyMatch(&expected, chunk, read);
        if (!platform::ReadInternetChunk(handles.response, chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return false;
        }
    }
    handles.ReleaseResponse();
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
bool CheckAddress(char* address) {
    RequestHandles handles;
    uint32_t error = 0;
    handles.root = OpenRoot(&error);
    if (!handles.root) return false;
    if (platform::OpenInternetUrl(handles.root, g_checkUrl, nullptr, &handles.response, &error) !=
        platform::OpenOutcome::Response) {
        handles.response = nullptr;
        return false;
    }
    uint32_t status = 0;
    if (!platform::QueryHttpStatus(handles.response, &status) || status != kHttpStatusOk) return false;
    char start[kAddressBytes];
    uint32_t have = 0, read = 0;
    int emptyReads = 0;
    // The first bytes are enough; the rest of the body is left unread.
    while (have < sizeof start && emptyReads < 2) {
        if (!platform::ReadInternetChunk(handles.response, start + have, sizeof start - have, &read,
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

}  // namespace

void ResetWorkerState() {
    g_lastRequestTick = 0;
    std::strcpy(g_previousUrl, kInitialPreviousUrl);
    g_currentUrl[0] = '\0';
    g_failuresInARow = 0;
    g_haveUpdated = false;
    g_lastUpdateTick = 0;
    g_lastUpdateAddress[0] = '\0';
    g_lastUpdateUrl[0] = '\0';
}

bool UrlIsSet() { return std::strlen(g_currentUrl) >= kShortestUrl; }

bool RunUpdateNow() {
    if (std::strcmp(g_currentUrl, g_previousUrl) != 0) g_failuresInARow = 0;
    std::strcpy(g_previousUrl, g_currentUrl);
    g_lastRequestTick = platform::TickCount();
    RecordEvent(MSG_URL_FETCHING);

    bool failed = false, updated = false;
    char address[kAddressBytes + 1] = "";
    if (std::strlen(g_checkUrl) >= kShortestUrl) {
        if (!CheckAddress(address)) {
            RecordEvent(MSG_ADDRESS_UNCHECKED);
            failed = true;
        } else if (g_haveUpdated && std::strcmp(address, g_lastUpdateAddress) == 0 &&
                   std::strcmp(g_currentUrl, g_lastUpdateUrl) == 0 &&
                   !(g_forceMs != 0 && platform::TickCount() - g_lastUpdateTick > g_forceMs)) {
            RecordEvent(MSG_ADDRESS_UNCHANGED);
        } else {
            updated = RunRequest();
            failed = !updated;
        }
    } else {
        updated = RunRequest();
        failed = !updated;
    }
    // The interval, and the retry delay, count from the end of the request.
    g_lastRequestTick = platform::TickCount();
    if (updated) {
        g_haveUpdated = true;
        g_lastUpdateTick = g_lastRequestTick;
        std::strcpy(g_lastUpdateAddress, address);
        std::strcpy(g_lastUpdateUrl, g_currentUrl);
    }
    if (failed) {
        if (g_failuresInARow < UINT32_MAX) ++g_failuresInARow;
    } else {
        g_failuresInARow = 0;
    }
    return updated;
}

void RunUpdateCycle() {
    ReadSettings();

    if (!UrlIsSet()) {
        // Warn once per change of the short text, not at every tick.
        if (std::strcmp(g_currentUrl, g_previousUrl) != 0) {
            RecordEvent(MSG_URL_NOT_SET);
            std::strcpy(g_previousUrl, g_currentUrl);
        }
        return;
    }

    // After a failed update, retry (when set) shortens the wait.
    uint32_t wait = g_intervalMs;
    if (g_retryMs != 0 && g_failuresInARow > 0) {
        wait = RetryDelayMs(g_retryMs, g_failuresInARow, g_intervalMs);
    }
    const uint32_t elapsed = platform::TickCount() - g_lastRequestTick;  // modulo 2^32
    if (!(elapsed > wait) && std::strcmp(g_currentUrl, g_previousUrl) == 0) return;
    RunUpdateNow();
}

bool CreateWorkerStopEvent() {
    if (g_workerStopEvent.load()) return true;
    platform::Handle event = platform::CreateManualResetEvent();
    if (!event) return false;
    g_workerStopEvent.store(event);
    return true;
}

void CloseWorkerStopEvent() { platform::CloseKernelHandle(g_workerStopEvent.exchange(nullptr)); }

int RequestWorkerStop() {
    platform::Handle event = g_workerStopEvent.load();
    if (!event) return 1;
    return platform::SetEventSignal(event) ? 1 : 0;
}

int RunWorker() {
    ResetWorkerState();
    ComputeLocations();
    if (!CreateWorkerStopEvent()) return 0;
    RecordEvent(MSG_SERVICE_START);

    while (platform::WaitForEvent(g_workerStopEvent.load(), kWorkerTickMs) == platform::kWaitTimeout) {
        RunUpdateCycle();
    }

    CloseWorkerStopEvent();
    RecordEvent(MSG_SERVICE_END);
    return 1;
}

uint32_t WorkerThreadMain(void*) {
    // Built without exceptions and without allocation: nothing can leave
    // the thread routine.
    RunWorker();
    return 0;
}
