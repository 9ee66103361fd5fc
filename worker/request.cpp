// One HTTP GET and what comes of it: the root handle with the settings'
// agent, proxy and time-outs, the outcome recorded (the provider's answer
// code read) and, on request, the body or the failure text captured; and
// the check of this machine's address, entry by entry. This file is
// compiled with code page 932 as its execution character set, for the
// Japanese texts of the check's lines.
#include "worker/request.h"

#include <cstring>

#include "common/unique_handle.h"
#include "worker/local_address.h"
#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/provider_answer.h"
#include "worker/provider_rules.h"
#include "worker/settings.h"
#include "worker/text.h"
#include "worker/worker.h"

namespace {

// "Authorization: Basic " and the Base64 of 255 + 1 + 255 bytes, CR LF, NUL.
constexpr size_t kAuthorizationSize = 21 + (kShortSettingSize * 2 + 1) / 3 * 4 + 3;

using InternetHandle = UniqueHandle<platform::Handle, platform::CloseInternetHandle>;

// The capture file of the request under way, or null. A stop that cannot
// wait for the worker closes it, so it is only touched under the record
// lock. A plain handle, closed where it is left: the program runs no global
// constructors or destructors.
platform::Handle g_captureFile;

void CloseCaptureFileLocked() {
    if (g_captureFile) platform::CloseCaptureFile(g_captureFile);
    g_captureFile = nullptr;
}

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
        CloseCaptureFileLocked();  // an earlier open of this request, not shared with the new one
        if (RecordsSealed()) return on = false;
        g_captureFile = platform::OpenCaptureFile(path);
        if (!g_captureFile && warn) RecordEventLocked(MSG_LOGFILE_OPEN_FAILED, SelectedDnsRecord());
        return on = g_captureFile != nullptr;
    }
    // A failed write must not cost the request its outcome: warn, stop
    // capturing and go on reading.
    void Write(const void* data, uint32_t size) {
        if (!on) return;
        RecordLock lock;
        if (RecordsSealed() || !g_captureFile) {
            on = false;
        } else if (!platform::WriteCaptureFile(g_captureFile, data, size)) {
            RecordEventLocked(MSG_LOGFILE_OPEN_FAILED, SelectedDnsRecord());
            CloseCaptureFileLocked();
            on = false;
        }
    }
    void Close() {
        RecordLock lock;
        CloseCaptureFileLocked();
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
        platform::WriteCaptureFile(g_captureFile, text, static_cast<uint32_t>(length));
    }
    CloseCaptureFileLocked();
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

void CloseCaptureFile() { CloseCaptureFileLocked(); }

namespace {

// The message of a provider's refusal, by its answer code.
uint32_t RefusalMessage(AnswerCode code) {
    switch (code) {
        case AnswerCode::BadAuth: return MSG_REFUSED_ACCOUNT;
        case AnswerCode::BadAgent: return MSG_REFUSED_AGENT;
        case AnswerCode::Abuse: return MSG_REFUSED_ABUSE;
        case AnswerCode::NotDonator: return MSG_REFUSED_PLAN;
        default: return MSG_REFUSED_HOST;  // nohost, notfqdn, numhost, !yours
    }
}

}  // namespace

