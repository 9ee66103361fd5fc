#include "fake_scm.h"

#include <algorithm>
#include <cstdio>
#include <future>
#include <thread>

#include "fake_platform.h"
#include "service/service_control.h"
#include "worker/worker.h"

namespace fakescm {

State state;

namespace {
char kStatusTag, kEventTag, kThreadTag, kManagerTag, kServiceTag;
constexpr uint32_t kErrorServiceExists = 1073;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceNotActive = 1062;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInsufficientBuffer = 122;
bool g_eventSignalled;
std::thread g_worker;
// The worker thread starts its work only once start-up has ended, so that
// the two threads never touch the fakes at the same time.
std::promise<void> g_workerGo;

void Deliver(const std::vector<uint32_t>& controls) {
    for (uint32_t control : controls) {
        state.handlerResults.push_back(ServiceControlHandler(control, 0, nullptr, nullptr));
    }
}
}  // namespace

void JoinWorker() {
    fake::ReleaseStall();
    if (g_worker.joinable()) {
        try {
            g_workerGo.set_value();  // a worker that never got to start
        } catch (const std::future_error&) {
        }
        g_worker.join();
    }
    state.workerEnded = true;
}

void Reset() {
    JoinWorker();
    state = State();
    g_checkPoint = 0;
    g_serviceStatus = scm::ServiceStatusRecord{};
    g_statusHandle = nullptr;
    g_serviceStopEvent.store(nullptr);
    g_workerThread = nullptr;
    g_eventSignalled = false;
    fake::Reset();
}

}  // namespace fakescm

