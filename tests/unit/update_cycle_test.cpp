// The update cycle's decisions: what is recorded, what is captured and
// when a request is due.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "worker/messages.h"
#include "worker/settings.h"
#include "worker/worker.h"

using fake::state;

namespace {

const char kUrl[] = "http://127.0.0.1/nic/update";
constexpr uint32_t kErrorCannotConnect = 12029;
constexpr uint32_t kErrorTimeout = 12002;
constexpr uint32_t kErrorExtended = 12003;

class UpdateCycle : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        fake::SetSetting("url", kUrl);
    }
    std::vector<uint32_t> EventIds() const {
        std::vector<uint32_t> ids;
        for (const auto& event : state.events) ids.push_back(event.second);
        return ids;
    }
    bool CaptureExists() const { return state.files.count(g_capturePath) != 0; }
    std::string Capture() const { return state.files.at(g_capturePath); }
};

// ---- the outcome of one request ---------------------------------------

struct OutcomeRow {
    const char* name;
    std::function<void()> script;
    std::vector<uint32_t> events;  // after the fetching status line
    std::optional<std::string> capture;  // expected content; none: never opened
};

class Outcome : public UpdateCycle, public ::testing::WithParamInterface<OutcomeRow> {};

TEST_P(Outcome, RecordsEventsAndCapturesOnlyTheLastBodyOrFailure) {
    const OutcomeRow& row = GetParam();
    fake::SetSetting("log", "1");
    state.files[g_capturePath] = "left from an earlier request";
    state.errorMessages[kErrorCannotConnect] = "The attempt to connect to the server failed.\r\n";
    state.errorMessages[kErrorTimeout] = "The operation timed out\r\n";
    state.errorMessages[kErrorExtended] = "An extended error was returned from the server.\r\n";
    row.script();

    RunUpdateCycle();

    EXPECT_EQ(EventIds(), row.events);
    ASSERT_FALSE(state.statusLines.empty());
    EXPECT_NE(state.statusLines.front().find(CatalogueText(MSG_URL_FETCHING)), std::string::npos);
    EXPECT_NE(fake::StatusLine().find(CatalogueText(row.events.back())), std::string::npos);
    if (row.capture) {
        EXPECT_EQ(Capture(), *row.capture);
    } else {
        EXPECT_EQ(state.captureOpens, 0);
        EXPECT_EQ(Capture(), "left from an earlier request");
    }
    EXPECT_EQ(state.openFiles, 0);
    EXPECT_EQ(state.openInternetHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Outcome,
    ::testing::Values(
        OutcomeRow{"Ok200WithBody",
                   [] { state.response.chunks = {std::string(1024, 'a'), std::string(1024, 'b'),
                                                 std::string(452, 'c')}; },
                   {MSG_URL_FETCHED},
                   std::string(1024, 'a') + std::string(1024, 'b') + std::string(452, 'c')},
        OutcomeRow{"Ok200Empty", [] {}, {MSG_HTTP_EMPTY_RESPONSE}, ""},
        OutcomeRow{"NotFoundWithBody",
                   [] {
                       state.response.status = 404;
                       state.response.chunks = {"<h1>Not Found</h1>"};
                   },
                   {MSG_HTTP_STATUS_NOT_OK}, "<h1>Not Found</h1>"},
        OutcomeRow{"NotFoundEmpty", [] { state.response.status = 404; },
                   {MSG_HTTP_STATUS_NOT_OK, MSG_HTTP_EMPTY_RESPONSE}, ""},
        OutcomeRow{"SecondReadFindsTheBody",
                   [] { state.response.chunks = {"", "late"}; }, {MSG_URL_FETCHED}, "late"},
        // A body that ends before its declared length is no answer.
        OutcomeRow{"BodyShorterThanDeclared",
                   [] {
                       state.response.chunks = {"good 192.0.2.1"};
                       state.response.declaredLength = 5000;
                   },
                   {MSG_REPLY_CUT}, "good 192.0.2.1"},
        OutcomeRow{"NoContent", [] { state.response.status = 204; }, {MSG_URL_FETCHED}, ""},
        OutcomeRow{"NoResponse",
                   [] { state.response.outcome = platform::OpenOutcome::NoResponse; },
                   {MSG_URL_OPEN_FAILED}, std::nullopt},
        OutcomeRow{"FailureWhileOpening",
                   [] {
                       state.response.outcome = platform::OpenOutcome::Failure;
                       state.response.openError = kErrorCannotConnect;
                   },
                   {MSG_HTTP_EXCEPTION},
                   "The attempt to connect to the server failed.\r\n"},
        OutcomeRow{"FailureTextIsCutTo1023Bytes",
                   [] {
                       state.response.outcome = platform::OpenOutcome::Failure;
                       state.response.openError = kErrorCannotConnect;
                       state.errorMessages[kErrorCannotConnect] = std::string(1100, 't');
                   },
                   {MSG_HTTP_EXCEPTION}, std::string(1023, 't')},
        // A cut never leaves half of a double-byte character behind.
        OutcomeRow{"FailureTextIsCutOnAWholeCharacter",
                   [] {
                       state.response.outcome = platform::OpenOutcome::Failure;
                       state.response.openError = kErrorCannotConnect;
                       state.errorMessages[kErrorCannotConnect] =
                           std::string(1022, 't') + "\x95\x5c" + std::string(10, 't');
                   },
                   {MSG_HTTP_EXCEPTION}, std::string(1022, 't')},
        OutcomeRow{"FailureWithoutText",
                   [] {
                       state.response.outcome = platform::OpenOutcome::Failure;
                       state.response.openError = 10060;
                   },
                   {MSG_HTTP_EXCEPTION}, ""},
        OutcomeRow{"FailureWhileReadingKeepsOnlyTheText",
                   [] {
                       state.response.status = 404;
                       state.response.chunks = {"part of a page"};
                       state.response.failingRead = 1;
                       state.response.readError = kErrorTimeout;
                   },
                   {MSG_HTTP_STATUS_NOT_OK, MSG_HTTP_EXCEPTION}, "The operation timed out\r\n"},
        OutcomeRow{"ExtendedErrorTakesTheServersText",
                   [] {
                       state.response.outcome = platform::OpenOutcome::Failure;
                       state.response.openError = kErrorExtended;
                       state.lastResponseText = "530 Login incorrect.\r\n";
                   },
                   {MSG_HTTP_EXCEPTION}, "530 Login incorrect.\r\n"},
        // Without a text from the server nothing is written: not the URL,
        // and not the library's generic message either.
        OutcomeRow{"ExtendedErrorWithoutTextWritesNothing",
                   [] {
                       state.response.outcome = platform::OpenOutcome::Failure;
                       state.response.openError = kErrorExtended;
                   },
                   {MSG_HTTP_EXCEPTION}, ""},
        // The Internet library cannot be opened at all: a failed request.
        OutcomeRow{"RootHandleFails",
                   [] {
                       state.response.rootFails = true;
                       state.response.rootError = kErrorCannotConnect;
                   },
                   {MSG_HTTP_EXCEPTION},
                   "The attempt to connect to the server failed.\r\n"},
        // No status code is no 200.
        OutcomeRow{"StatusCannotBeQueried",
                   [] {
                       state.response.statusQueryFails = true;
                       state.response.chunks = {"body"};
                   },
                   {MSG_HTTP_STATUS_NOT_OK}, "body"},
        OutcomeRow{"CaptureFileLocked",
                   [] {
                       state.captureLocked = true;
                       state.response.chunks = {"body"};
                   },
                   {MSG_LOGFILE_OPEN_FAILED, MSG_URL_FETCHED}, std::nullopt},
        OutcomeRow{"CaptureFileLockedAndNotFound",
                   [] {
                       state.captureLocked = true;
                       state.response.status = 404;
                   },
                   {MSG_LOGFILE_OPEN_FAILED, MSG_HTTP_STATUS_NOT_OK, MSG_HTTP_EMPTY_RESPONSE},
                   std::nullopt},
        // A write that fails costs the capture, never the outcome.
        OutcomeRow{"CaptureWriteFails",
                   [] {
                       state.failingWrite = 1;
                       state.response.chunks = {"one", "two", "three"};
                   },
                   {MSG_LOGFILE_OPEN_FAILED, MSG_URL_FETCHED}, "one"}),
    [](const ::testing::TestParamInfo<OutcomeRow>& info) { return std::string(info.param.name); });

TEST_F(UpdateCycle, CapturesTheBodyByteForByteInChunks) {
    fake::SetSetting("log", "1");
    std::string body;
    for (int i = 0; i < 2500; ++i) body += static_cast<char>(i % 251);
    state.response.chunks = {body.substr(0, 1024), body.substr(1024, 1024), body.substr(2048)};

    RunUpdateCycle();

    EXPECT_EQ(Capture(), body);
    EXPECT_EQ(state.captureOpens, 1);
}

TEST_F(UpdateCycle, LeavesTheCaptureFileAloneWhenCaptureIsOff) {
    state.response.chunks = {"body"};
    RunUpdateCycle();
    EXPECT_FALSE(CaptureExists());

    // and when the URL is not set, or no request is due
    fake::SetSetting("log", "1");
    RunUpdateCycle();  // not due
    fake::SetSetting("url", "");
    RunUpdateCycle();  // not set
    EXPECT_FALSE(CaptureExists());
}

TEST_F(UpdateCycle, SetsEveryTimeOutToTheConfiguredSeconds) {
    fake::SetSetting("timeout", "3");
    state.response.chunks = {"x"};
    RunUpdateCycle();
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {2, 3000}, {5, 3000}, {6, 3000}, {7, 3000}, {8, 3000}};
    EXPECT_EQ(state.timeouts, expected);
}

