// The worker thread's life: the events that stop it and ask it for an
// update, its loop of ticks, and the seal that ends its recording for good
// when a stop cannot wait for it.
#include "worker/worker.h"

#include <atomic>

#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/request.h"
#include "worker/settings.h"

namespace {

// Read and set from the control handler's thread.
std::atomic<platform::Handle> g_workerStopEvent{nullptr};
std::atomic<platform::Handle> g_workerNowEvent{nullptr};
std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_resumed{false};

// Taken rarely and briefly (a status line, a capture chunk): a flag with a
// short sleep is enough, and needs nothing made before the threads start.
std::atomic_flag g_recordLock = ATOMIC_FLAG_INIT;
bool g_sealed;  // under the lock

}  // namespace

RecordLock::RecordLock() {
    while (g_recordLock.test_and_set(std::memory_order_acquire)) platform::SleepMs(1);
}
RecordLock::~RecordLock() { g_recordLock.clear(std::memory_order_release); }

bool RecordsSealed() { return g_sealed; }

void SealRecords(uint32_t lastId, void (*beforeLast)()) {
    RecordLock lock;
    if (g_sealed) return;
    if (beforeLast) beforeLast();
    // The end is the service's, whichever record was under way.
    RecordEventLocked(lastId, 1);
    g_sealed = true;
}

void UnsealRecords() {
    RecordLock lock;
    g_sealed = false;
}

bool StopRequested() { return g_stopRequested.load(); }
bool TakeResume() { return g_resumed.exchange(false); }

void ResetWorkerState() {
    ResetDnsRecords();
    g_stopRequested.store(false);
    g_resumed.store(false);
    UnsealRecords();
}

uint32_t CreateWorkerEvents() {
    RecordLock lock;
    if (!g_workerStopEvent.load()) {
        platform::Handle stop = platform::CreateManualResetEvent();
        if (!stop) return platform::LastError();
        // A new life of the worker: its recording is open until a stop seals
        // it, and the seal is never lifted behind the control handler's back
        // (a stop that comes before the worker runs seals it for good). The
        // paths are there before anything can record.
        ComputeLocations();
        g_workerStopEvent.store(stop);
        g_stopRequested.store(false);
        g_resumed.store(false);
        g_sealed = false;
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
    ResetDnsRecords();
    if (CreateWorkerEvents() != 0) {
        CloseWorkerEvents();
        return 0;
    }
    // The settings hold passwords and tokens: only SYSTEM and the
    // Administrators may read them, also in a file an older version left.
    platform::MakeFilePrivate(g_settingsPath);
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
