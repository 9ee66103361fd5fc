// The worker's life: start, ticks, stop.
#include <gtest/gtest.h>

#include <vector>

#include "fake_platform.h"
#include "worker/messages.h"
#include "worker/settings.h"
#include "worker/worker.h"

using fake::state;

namespace {

class WorkerLoop : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }
};

TEST_F(WorkerLoop, RecordsStartRunsOneCycleAPerTickAndRecordsItsEnd) {
    fake::SetSetting("url", "http://127.0.0.1/update");
    fake::SetSetting("interval", "0");
    state.response.chunks = {"ok"};
    state.timeoutsBeforeStop = 3;

    EXPECT_EQ(RunWorker(), 1);

    EXPECT_EQ(state.requestedUrls.size(), 3u);
    ASSERT_GE(state.events.size(), 2u);
    EXPECT_EQ(state.events.front().second, MSG_SERVICE_START);
    EXPECT_EQ(state.events.back().second, MSG_SERVICE_END);
    EXPECT_EQ(state.liveEvents, 0);
    EXPECT_EQ(RequestWorkerStop(), 1);  // no event any more: nothing to do
}

TEST_F(WorkerLoop, NoCycleRunsBeforeTheFirstTick) {
    fake::SetSetting("url", "http://127.0.0.1/update");
    state.timeoutsBeforeStop = 0;
    EXPECT_EQ(RunWorker(), 1);
    EXPECT_TRUE(state.requestedUrls.empty());
    EXPECT_EQ(state.waits, 1);
}

TEST_F(WorkerLoop, EndsAtOnceAndSilentlyWhenItsStopEventCannotBeMade) {
    state.eventCreationFails = true;
    EXPECT_EQ(RunWorker(), 0);
    EXPECT_TRUE(state.events.empty());
    EXPECT_TRUE(state.statusLines.empty());
}

TEST_F(WorkerLoop, AStopRequestedBeforeTheWorkerRunsIsKept) {
    state.timeoutsBeforeStop = 5;
    ASSERT_EQ(CreateWorkerEvents(), 0u);  // as a host does before the thread starts
    EXPECT_EQ(RequestWorkerStop(), 1);

    EXPECT_EQ(WorkerThreadMain(nullptr), 0u);

    EXPECT_EQ(state.waits, 1);
    EXPECT_EQ(state.liveEvents, 0);  // the same event, made once and closed once
    EXPECT_EQ(state.events.back().second, MSG_SERVICE_END);
}

// A stop that could not wait sealed the recording before the worker ran (a
// busy machine): the worker, when it runs, records and writes nothing more.
TEST_F(WorkerLoop, ASealMadeBeforeTheWorkerRunsIsNeverLifted) {
    ASSERT_EQ(CreateWorkerEvents(), 0u);
    RequestWorkerStop();
    SealWorker();
    EXPECT_EQ(RunWorker(), 1);
    EXPECT_EQ(state.events, (std::vector<std::pair<uint16_t, uint32_t>>{{4, MSG_SERVICE_END}}));
    EXPECT_EQ(state.statusLines.size(), 1u);
}

// "Update now" runs at once, whatever the interval, but a minute after the
// record's last request at the soonest; asked for again and again meanwhile,
// it gives one more update.
TEST_F(WorkerLoop, UpdateNowRequestsDuringARequestFoldIntoOne) {
    fake::SetSetting("url", "http://127.0.0.1/update");
    state.response.chunks = {"ok"};
    state.timeoutsBeforeStop = 6;
    ASSERT_EQ(CreateWorkerEvents(), 0u);
    state.duringRequest = [] {
        state.duringRequest = nullptr;
        for (int i = 0; i < 3; ++i) RequestUpdateNow();
    };

    EXPECT_EQ(RunWorker(), 1);

    // The first tick (a new URL), one update for the three asked for at the
    // fourth tick after it (a minute), and no more at the tick after that:
    // the interval counts from its end.
    EXPECT_EQ(state.requestedUrls.size(), 2u);
    EXPECT_EQ(state.waits, 8);
}

}  // namespace