// ---- when a request is due ---------------------------------------------

TEST_F(UpdateCycle, FirstTickRequestsASetUrlWhateverTheInterval) {
    fake::SetSetting("interval", "100000");
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls, std::vector<std::string>{kUrl});
}

TEST_F(UpdateCycle, RequestsAgainOnlyWhenMoreThanTheIntervalHasPassed) {
    fake::SetSetting("interval", "20");
    state.tickPerRequest = 500;
    RunUpdateCycle();  // the first request: the URL is new
    const uint32_t end = state.tick;

    state.tick = end + 20000;  // exactly the interval since the end: not yet
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls.size(), 1u);
    state.tick = end + 20001;
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls.size(), 2u);
}

TEST_F(UpdateCycle, ElapsedTimeSurvivesATickCountWrap) {
    fake::SetSetting("interval", "60");
    state.tick = 0xFFFFF000u;  // 4096 ms before the wrap
    RunUpdateCycle();
    state.tick = 30000;  // about 34 s later, after the wrap
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls.size(), 1u);
    state.tick = 60000;  // about 64 s later
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls.size(), 2u);
}

TEST_F(UpdateCycle, IntervalZeroRequestsAtEveryTick) {
    fake::SetSetting("interval", "0");
    for (int i = 0; i < 3; ++i) {
        state.tick += 15000;
        RunUpdateCycle();
    }
    EXPECT_EQ(state.requestedUrls.size(), 3u);
}

