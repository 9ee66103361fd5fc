// Start-up in steps, the stop handshake with the worker, and the reports
// that tell the Service Control Manager where the service stands.
#include "service/service_control.h"

#include "service/service.h"
#include "worker/worker.h"

scm::ServiceStatusRecord g_serviceStatus;
uint32_t g_checkPoint;  // check points taken so far: the first one is 1
scm::Handle g_statusHandle;
std::atomic<scm::Handle> g_serviceStopEvent{nullptr};
std::atomic<scm::Handle> g_workerThread{nullptr};

namespace {

// Caller holds the status lock.
bool ReportLocked(uint32_t state, uint32_t win32ExitCode, uint32_t waitHintMs) {
    g_serviceStatus.currentState = state;
    g_serviceStatus.win32ExitCode = win32ExitCode;
    g_serviceStatus.waitHint = waitHintMs;
    g_serviceStatus.controlsAccepted =
        state == SERVICE_STATE_START_PENDING ? 0 : kControlsAccepted;
    if (state == SERVICE_STATE_RUNNING || state == SERVICE_STATE_STOPPED) {
        g_serviceStatus.checkPoint = 0;
    } else {
        g_serviceStatus.checkPoint = ++g_checkPoint;
    }
    return scm::SetStatus(g_statusHandle, g_serviceStatus);
}

// A failed start reports the Win32 error of the call that failed.
uint32_t FailureCode() {
    const uint32_t error = scm::LastError();
    return error != 0 ? error : kErrorStartFailed;
}

// The answer to any control but a first stop or shutdown: the current
// state again. The state is read under the lock, so that a re-report cannot
// undo a report that start-up or the stop makes at the same moment, and
// nothing is reported once the service has stopped. A pending stop keeps
// its wait hint.
void ReReportServiceStatus() {
    scm::LockStatus();
    const uint32_t state = g_serviceStatus.currentState;
    if (state != SERVICE_STATE_STOPPED) {
        ReportLocked(state, 0, state == SERVICE_STATE_STOP_PENDING ? kStopWaitHintMs : 0);
    }
    scm::UnlockStatus();
}

// Start-up in steps, then the service's life until a stop has ended the
// worker; 0, or the error of the step that failed.
uint32_t StartAndRun() {
    if (!ReportServiceStatus(SERVICE_STATE_START_PENDING, 100, kStartWaitHintMs)) return FailureCode();
    g_serviceStopEvent.store(scm::CreateManualResetEvent());
    if (!g_serviceStopEvent.load()) return FailureCode();
    if (!ReportServiceStatus(SERVICE_STATE_START_PENDING, 200, kStartWaitHintMs) ||
        !ReportServiceStatus(SERVICE_STATE_START_PENDING, 300, kStartWaitHintMs)) {
        return FailureCode();
    }
    // The worker's events exist before its thread does, so that a stop that
    // comes before the worker runs is not lost.
    if (const uint32_t error = CreateWorkerEvents()) {
        CloseWorkerEvents();
        return error;
    }
    g_workerThread.store(scm::StartWorkerThread());
    if (!g_workerThread.load()) {
        const uint32_t error = FailureCode();
        CloseWorkerEvents();
        return error;
    }
    if (!ReportServiceStatus(SERVICE_STATE_RUNNING, 0, 0)) {
        // Never a worker running behind a service that is not.
        const uint32_t error = FailureCode();
        StopWorkerAndWait();
        return error;
    }
    // The control handler has ended the worker (or sealed it) by then.
    scm::WaitForever(g_serviceStopEvent.load());
    return 0;
}

}  // namespace

bool ReportServiceStatus(uint32_t state, uint32_t win32ExitCode, uint32_t waitHintMs) {
    scm::LockStatus();
    const bool reported = ReportLocked(state, win32ExitCode, waitHintMs);
    scm::UnlockStatus();
    return reported;
}

void StopWorkerAndWait() {
    RequestWorkerStop();
    // A request that does not return (a server that never answers) must not
    // hold the stop: the worker's end is recorded for it, and the blocked
    // call ends with the process.
    const scm::Handle thread = g_workerThread.load();
    if (thread && !scm::WaitForThread(thread, kWorkerStopGraceMs)) SealWorker();
}

void SignalServiceStop() {
    if (scm::Handle event = g_serviceStopEvent.load()) scm::SignalEvent(event);
}

uint32_t ServiceControlHandler(uint32_t control, uint32_t eventType, void*, void*) {
    if (control == SERVICE_CONTROL_CODE_STOP || control == SERVICE_CONTROL_CODE_SHUTDOWN) {
        // Reported at once, then the worker ends within the wait hint,
        // whatever the request under way does. The handler returns only
        // then, as an installer that does not wait for STOPPED (Wine's)
        // goes on to replace or delete the program as soon as it returns.
        scm::LockStatus();
        const bool first = g_serviceStatus.currentState == SERVICE_STATE_RUNNING;
        if (first) ReportLocked(SERVICE_STATE_STOP_PENDING, 0, kStopWaitHintMs);
        scm::UnlockStatus();
        if (!first) {
            ReReportServiceStatus();
            return 0;
        }
        StopWorkerAndWait();
        SignalServiceStop();
        return 0;
    }
    if (control == SERVICE_CONTROL_CODE_UPDATE_NOW) RequestUpdateNow();
    if (control == SERVICE_CONTROL_CODE_POWEREVENT &&
        (eventType == PBT_RESUME_AUTOMATIC || eventType == PBT_RESUME_SUSPEND)) {
        // Addresses often change while a machine sleeps.
        NoteResume();
    }
    ReReportServiceStatus();
    return 0;
}

void RunService(uint32_t, char**) {
    const scm::Handle statusHandle = scm::RegisterControlHandler(kServiceName);
    if (!statusHandle) return;
    // Under the status lock: the control handler may already report.
    scm::LockStatus();
    g_statusHandle = statusHandle;
    g_serviceStatus.serviceType = kServiceTypeReported;
    g_serviceStatus.serviceSpecificExitCode = 0;
    scm::UnlockStatus();
    const uint32_t failure = StartAndRun();
    // The control handler is done with both by now: it set the stop event
    // after its wait for the worker.
    scm::CloseKernelHandle(g_workerThread.exchange(nullptr));
    scm::CloseKernelHandle(g_serviceStopEvent.exchange(nullptr));
    ReportServiceStatus(SERVICE_STATE_STOPPED, failure, 0);
}
