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

// Stop, shutdown and power events, accepted in every state but start-up.
constexpr uint32_t kControlsAccepted = 0x1 | 0x4 | 0x40;
constexpr uint32_t kStartWaitHintMs = 3000;

extern scm::ServiceStatusRecord g_serviceStatus;
extern uint32_t g_checkPoint;
extern scm::Handle g_statusHandle;
extern std::atomic<scm::Handle> g_serviceStopEvent;
extern scm::Handle g_workerThread;

void RunService(uint32_t argc, char** argv);
uint32_t ServiceControlHandler(uint32_t control, uint32_t eventType, void* eventData,
                               void* context);
bool ReportServiceStatus(uint32_t state, uint32_t win32ExitCode, uint32_t waitHintMs);
void StopWorkerAndWait();
void SignalServiceStop();
