// What the Service Control Manager sees from a start, the controls and a
// stop, and the handshake with the worker.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "fake_platform.h"
#include "fake_scm.h"
#include "service/service_control.h"
#include "worker/messages.h"

using fakescm::state;

namespace {

constexpr uint32_t kInterrogate = 4;
constexpr uint32_t kPowerEvent = 13;

// (state, exit code, check point, wait hint, controls accepted)
using Seen = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;

std::vector<Seen> Reports() {
    std::vector<Seen> seen;
    for (const fakescm::Report& report : state.reports) {
        const scm::ServiceStatusRecord& r = report.record;
        seen.emplace_back(r.currentState, r.win32ExitCode, r.checkPoint, r.waitHint,
                          r.controlsAccepted);
    }
    return seen;
}

const Seen kStart1{SERVICE_STATE_START_PENDING, 100, 1, 3000, 0};
const Seen kStart2{SERVICE_STATE_START_PENDING, 200, 2, 3000, 0};
const Seen kStart3{SERVICE_STATE_START_PENDING, 300, 3, 3000, 0};
const Seen kRunning{SERVICE_STATE_RUNNING, 0, 0, 0, 0x45};
const Seen kStopped{SERVICE_STATE_STOPPED, 0, 0, 0, 0x45};

class ServiceControl : public ::testing::Test {
protected:
    void SetUp() override { fakescm::Reset(); }
};

class StopOrShutdown : public ServiceControl, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(StopOrShutdown, StartsInStepsAndStopsAfterTheWorkerHasEnded) {
    state.controlsWhileRunning = {GetParam()};

    RunService(0, nullptr);

    const std::vector<Seen> expected = {kStart1, kStart2, kStart3, kRunning,
                                        Seen{SERVICE_STATE_STOP_PENDING, 0, 4, 0, 0x45}, kStopped};
    EXPECT_EQ(Reports(), expected);
    for (const fakescm::Report& report : state.reports) {
        EXPECT_EQ(report.record.serviceType, 0x10u);
        EXPECT_EQ(report.record.serviceSpecificExitCode, 0u);
        EXPECT_TRUE(report.locked);
    }
    // The worker recorded its end before the stop was reported pending.
    ASSERT_TRUE(state.workerEnded);
    EXPECT_EQ(fake::state.events.back().second, MSG_SERVICE_END);
    EXPECT_EQ(state.reports[4].workerEvents, fake::state.events.size());
    EXPECT_FALSE(state.waitedOnUnsignalledEvent);
    EXPECT_EQ(state.handlerResults, std::vector<uint32_t>{0});
    EXPECT_EQ(state.liveEvents + fake::state.liveEvents, 0);
}

INSTANTIATE_TEST_SUITE_P(Controls, StopOrShutdown,
                         ::testing::Values(SERVICE_CONTROL_CODE_STOP, SERVICE_CONTROL_CODE_SHUTDOWN),
                         [](const auto& info) { return info.param == SERVICE_CONTROL_CODE_STOP ? "Stop" : "Shutdown"; });

TEST_F(ServiceControl, OtherControlsAreAnsweredByAReReportAndReturnZero) {
    state.controlsWhileRunning = {kInterrogate, kPowerEvent, 0x99, SERVICE_CONTROL_CODE_STOP};

    RunService(0, nullptr);

    const std::vector<Seen> expected = {kStart1, kStart2, kStart3, kRunning, kRunning, kRunning,
                                        kRunning, Seen{SERVICE_STATE_STOP_PENDING, 0, 4, 0, 0x45},
                                        kStopped};
    EXPECT_EQ(Reports(), expected);
    EXPECT_EQ(state.handlerResults, (std::vector<uint32_t>{0, 0, 0, 0}));
}

TEST_F(ServiceControl, InterrogationWhilePendingTakesTheNextCheckPoint) {
    state.controlsAtEventCreation = {kInterrogate};
    state.controlsWhileRunning = {SERVICE_CONTROL_CODE_STOP};

    RunService(0, nullptr);

    const std::vector<Seen> expected = {
        kStart1,
        Seen{SERVICE_STATE_START_PENDING, 0, 2, 0, 0},  // the re-report
        Seen{SERVICE_STATE_START_PENDING, 200, 3, 3000, 0},
        Seen{SERVICE_STATE_START_PENDING, 300, 4, 3000, 0},
        kRunning,
        Seen{SERVICE_STATE_STOP_PENDING, 0, 5, 0, 0x45},
        kStopped};
    EXPECT_EQ(Reports(), expected);
}

TEST_F(ServiceControl, AStopBeforeTheWorkerRunsIsNotLost) {
    // The worker thread has not run at all when the stop arrives; it runs
    // only when the handler waits for it.
    state.controlsWhileRunning = {SERVICE_CONTROL_CODE_STOP};
    fake::SetSetting("url", "http://127.0.0.1/update");

    RunService(0, nullptr);

    EXPECT_TRUE(state.workerEnded);
    EXPECT_TRUE(fake::state.requestedUrls.empty());
    EXPECT_EQ(fake::state.waits, 1);
    EXPECT_EQ(Reports().back(), kStopped);
}

TEST_F(ServiceControl, RegistrationFailureReportsNothing) {
    state.registerFails = true;
    RunService(0, nullptr);
    EXPECT_TRUE(state.reports.empty());
    EXPECT_FALSE(state.workerStarted);
}

struct StartFailure {
    const char* name;
    void (*script)();
    std::vector<Seen> reports;
    bool workerStarted;
};

class StartUpFailure : public ServiceControl, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartUpFailure, EndsStoppedWithExitCodeZero) {
    GetParam().script();
    RunService(0, nullptr);
    EXPECT_EQ(Reports(), GetParam().reports);
    EXPECT_EQ(state.workerStarted, GetParam().workerStarted);
    // Every stop event made is closed, but for the one a worker still running holds.
    EXPECT_EQ(state.liveEvents + fake::state.liveEvents, state.workerStarted && !state.workerEnded);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StartUpFailure,
    ::testing::Values(
        StartFailure{"FirstReport", [] { state.failingReport = 0; }, {kStart1, kStopped}, false},
        StartFailure{"StopEvent", [] { state.eventCreationFails = true; }, {kStart1, kStopped}, false},
        StartFailure{"SecondReport", [] { state.failingReport = 1; }, {kStart1, kStart2, kStopped}, false},
        StartFailure{"ThirdReport", [] { state.failingReport = 2; },
                     {kStart1, kStart2, kStart3, kStopped}, false},
        StartFailure{"WorkerThread", [] { state.threadCreationFails = true; },
                     {kStart1, kStart2, kStart3, kStopped}, false},
        StartFailure{"RunningReport", [] { state.failingReport = 3; },
                     {kStart1, kStart2, kStart3, kRunning, kStopped}, true}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return std::string(info.param.name); });

}  // namespace
