// The operations the service host needs from Windows: the Service Control
// Manager from both sides, the registry, kernel objects and the worker's
// thread. service/win32/scm_win32.cpp implements them; the unit tests link
// a scripted fake instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/unique_handle.h"

namespace scm {

using Handle = void*;

// The platform's SERVICE_STATUS: seven 32-bit fields in this order.
struct ServiceStatusRecord {
    uint32_t serviceType;
    uint32_t currentState;
    uint32_t controlsAccepted;
    uint32_t win32ExitCode;
    uint32_t serviceSpecificExitCode;
    uint32_t checkPoint;
    uint32_t waitHint;
};

// ---- running as the service -------------------------------------------

// StartServiceCtrlDispatcherA with the dispatcher table; false at once when
// the process was not started by the Service Control Manager.
bool StartDispatcher();
// Binds ServiceControlHandler to the service; the status handle or null.
Handle RegisterControlHandler(const char* serviceName);
bool SetStatus(Handle statusHandle, const ServiceStatusRecord& record);
// Keeps one report (record update and hand-over) whole against another
// thread's.
void LockStatus();
void UnlockStatus();

Handle CreateManualResetEvent();  // unnamed, not signalled; null on failure
bool SignalEvent(Handle event);
void WaitForever(Handle handle);  // an event set, or a thread ended
// Waits at most milliseconds for a thread to end; whether it did.
bool WaitForThread(Handle thread, uint32_t milliseconds);
void CloseKernelHandle(Handle handle);
// A thread running WorkerThreadMain(null); its handle or null.
Handle StartWorkerThread();

// ---- console commands ------------------------------------------------------

uint32_t LastError();
// Writes text to the C runtime's standard output at once.
void PrintToConsole(const char* text);
// The program's own path into buffer; 0 on failure.
uint32_t ModuleFileName(char* buffer, uint32_t size);
Handle OpenServiceManager(uint32_t access);
// CreateServiceA for this service with the given command line, the
// service's type, start type and error control, no group, an empty
// dependency list and the LocalSystem account.
Handle CreateServiceEntry(Handle manager, const char* commandLine);
Handle OpenServiceEntry(Handle manager, uint32_t access);
bool ControlServiceStop(Handle service, ServiceStatusRecord* status);
// Sends a user-defined control (128 to 255) to the service.
bool ControlServiceCode(Handle service, uint32_t control);
bool QueryServiceState(Handle service, ServiceStatusRecord* status);
bool DeleteServiceEntry(Handle service);
void CloseServiceManagerHandle(Handle handle);
// Creates or opens the key under HKEY_LOCAL_MACHINE with full access.
Handle CreateMachineKey(const char* path);
void SetRegistryValue(Handle key, const char* name, uint32_t type, const void* data,
                      uint32_t size);
void CloseRegistryKey(Handle key);
void SleepMs(uint32_t milliseconds);

using ServiceHandle = UniqueHandle<Handle, CloseServiceManagerHandle>;
using RegistryKey = UniqueHandle<Handle, CloseRegistryKey>;

}  // namespace scm