namespace scm {
using fakescm::state;

bool StartDispatcher() {
    if (state.dispatcherFails) return false;
    RunService(0, nullptr);
    return true;
}

Handle RegisterControlHandler(const char*) {
    return state.registerFails ? nullptr : &fakescm::kStatusTag;
}

bool SetStatus(Handle, const ServiceStatusRecord& record) {
    const bool fails = static_cast<int>(state.reports.size()) == state.failingReport;
    state.reports.push_back({record, fake::state.events.size(), state.lockDepth == 1});
    if (fails) state.lastError = 6;  // ERROR_INVALID_HANDLE
    return !fails;
}

void LockStatus() { ++state.lockDepth; }
void UnlockStatus() { --state.lockDepth; }

Handle CreateManualResetEvent() {
    fakescm::Deliver(state.controlsAtEventCreation);
    if (state.eventCreationFails) {
        state.lastError = 1450;  // ERROR_NO_SYSTEM_RESOURCES
        return nullptr;
    }
    ++state.liveEvents;
    return &fakescm::kEventTag;
}

bool SignalEvent(Handle) {
    fakescm::g_eventSignalled = true;
    return true;
}

bool WaitForThread(Handle thread, uint32_t) {
    if (thread != &fakescm::kThreadTag) return false;
    if (state.workerOnThread) {
        // A worker held in a request has not ended; any other one ends.
        if (fake::Stalled()) return false;
        fakescm::JoinWorker();
        return true;
    }
    // The worker thread runs to its end when somebody waits for it.
    if (!state.workerEnded) {
        WorkerThreadMain(nullptr);
        state.workerEnded = true;
    }
    return true;
}

void WaitForever(Handle handle) {
    if (handle == &fakescm::kThreadTag) {
        WaitForThread(handle, 0);
        return;
    }
    if (state.workerOnThread) {
        fakescm::g_workerGo.set_value();
        fake::WaitUntilStalled();
    }
    fakescm::Deliver(state.controlsWhileRunning);
    if (!fakescm::g_eventSignalled) state.waitedOnUnsignalledEvent = true;
}

void CloseKernelHandle(Handle handle) {
    if (handle) --state.liveEvents;
}

Handle StartWorkerThread() {
    if (state.threadCreationFails) {
        state.lastError = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    state.workerStarted = true;
    ++state.liveEvents;  // the thread's handle, closed like the events
    if (state.workerOnThread) {
        fakescm::g_workerGo = std::promise<void>();
        fakescm::g_worker = std::thread([go = fakescm::g_workerGo.get_future()]() mutable {
            go.wait();
            WorkerThreadMain(nullptr);
        });
    }
    return &fakescm::kThreadTag;
}

uint32_t LastError() { return state.lastError; }

void PrintToConsole(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

uint32_t ModuleFileName(char* buffer, uint32_t size) {
    if (state.modulePathFails) {
        state.lastError = fakescm::kErrorAccessDenied;
        return 0;
    }
    // As on Windows: a path that fills the buffer is cut, so it is no path.
    if (state.modulePath.size() >= size) {
        state.lastError = fakescm::kErrorInsufficientBuffer;
        return 0;
    }
    state.modulePath.copy(buffer, state.modulePath.size());
    buffer[state.modulePath.size()] = '\0';
    return static_cast<uint32_t>(state.modulePath.size());
}

Handle OpenServiceManager(uint32_t access) {
    state.managerAccess = access;
    if (state.managerFails) {
        state.lastError = fakescm::kErrorAccessDenied;
        return nullptr;
    }
    ++state.openHandles;
    return &fakescm::kManagerTag;
}

Handle CreateServiceEntry(Handle, const char* commandLine) {
    if (state.serviceExists) {
        state.lastError = fakescm::kErrorServiceExists;
        return nullptr;
    }
    state.serviceExists = true;
    state.createdCommandLine = commandLine;
    ++state.openHandles;
    return &fakescm::kServiceTag;
}

Handle OpenServiceEntry(Handle, uint32_t access) {
    state.openServiceAccess = access;
    if (!state.serviceExists) {
        state.lastError = fakescm::kErrorServiceDoesNotExist;
        return nullptr;
    }
    ++state.openHandles;
    return &fakescm::kServiceTag;
}

bool ControlServiceStop(Handle, ServiceStatusRecord* status) {
    if (state.serviceState != SERVICE_STATE_RUNNING) {
        state.lastError = fakescm::kErrorServiceNotActive;
        return false;
    }
    state.serviceState = SERVICE_STATE_STOP_PENDING;
    status->currentState = state.serviceState;
    return true;
}

bool ControlServiceCode(Handle, uint32_t control) {
    if (state.serviceState != SERVICE_STATE_RUNNING) {
        state.lastError = fakescm::kErrorServiceNotActive;
        return false;
    }
    state.controlCodesSent.push_back(control);
    return true;
}

bool QueryServiceState(Handle, ServiceStatusRecord* status) {
    if (state.serviceState == SERVICE_STATE_STOP_PENDING && state.stopPendingQueries-- <= 0) {
        state.serviceState = state.stopsInTheEnd ? SERVICE_STATE_STOPPED : SERVICE_STATE_RUNNING;
    }
    status->currentState = state.serviceState;
    return true;
}

bool DeleteServiceEntry(Handle) {
    if (state.deleteFails) {
        state.lastError = 1072;  // marked for deletion already
        return false;
    }
    state.serviceExists = false;
    return true;
}

void CloseServiceManagerHandle(Handle) { --state.openHandles; }

Handle CreateMachineKey(const char* path) {
    if (std::find(state.failingKeys.begin(), state.failingKeys.end(), path) !=
        state.failingKeys.end()) {
        return nullptr;
    }
    ++state.openHandles;
    state.registry[path];
    static std::string lastKey;
    lastKey = path;
    return const_cast<char*>(lastKey.c_str());
}

void SetRegistryValue(Handle key, const char* name, uint32_t type, const void* data, uint32_t size) {
    state.registry[static_cast<const char*>(key)][name] =
        fakescm::RegistryValue{type, std::string(static_cast<const char*>(data), size)};
}

void CloseRegistryKey(Handle) { --state.openHandles; }

void SleepMs(uint32_t) { ++state.sleeps; }

}  // namespace scm
