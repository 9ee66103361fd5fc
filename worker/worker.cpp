// The worker loop and the update cycle: one HTTP GET of the configured URL
// when it is due, its outcome recorded and, on request, its body captured.
#include "worker.h"

#include <atomic>
#include <cstring>

#include "messages.h"
#include "platform.h"
#include "settings.h"

namespace {

// Read by RequestWorkerStop on the control handler's thread.
std::atomic<platform::Handle> g_workerStopEvent{nullptr};

uint32_t g_lastRequestTick;
char g_previousUrl[kUrlBufferSize];

const char kInitialPreviousUrl[] = "dummy";

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

// Opens the URL, reads the body and records the outcome.
void RunRequest() {
    Capture capture;
    capture.on = g_captureFlag != 0;
    RequestHandles handles;
    uint32_t error = 0;

    handles.root = platform::InternetRoot(&error);
    if (!handles.root) {
        HandleInternetFailure(error, capture);
        return;
    }
    for (uint32_t option : kTimeoutOptions) {
        platform::SetInternetTimeout(handles.root, option, g_timeoutMs);
    }

    switch (platform::OpenInternetUrl(handles.root, g_currentUrl, &handles.response, &error)) {
        case platform::OpenOutcome::NoResponse:
            handles.response = nullptr;
            RecordEvent(MSG_URL_OPEN_FAILED);
            return;
        case platform::OpenOutcome::Failure:
            handles.response = nullptr;
            HandleInternetFailure(error, capture);
            return;
        case platform::OpenOutcome::Response:
            break;
    }

    if (capture.on) capture.Open();

    // A status that cannot be queried is no 200.
    uint32_t status = 0;
    if (!platform::QueryHttpStatus(handles.response, &status) || status != kHttpStatusOk) {
        RecordEvent(MSG_HTTP_STATUS_NOT_OK);
    }

    char chunk[kBodyChunkSize];
    uint32_t read = 0;
    // An empty body is two reads of 0 bytes in a row at the start.
    for (int attempt = 0; attempt < 2 && read == 0; ++attempt) {
        if (!platform::ReadInternetChunk(handles.response, chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return;
        }
    }
    if (read == 0) {
        RecordEvent(MSG_HTTP_EMPTY_RESPONSE);
        capture.Close();
        return;
    }
    while (read > 0) {
        capture.Write(chunk, read);
        if (!platform::ReadInternetChunk(handles.response, chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return;
        }
    }
    handles.ReleaseResponse();
    capture.Close();
    RecordEvent(MSG_URL_FETCHED);
}

}  // namespace

void ResetWorkerState() {
    g_lastRequestTick = 0;
    std::strcpy(g_previousUrl, kInitialPreviousUrl);
    g_currentUrl[0] = '\0';
}

void RunUpdateCycle() {
    ReadSettings();

    if (std::strlen(g_currentUrl) < kShortestUrl) {
        // Warn once per change of the short text, not at every tick.
        if (std::strcmp(g_currentUrl, g_previousUrl) != 0) {
            RecordEvent(MSG_URL_NOT_SET);
            std::strcpy(g_previousUrl, g_currentUrl);
        }
        return;
    }

    const uint32_t elapsed = platform::TickCount() - g_lastRequestTick;  // modulo 2^32
    if (!(elapsed > g_intervalMs) && std::strcmp(g_currentUrl, g_previousUrl) == 0) return;

    std::strcpy(g_previousUrl, g_currentUrl);
    g_lastRequestTick = platform::TickCount();
    RecordEvent(MSG_URL_FETCHING);
    RunRequest();
    // The interval counts from the end of the request, whatever its outcome.
    g_lastRequestTick = platform::TickCount();
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

    platform::CloseKernelHandle(g_workerStopEvent.exchange(nullptr));
    RecordEvent(MSG_SERVICE_END);
    return 1;
}

uint32_t WorkerThreadMain(void*) {
    // Nothing may leave the thread routine; a failed allocation ends the
    // worker like a failed start.
    try {
        RunWorker();
    } catch (...) {
    }
    return 0;
}
