// One HTTP GET and what comes of it: the root handle with the settings'
// agent, proxy and time-outs, the outcome recorded and, on request, the
// body or the failure text captured. A stop ends a request between two
// chunks.
#include "worker/request.h"

#include "common/unique_handle.h"
#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/provider_rules.h"
#include "worker/settings.h"
#include "worker/text.h"
#include "worker/worker.h"

namespace {

// "Authorization: Basic " and the Base64 of 255 + 1 + 255 bytes, CR LF, NUL.
constexpr size_t kAuthorizationSize = 21 + (kShortSettingSize * 2 + 1) / 3 * 4 + 3;

using InternetHandle = UniqueHandle<platform::Handle, platform::CloseInternetHandle>;
using CaptureHandle = UniqueHandle<platform::Handle, platform::CloseCaptureFile>;

// The capture file of the request under way. A stop that cannot wait for
// the worker closes it, so it is only touched under the record lock.
CaptureHandle g_captureFile;

// The capture of one request. Capture can be switched off for the rest of
// the request when the file cannot be opened or written, or once a stop has
// sealed the recording.
struct Capture {
    bool on = false;
    char path[kLocationSize];

    explicit Capture(bool wanted) : on(wanted) { CapturePathFor(SelectedDnsRecord(), path); }
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
        if (!g_captureFile && warn) RecordEventLocked(MSG_LOGFILE_OPEN_FAILED, SelectedDnsRecord());
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
            RecordEventLocked(MSG_LOGFILE_OPEN_FAILED, SelectedDnsRecord());
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

}  // namespace

void CloseCaptureFile() { g_captureFile.Reset(); }

// A stop ends the request between two chunks: the capture keeps what had
// arrived, and no outcome is recorded.
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
        if (StopRequested()) return false;
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