TEST_F(UpdateCycle, AChangedUrlIsRequestedAtOnceAndTheIntervalCountsFromThere) {
    fake::SetSetting("interval", "600");
    RunUpdateCycle();
    fake::SetSetting("url", "http://127.0.0.1/other");
    state.tick += 15000;
    RunUpdateCycle();
    state.tick += 15000;
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls,
              (std::vector<std::string>{kUrl, "http://127.0.0.1/other"}));
}

TEST_F(UpdateCycle, AFailedRequestIsNotRetriedBeforeTheInterval) {
    fake::SetSetting("interval", "600");
    state.response.outcome = platform::OpenOutcome::Failure;
    RunUpdateCycle();
    state.response.outcome = platform::OpenOutcome::Response;
    state.tick += 15000;
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls.size(), 1u);
}

TEST_F(UpdateCycle, AUrlOfExactlyDummyWaitsForTheInterval) {
    fake::SetSetting("url", "dummy");
    fake::SetSetting("interval", "600");
    state.tick = 600000;  // not more than the interval since tick 0
    RunUpdateCycle();
    EXPECT_TRUE(state.requestedUrls.empty());
    state.tick = 600001;
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls, std::vector<std::string>{"dummy"});
}

TEST_F(UpdateCycle, UrlsShorterThanFiveBytesAreNotSetAndWarnedAboutOncePerChange) {
    fake::SetSetting("url", "");
    RunUpdateCycle();
    RunUpdateCycle();
    EXPECT_EQ(EventIds(), std::vector<uint32_t>{MSG_URL_NOT_SET});

    fake::SetSetting("url", "abcd");  // another short text: warned again
    RunUpdateCycle();
    RunUpdateCycle();
    EXPECT_EQ(EventIds(), (std::vector<uint32_t>{MSG_URL_NOT_SET, MSG_URL_NOT_SET}));
    EXPECT_TRUE(state.requestedUrls.empty());

    fake::SetSetting("url", "abcde");  // five bytes are a URL
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls, std::vector<std::string>{"abcde"});
}

