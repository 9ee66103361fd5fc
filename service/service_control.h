// The service side of the program: the service's main routine, its control
// handler and the one status record it reports to the Service Control
// Manager.
#pragma once

#include <atomic>
#include <cstdint>

#include "service/scm.h"

constexpr uint32_t SERVICE_STATE_STOPPED = 1;
constexpr uint32_t SERVICE_STATE_START_PENDING = 2;
constexpr uint32_t SERVICE_STATE_STOP_PENDING = 3;
constexpr uint32_t SERVICE_STATE_RUNNING = 4;

constexpr uint32_t SERVICE_CONTROL_CODE_STOP = 1;
constexpr uint32_t SERVICE_CONTROL_CODE_SHUTDOWN = 5;
constexpr uint32_t SERVICE_CONTROL_CODE_POWEREVENT = 13;
// The user-defined control that asks for an update at once (pelkor -now).
constexpr uint32_t SERVICE_CONTROL_CODE_UPDATE_NOW = 128;
// Power events after which the machine is awake again.
constexpr uint32_t PBT_RESUME_SUSPEND = 0x7;
constexpr uint32_t PBT_RESUME_AUTOMATIC = 0x12;

// Stop, shutdown and power events, accepted in every state but start-up.
constexpr uint32_t kControlsAccepted = 0x1 | 0x4 | 0x40;
constexpr uint32_t kStartWaitHintMs = 3000;
// A stop ends within this: the worker gets kWorkerStopGraceMs to end on
// its own (a request in the middle of a chunk), then its recording is
// sealed and the service reports itself stopped; a request that still
// blocks ends with the process.
constexpr uint32_t kStopWaitHintMs = 2000;
constexpr uint32_t kWorkerStopGraceMs = 500;
// A failed start reports the error of the call that failed; this one
// (ERROR_GEN_FAILURE) only where that call left none.
constexpr uint32_t kErrorStartFailed = 31;

extern scm::ServiceStatusRecord g_serviceStatus;
extern uint32_t g_checkPoint;
extern scm::Handle g_statusHandle;
extern std::atomic<scm::Handle> g_serviceStopEvent;
extern std::atomic<scm::Handle> g_workerThread;

void RunService(uint32_t argc, char** argv);
uint32_t ServiceControlHandler(uint32_t control, uint32_t eventType, void* eventData,
                               void* context);
bool ReportServiceStatus(uint32_t state, uint32_t win32ExitCode, uint32_t waitHintMs);
// Asks the worker to stop and gives it kWorkerStopGraceMs to end; past that,
// seals its recording (its end is recorded for it).
void StopWorkerAndWait();
void SignalServiceStop();
