// The service host's operations on Windows: the Service Control Manager,
// the registry, events and the worker's thread, all ANSI.
#include "common/win32.h"

#include <cstdio>
#include <cstring>

#include "service/scm.h"
#include "service/service.h"
#include "service/service_control.h"
#include "worker/worker.h"

static_assert(sizeof(scm::ServiceStatusRecord) == sizeof(SERVICE_STATUS),
              "the status record is the platform's SERVICE_STATUS");

namespace {

void WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv) { RunService(argc, argv); }

DWORD WINAPI ControlHandlerEntry(DWORD control, DWORD eventType, LPVOID eventData,
                                 LPVOID context) {
    return ServiceControlHandler(control, eventType, eventData, context);
}

DWORD WINAPI WorkerEntry(LPVOID parameter) { return WorkerThreadMain(parameter); }

// The program runs no global constructors: the lock is made before the
// dispatcher can start the service, so that the first report already has it.
CRITICAL_SECTION g_statusLock;

}  // namespace

namespace scm {

bool StartDispatcher() {
    InitializeCriticalSection(&g_statusLock);
    // Filled in place (an initialised table would cost the program a data
    // section of its own): the service, then the terminating entry.
    SERVICE_TABLE_ENTRYA dispatchTable[2] = {};
    dispatchTable[0].lpServiceName = const_cast<char*>(kServiceName);
    dispatchTable[0].lpServiceProc = ServiceMainEntry;
    return StartServiceCtrlDispatcherA(dispatchTable) != FALSE;
}

Handle RegisterControlHandler(const char* serviceName) {
    return reinterpret_cast<Handle>(
        RegisterServiceCtrlHandlerExA(serviceName, ControlHandlerEntry, nullptr));
}

bool SetStatus(Handle statusHandle, const ServiceStatusRecord& record) {
    SERVICE_STATUS status;
    std::memcpy(&status, &record, sizeof status);
    return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(statusHandle), &status) != FALSE;
}

void LockStatus() { EnterCriticalSection(&g_statusLock); }
void UnlockStatus() { LeaveCriticalSection(&g_statusLock); }

Handle CreateManualResetEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
bool SignalEvent(Handle event) { return SetEvent(event) != FALSE; }
void WaitForever(Handle handle) { WaitForSingleObject(handle, INFINITE); }
bool WaitForThread(Handle thread, uint32_t milliseconds) {
    return WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
}
void CloseKernelHandle(Handle handle) {
    if (handle) CloseHandle(handle);
}
Handle StartWorkerThread() { return CreateThread(nullptr, 0, WorkerEntry, nullptr, 0, nullptr); }

uint32_t LastError() { return GetLastError(); }

void PrintToConsole(const char* text) {
    // msvcrt's own stdout: the headers' stdout calls a helper that the
    // static part of the runtime library would add to the program.
    FILE* out = &__iob_func()[1];
    std::fputs(text, out);
    std::fflush(out);
}

uint32_t ModuleFileName(char* buffer, uint32_t size) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    if (length == 0 || length >= size) {
        // A cut path names another file: treat it as no path at all.
        if (length >= size) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return length;
}

Handle OpenServiceManager(uint32_t access) {
    return reinterpret_cast<Handle>(OpenSCManagerA(nullptr, nullptr, access));
}

Handle CreateServiceEntry(Handle manager, const char* commandLine) {
    static const char kNoDependencies[] = "\0";  // an empty, doubly terminated list
    return reinterpret_cast<Handle>(CreateServiceA(
        reinterpret_cast<SC_HANDLE>(manager), kServiceName, kServiceDisplayName,
        SERVICE_QUERY_STATUS, kServiceTypeInstalled, kServiceStartType, kServiceErrorControl,
        commandLine, nullptr, nullptr, kNoDependencies, nullptr, nullptr));
}

Handle OpenServiceEntry(Handle manager, uint32_t access) {
    return reinterpret_cast<Handle>(
        OpenServiceA(reinterpret_cast<SC_HANDLE>(manager), kServiceName, access));
}

bool ControlServiceStop(Handle service, ServiceStatusRecord* status) {
    SERVICE_STATUS record = {};  // left as it is when the control fails
    const BOOL sent = ControlService(reinterpret_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &record);
    std::memcpy(status, &record, sizeof record);
    return sent != FALSE;
}

bool ControlServiceCode(Handle service, uint32_t control) {
    SERVICE_STATUS record;
    return ControlService(reinterpret_cast<SC_HANDLE>(service), control, &record) != FALSE;
}

bool QueryServiceState(Handle service, ServiceStatusRecord* status) {
    SERVICE_STATUS record;
    if (!QueryServiceStatus(reinterpret_cast<SC_HANDLE>(service), &record)) return false;
    std::memcpy(status, &record, sizeof record);
    return true;
}

bool DeleteServiceEntry(Handle service) {
    return DeleteService(reinterpret_cast<SC_HANDLE>(service)) != FALSE;
}

void CloseServiceManagerHandle(Handle handle) {
    CloseServiceHandle(reinterpret_cast<SC_HANDLE>(handle));
}

Handle CreateMachineKey(const char* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

void SetRegistryValue(Handle key, const char* name, uint32_t type, const void* data, uint32_t size) {
    RegSetValueExA(static_cast<HKEY>(key), name, 0, type, static_cast<const BYTE*>(data), size);
}

void CloseRegistryKey(Handle key) { RegCloseKey(static_cast<HKEY>(key)); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace scm