TEST_F(UpdateCycle, ClearingTheUrlWarnsOnceAndTheSameUrlIsRequestedWhenSetAgain) {
    fake::SetSetting("interval", "600");
    RunUpdateCycle();
    fake::RemoveSetting("url");
    RunUpdateCycle();
    RunUpdateCycle();
    fake::SetSetting("url", kUrl);
    RunUpdateCycle();
    EXPECT_EQ(state.requestedUrls, (std::vector<std::string>{kUrl, kUrl}));
    const std::vector<uint32_t> ids = EventIds();
    EXPECT_EQ(std::count(ids.begin(), ids.end(), MSG_URL_NOT_SET), 1);
}

// A URL (or check URL) longer than 1023 bytes is not sent cut: it is not
// sent at all, and that is recorded once per change of the text.
TEST_F(UpdateCycle, AnOverlongUrlIsNeverRequestedAndWarnedAboutOncePerChange) {
    const std::string overlong = "http://127.0.0.1/nic/update?token=" + std::string(990, 't');
    ASSERT_EQ(overlong.size(), 1024u);
    fake::SetSetting("url", overlong);
    RunUpdateCycle();
    RunUpdateCycle();
    fake::SetSetting("url", kUrl);
    fake::SetSetting("checkurl", "http://127.0.0.1/ip?" + std::string(1010, 'c'));
    RunUpdateCycle();
    RunUpdateCycle();
    EXPECT_TRUE(state.requestedUrls.empty());
    EXPECT_EQ(EventIds(), (std::vector<uint32_t>{MSG_URL_OPEN_FAILED, MSG_URL_OPEN_FAILED}));

    fake::RemoveSetting("checkurl");
    RunUpdateCycle();  // once the texts fit, the next tick requests it
    EXPECT_EQ(state.requestedUrls, std::vector<std::string>{kUrl});
}

struct LongWaitRow {
    const char* name;
    const char* interval;  // seconds
};

class LongWait : public UpdateCycle, public ::testing::WithParamInterface<LongWaitRow> {};

// The longest interval, and the largest that the tick count's wrap would
// have jumped over, are both reached: at the first tick past them.
TEST_P(LongWait, IsReachedAtTheFirstTickPastIt) {
    fake::SetSetting("interval", GetParam().interval);
    state.response.chunks = {"ok"};
    RunUpdateCycle();  // the first request: the URL is new
    const uint64_t wait = static_cast<uint64_t>(g_intervalMs);
    uint64_t elapsed = 0;
    constexpr uint32_t kTickMs = 3600000;  // an hour a tick keeps the loop short
    while (state.requestedUrls.size() == 1 && elapsed <= wait + kTickMs) {
        state.tick += kTickMs;
        elapsed += kTickMs;
        RunUpdateCycle();
    }
    EXPECT_EQ(state.requestedUrls.size(), 2u);
    EXPECT_GT(elapsed, wait);
    EXPECT_LE(elapsed, wait + kTickMs);
}

INSTANTIATE_TEST_SUITE_P(Table, LongWait,
                         ::testing::Values(LongWaitRow{"WithinOneTickOfTheWrap", "4294967"},
                                           LongWaitRow{"Saturated", "4294968"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