// A stop ends the request between two chunks: the capture keeps what had
// arrived, and no outcome is recorded.
Outcome RunRequest(const char* url) {
    Capture capture(g_captureFlag != 0);
    uint32_t error = 0;

    InternetHandle root(OpenRoot(&error));
    if (!root) {
        HandleInternetFailure(error, capture);
        return Outcome::Failure;
    }
    char authorization[kAuthorizationSize];
    const bool credentials =
        g_user[0] && BasicAuthorizationHeader(g_user, g_password, authorization, sizeof authorization);

    platform::Handle opened = nullptr;
    switch (platform::OpenInternetUrl(root.Get(), url, credentials ? authorization : nullptr, &opened,
                                      &error)) {
        case platform::OpenOutcome::NoResponse:
            RecordEvent(MSG_URL_OPEN_FAILED);
            return Outcome::Failure;
        case platform::OpenOutcome::Failure:
            HandleInternetFailure(error, capture);
            return Outcome::Failure;
        case platform::OpenOutcome::Response:
            break;
    }
    InternetHandle response(opened);

    if (capture.on) capture.Open(true);

    // A status that cannot be queried is no 200. A refused update still has
    // its body read and captured (the provider's page says why), but it is
    // never recorded as fetched. 204 No Content is a success without a body.
    uint32_t status = 0;  // stays 0 when it cannot be queried
    platform::QueryHttpStatus(response.Get(), &status);
    const bool ok = status == kHttpStatusOk;
    const bool noContent = status == kHttpStatusNoContent;
    if (!ok && !noContent) RecordEvent(MSG_HTTP_STATUS_NOT_OK);

    BodyMatch expected;
    if (g_okBody[0]) StartBodyMatch(&expected, g_okBody);
    AnswerReader answer;
    StartAnswer(&answer);

    char chunk[kBodyChunkSize];
    uint32_t read = 0;
    uint64_t received = 0;
    // An empty body is two reads of 0 bytes in a row at the start.
    for (int attempt = 0; attempt < 2 && read == 0; ++attempt) {
        if (!platform::ReadInternetChunk(response.Get(), chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return Outcome::Failure;
        }
    }
    while (read > 0) {
        received += read;
        capture.Write(chunk, read);
        if (g_okBody[0]) FeedBodyMatch(&expected, chunk, read);
        FeedAnswer(&answer, chunk, read);
        if (StopRequested()) return Outcome::Failure;
        if (!platform::ReadInternetChunk(response.Get(), chunk, sizeof chunk, &read, &error)) {
            HandleInternetFailure(error, capture);
            return Outcome::Failure;
        }
    }
    // A body that ended before its declared end is no answer at all.
    const bool whole = platform::BodyComplete(response.Get(), received);
    response.Reset();
    capture.Close();
    if (!whole) {
        RecordEvent(MSG_REPLY_CUT);
        return Outcome::Failure;
    }
    if (received == 0 && !noContent) {
        RecordEvent(MSG_HTTP_EMPTY_RESPONSE);
        return Outcome::Failure;
    }
    if (!ok && !noContent) return Outcome::Failure;
    // The provider's answer code: a refusal or a wait is never a success,
    // whatever okbody found.
    const AnswerCode code = FinishAnswer(&answer);
    if (IsStopCode(code)) {
        RecordEvent(RefusalMessage(code), AnswerCodeText(code));
        return Outcome::Refused;
    }
    if (IsWaitCode(code)) {
        RecordEvent(MSG_PROVIDER_WAIT, AnswerCodeText(code));
        return Outcome::Wait;
    }
    if (g_okBody[0] && !expected.found) {
        RecordEvent(MSG_NOT_A_SUCCESS);
        return Outcome::Failure;
    }
    RecordEvent(MSG_URL_FETCHED);
    return Outcome::Success;
}

namespace {

// Why a check entry gave no address, as its line in the capture file says.
const char kNoResponse[] = "応答がありません。";
const char kNoAddress[] = "アドレスがありません。";
const char kSeveral[] = "アドレスが複数あります。";
const char kUnusable[] = "DNSレコードに使えないアドレスです。";
const char kOtherFamily[] = "familyと違う種類のアドレスです。";
const char kNoStableIpv6[] = "安定したIPv6アドレスがありません。";

// The body of a check answer: only the worker's thread checks.
char g_answer[kAnswerBytes];

// One check URL: true with the address it answered; else why not in why.
bool CheckOnline(const char* url, int family, char (&address)[kAddressTextSize], char* why,
                 size_t size) {
    uint32_t error = 0;
    InternetHandle root(OpenRoot(&error));
    platform::Handle opened = nullptr;
    const platform::OpenOutcome outcome =
        root ? platform::OpenInternetUrl(root.Get(), url, nullptr, &opened, &error)
             : platform::OpenOutcome::Failure;
    InternetHandle response(opened);
    if (outcome == platform::OpenOutcome::Failure) {
        FailureText(error, why, size);
        return false;
    }
    if (outcome == platform::OpenOutcome::NoResponse) {
        CopyCut(why, size, kNoResponse, sizeof kNoResponse - 1);
        return false;
    }
    uint32_t status = 0;
    if (!platform::QueryHttpStatus(response.Get(), &status) || status != kHttpStatusOk) {
        CopyCut(why, size, "HTTP ", 5);
        AppendDecimal(why, size, static_cast<int>(status), 1);
        return false;
    }
    // The first bytes are enough; the rest of the body is left unread.
    uint32_t have = 0, read = 0;
    for (int emptyReads = 0; have < kAnswerBytes;) {
        if (!platform::ReadInternetChunk(response.Get(), g_answer + have, kAnswerBytes - have, &read,
                                         &error)) {
            FailureText(error, why, size);
            return false;
        }
        if (read == 0 && (have > 0 || ++emptyReads == 2)) break;
        have += read;
    }
    static const char* const kWhy[] = {nullptr, kNoAddress, kSeveral, kUnusable, kOtherFamily};
    const AnswerAddress found = FindAnswerAddress(g_answer, have, family, address);
    if (found == AnswerAddress::Found) return true;
    const char* text = kWhy[static_cast<int>(found)];
    CopyCut(why, size, text, std::strlen(text));
    return false;
}

}  // namespace

bool CheckAddress(const char* checkUrl, int family, char (&address)[kAddressTextSize]) {
    Capture lines(g_captureFlag != 0);  // opened at the first entry that gives no address
    bool opened = false;
    char entry[kUrlReadSize];
    // Its line in the capture file: the entry, a blank, why, CR LF.
    constexpr size_t kWhySize = 256;
    char line[kUrlReadSize + kWhySize + 2];
    const char* at = checkUrl;
    for (int n = 0; n < kCheckEntries && NextCheckEntry(&at, entry, sizeof entry); ++n) {
        size_t length = AppendCut(std::strcpy(line, entry), kUrlReadSize + 1, " ");
        char* const why = line + length;
        *why = '\0';
        if (IsLocalAddressCheck(entry)) {
            // This machine's own addresses are IPv6 only.
            if (family != 4 && CheckLocalIpv6(address)) return true;
            AppendCut(why, kWhySize, family == 4 ? kOtherFamily : kNoStableIpv6);
        } else if (CheckOnline(entry, family, address, why, kWhySize)) {
            return true;
        }
        if (lines.on) {
            if (!opened) opened = lines.Open(true);
            // The library's texts end in a line end of their own.
            length = std::strlen(line);
            while (line[length - 1] == '\r' || line[length - 1] == '\n') --length;
            std::memcpy(line + length, "\r\n", 2);
            lines.Write(line, static_cast<uint32_t>(length + 2));
        }
        if (StopRequested()) break;
    }
    address[0] = '\0';
    return false;
}
