// A scripted Service Control Manager, registry and kernel for the service
// host: reports and registry writes are recorded, controls are delivered at
// the points a test chooses, and the worker "thread" runs when waited on.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "service/scm.h"

namespace fakescm {

struct Report {
    scm::ServiceStatusRecord record;
    size_t workerEvents;  // events the worker had recorded by then
    bool locked;          // made under the status lock
};

struct RegistryValue {
    uint32_t type;
    std::string data;  // the bytes as given, with the size given
};

struct State {
    // running as the service
    bool dispatcherFails = false;
    bool registerFails = false;
    int failingReport = -1;  // index of the report that fails
    bool eventCreationFails = false;
    bool threadCreationFails = false;
    std::vector<uint32_t> controlsAtEventCreation;  // delivered while start-up is under way
    std::vector<uint32_t> controlsWhileRunning;     // delivered while RunService waits
    std::vector<Report> reports;
    std::vector<uint32_t> handlerResults;
    int lockDepth = 0;
    int liveEvents = 0;
    bool workerStarted = false;
    bool workerEnded = false;
    bool waitedOnUnsignalledEvent = false;
    // The worker runs on a thread of its own: the controls while running
    // are delivered once it sits in a stalled request (fake::Response::stallAt),
    // and a wait for its thread finds it still there.
    bool workerOnThread = false;
    std::vector<uint32_t> controlCodesSent;  // user-defined controls sent to the service

    // console commands
    uint32_t lastError = 0;
    bool modulePathFails = false;
    std::string modulePath = "C:\\Program Files\\pelkor\\pelkor.exe";
    bool managerFails = false;
    uint32_t managerAccess = 0;
    bool serviceExists = false;
    uint32_t serviceState = 1;  // stopped
    int stopPendingQueries = 0;  // queries that still find STOP_PENDING
    bool stopsInTheEnd = true;
    bool deleteFails = false;
    std::string createdCommandLine;
    uint32_t openServiceAccess = 0;
    std::vector<std::string> failingKeys;
    std::map<std::string, std::map<std::string, RegistryValue>> registry;
    int sleeps = 0;
    int openHandles = 0;
};

extern State state;
void Reset();
// Releases a stalled worker thread and waits for it to end.
void JoinWorker();

}  // namespace fakescm
