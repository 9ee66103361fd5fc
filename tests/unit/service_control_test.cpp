// What the Service Control Manager sees from a start, the controls and a
// stop, and the handshake with the worker.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "fake_platform.h"
#include "fake_scm.h"
#include "service/service_control.h"
#include "worker/messages.h"
#include "worker/settings.h"
#include "worker/worker.h"

using fakescm::state;

namespace {

constexpr uint32_t kInterrogate = 4;
constexpr uint32_t kPowerEvent = 13;
constexpr uint32_t kUpdateNow = 128;

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
const Seen kStopPending{SERVICE_STATE_STOP_PENDING, 0, 4, 2000, 0x45};

Seen StoppedWith(uint32_t error) { return Seen{SERVICE_STATE_STOPPED, error, 0, 0, 0x45}; }

class ServiceControl : public ::testing::Test {
protected:
    void SetUp() override { fakescm::Reset(); }
};

class StopOrShutdown : public ServiceControl, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(StopOrShutdown, StartsInStepsReportsTheStopAtOnceAndStopsOnceTheWorkerHasEnded) {
    state.controlsWhileRunning = {GetParam()};

    RunService(0, nullptr);

    const std::vector<Seen> expected = {kStart1, kStart2, kStart3, kRunning, kStopPending, kStopped};
    EXPECT_EQ(Reports(), expected);
    for (const fakescm::Report& report : state.reports) {
        EXPECT_EQ(report.record.serviceType, 0x10u);
        EXPECT_EQ(report.record.serviceSpecificExitCode, 0u);
        EXPECT_TRUE(report.locked);
    }
    // The stop is reported pending at once; the worker records its end
    // before the service is reported stopped.
    ASSERT_TRUE(state.workerEnded);
    EXPECT_EQ(fake::state.events.back().second, MSG_SERVICE_END);
    EXPECT_LT(state.reports[4].workerEvents, fake::state.events.size());
    EXPECT_EQ(state.reports[5].workerEvents, fake::state.events.size());
    EXPECT_FALSE(state.waitedOnUnsignalledEvent);
    EXPECT_EQ(state.handlerResults, std::vector<uint32_t>{0});
    EXPECT_EQ(state.liveEvents + fake::state.liveEvents, 0);
}

INSTANTIATE_TEST_SUITE_P(Controls, StopOrShutdown,
                         ::testing::Values(SERVICE_CONTROL_CODE_STOP, SERVICE_CONTROL_CODE_SHUTDOWN),
                         [](const auto& info) { return info.param == SERVICE_CONTROL_CODE_STOP ? "Stop" : "Shutdown"; });

TEST_F(ServiceControl, OtherControlsAreAnsweredByAReReportAndReturnZero) {
    state.controlsWhileRunning = {kInterrogate, kPowerEvent, 0x99, kUpdateNow, 129,
                                  SERVICE_CONTROL_CODE_STOP};

    RunService(0, nullptr);

    const std::vector<Seen> expected = {kStart1, kStart2,  kStart3,  kRunning, kRunning, kRunning,
                                        kRunning, kRunning, kRunning, kStopPending, kStopped};
    EXPECT_EQ(Reports(), expected);
    EXPECT_EQ(state.handlerResults, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(fake::state.nowPending);  // 128 asked the worker for an update
}

// A second stop re-reports the pending stop; nothing is reported once the
// service has stopped, whatever control comes.
TEST_F(ServiceControl, NoReportFollowsTheStoppedOne) {
    state.controlsWhileRunning = {SERVICE_CONTROL_CODE_STOP, SERVICE_CONTROL_CODE_SHUTDOWN};

    RunService(0, nullptr);
    for (uint32_t control : {SERVICE_CONTROL_CODE_STOP, kInterrogate, kUpdateNow}) {
        EXPECT_EQ(ServiceControlHandler(control, 0, nullptr, nullptr), 0u);
    }

    const std::vector<Seen> expected = {kStart1, kStart2, kStart3, kRunning, kStopPending,
                                        Seen{SERVICE_STATE_STOP_PENDING, 0, 5, 2000, 0x45}, kStopped};
    EXPECT_EQ(Reports(), expected);
}

// A server that never answers holds the worker in its request: the stop
// does not wait for it. The worker's end is recorded for it, the capture
// file is closed holding what had arrived, and what the worker does once
// its request returns is never recorded.
TEST_F(ServiceControl, AStopDuringAStalledRequestEndsWithoutTheWorker) {
    state.workerOnThread = true;
    state.controlsWhileRunning = {SERVICE_CONTROL_CODE_STOP};
    fake::SetSetting("url", "http://127.0.0.1/update");
    fake::SetSetting("log", "1");
    fake::state.timeoutsBeforeStop = 1;
    fake::state.response.chunks = {"arrived", " later", " good"};
    fake::state.response.stallAt = 1;

    RunService(0, nullptr);

    EXPECT_EQ(Reports(), (std::vector<Seen>{kStart1, kStart2, kStart3, kRunning, kStopPending, kStopped}));
    const std::vector<std::pair<uint16_t, uint32_t>> events = {{4, MSG_SERVICE_START},
                                                               {4, MSG_SERVICE_END}};
    EXPECT_EQ(fake::state.events, events);
    EXPECT_EQ(fake::state.files[g_capturePath], "arrived");
    EXPECT_EQ(fake::state.openFiles, 0);
    const size_t lines = fake::state.statusLines.size();

    fakescm::JoinWorker();  // the request returns after all
    EXPECT_EQ(fake::state.events, events);
    EXPECT_EQ(fake::state.statusLines.size(), lines);
    EXPECT_EQ(fake::state.files[g_capturePath], "arrived");
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
        Seen{SERVICE_STATE_STOP_PENDING, 0, 5, 2000, 0x45},
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

// The Service Control Manager sees a failed start, with the error of the
// call that failed, and never a running service without a running worker.
TEST_P(StartUpFailure, EndsStoppedWithTheErrorOfTheFailedCall) {
    GetParam().script();
    RunService(0, nullptr);
    EXPECT_EQ(Reports(), GetParam().reports);
    EXPECT_EQ(state.workerStarted, GetParam().workerStarted);
    EXPECT_EQ(state.workerStarted, state.workerEnded);
    EXPECT_EQ(state.liveEvents + fake::state.liveEvents, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StartUpFailure,
    ::testing::Values(
        StartFailure{"FirstReport", [] { state.failingReport = 0; }, {kStart1, StoppedWith(6)}, false},
        StartFailure{"StopEvent", [] { state.eventCreationFails = true; },
                     {kStart1, StoppedWith(1450)}, false},
        StartFailure{"SecondReport", [] { state.failingReport = 1; },
                     {kStart1, kStart2, StoppedWith(6)}, false},
        StartFailure{"ThirdReport", [] { state.failingReport = 2; },
                     {kStart1, kStart2, kStart3, StoppedWith(6)}, false},
        StartFailure{"WorkerStopEvent", [] { fake::state.eventCreationFails = true; },
                     {kStart1, kStart2, kStart3, StoppedWith(1450)}, false},
        StartFailure{"WorkerThread", [] { state.threadCreationFails = true; },
                     {kStart1, kStart2, kStart3, StoppedWith(8)}, false},
        StartFailure{"RunningReport", [] { state.failingReport = 3; },
                     {kStart1, kStart2, kStart3, kRunning, StoppedWith(6)}, true}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return std::string(info.param.name); });

struct PowerRow {
    const char* name;
    uint32_t eventType;
    bool updates;  // the next tick updates although the interval has not passed
};

class PowerEvent : public ServiceControl, public ::testing::WithParamInterface<PowerRow> {};

// Addresses often change while a machine sleeps: after it wakes, the next
// tick updates as if due. Other power events change nothing.
TEST_P(PowerEvent, AWakeMakesTheNextTickUpdate) {
    fake::SetSetting("url", "http://127.0.0.1/update");
    fake::state.response.chunks = {"ok"};
    RunUpdateCycle();
    ASSERT_EQ(fake::state.requestedUrls.size(), 1u);

    EXPECT_EQ(ServiceControlHandler(kPowerEvent, GetParam().eventType, nullptr, nullptr), 0u);
    fake::state.tick += 15000;
    RunUpdateCycle();
    fake::state.tick += 15000;
    RunUpdateCycle();
    EXPECT_EQ(fake::state.requestedUrls.size(), GetParam().updates ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, PowerEvent,
                         ::testing::Values(PowerRow{"ResumeAutomatic", 0x12, true},
                                           PowerRow{"ResumeSuspend", 0x7, true},
                                           PowerRow{"Suspend", 0x4, false},
                                           PowerRow{"PowerStatusChange", 0xA, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
