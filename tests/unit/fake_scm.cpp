#include "fake_scm.h"

#include <algorithm>

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

void Deliver(const std::vector<uint32_t>& controls) {
    for (uint32_t control : controls) {
        state.handlerResults.push_back(ServiceControlHandler(control, 0, nullptr, nullptr));
    }
}
}  // namespace

void Reset() {
    state = State();
    g_checkPoint = 1;
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
    return !fails;
}

void LockStatus() { ++state.lockDepth; }
void UnlockStatus() { --state.lockDepth; }

Handle CreateManualResetEvent() {
    fakescm::Deliver(state.controlsAtEventCreation);
    if (state.eventCreationFails) return nullptr;
    ++state.liveEvents;
    return &fakescm::kEventTag;
}

bool SignalEvent(Handle) {
    fakescm::g_eventSignalled = true;
    return true;
}

void WaitForever(Handle handle) {
    if (handle == &fakescm::kThreadTag) {
        // The worker thread runs to its end when somebody waits for it.
        if (!state.workerEnded) {
            WorkerThreadMain(nullptr);
            state.workerEnded = true;
        }
        return;
    }
    fakescm::Deliver(state.controlsWhileRunning);
    if (!fakescm::g_eventSignalled) state.waitedOnUnsignalledEvent = true;
}

void CloseKernelHandle(Handle handle) {
    if (handle) --state.liveEvents;
}

Handle StartWorkerThread() {
    if (state.threadCreationFails) return nullptr;
    state.workerStarted = true;
    return &fakescm::kThreadTag;
}

uint32_t LastError() { return state.lastError; }

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
