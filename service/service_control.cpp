// Start-up in steps, the stop handshake with the worker, and the reports
// that tell the Service Control Manager where the service stands.
#include "service_control.h"

#include "../worker/worker.h"
#include "service.h"

scm::ServiceStatusRecord g_serviceStatus;
uint32_t g_checkPoint = 1;
scm::Handle g_statusHandle;
std::atomic<scm::Handle> g_serviceStopEvent{nullptr};
scm::Handle g_workerThread;

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
        g_serviceStatus.checkPoint = g_checkPoint++;
    }
    return scm::SetStatus(g_statusHandle, g_serviceStatus);
}

// The answer to any control but stop and shutdown. The state is read under
// the lock, so that a re-report cannot undo a report that start-up makes
// at the same moment.
void ReReportServiceStatus() {
    scm::LockStatus();
    ReportLocked(g_serviceStatus.currentState, 0, 0);
    scm::UnlockStatus();
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
    if (g_workerThread) scm::WaitForever(g_workerThread);
}

void SignalServiceStop() {
    if (scm::Handle event = g_serviceStopEvent.load()) scm::SignalEvent(event);
}

uint32_t ServiceControlHandler(uint32_t control, uint32_t, void*, void*) {
    if (control == SERVICE_CONTROL_CODE_STOP || control == SERVICE_CONTROL_CODE_SHUTDOWN) {
        // The worker finishes the cycle under way first; only then may the
        // main routine report the service stopped.
        StopWorkerAndWait();
        ReportServiceStatus(SERVICE_STATE_STOP_PENDING, 0, 0);
        SignalServiceStop();
    } else {
        ReReportServiceStatus();
    }
    return 0;
}

void RunService(uint32_t, char**) {
    g_statusHandle = scm::RegisterControlHandler(kServiceName);
    if (!g_statusHandle) return;
    g_serviceStatus.serviceType = kServiceTypeReported;
    g_serviceStatus.serviceSpecificExitCode = 0;

    if (ReportServiceStatus(SERVICE_STATE_START_PENDING, 100, kStartWaitHintMs)) {
        g_serviceStopEvent.store(scm::CreateManualResetEvent());
        if (g_serviceStopEvent.load()) {
            if (ReportServiceStatus(SERVICE_STATE_START_PENDING, 200, kStartWaitHintMs) &&
                ReportServiceStatus(SERVICE_STATE_START_PENDING, 300, kStartWaitHintMs)) {
                // The worker's stop event exists before its thread does, so a
                // stop that comes before the worker runs is not lost. If it
                // cannot be made here, the worker fails the same way and ends.
                CreateWorkerStopEvent();
                g_workerThread = scm::StartWorkerThread();
                if (!g_workerThread) CloseWorkerStopEvent();
                if (g_workerThread && ReportServiceStatus(SERVICE_STATE_RUNNING, 0, 0)) {
                    scm::WaitForever(g_serviceStopEvent.load());
                }
            }
            scm::CloseKernelHandle(g_serviceStopEvent.exchange(nullptr));
        }
    }
    ReportServiceStatus(SERVICE_STATE_STOPPED, 0, 0);
}
