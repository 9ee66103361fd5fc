// The update worker: a thread that wakes every tick, re-reads the settings
// and requests the configured URL when the interval has passed or the URL
// has changed.
#pragma once

#include <cstdint>

// Tick of the worker's loop. A compile-time constant of the product; only a
// test build of the host may shorten it.
#ifndef PELKOR_TICK_MS
#define PELKOR_TICK_MS 15000
#endif
constexpr uint32_t kWorkerTickMs = PELKOR_TICK_MS;

constexpr uint32_t kBodyChunkSize = 1024;
constexpr uint32_t kHttpStatusOk = 200;

// WinINet time-out options, each set to the configured time-out.
constexpr uint32_t kTimeoutOptions[] = {
    2,  // INTERNET_OPTION_CONNECT_TIMEOUT
    5,  // INTERNET_OPTION_SEND_TIMEOUT
    6,  // INTERNET_OPTION_RECEIVE_TIMEOUT
    7,  // INTERNET_OPTION_DATA_SEND_TIMEOUT
    8,  // INTERNET_OPTION_DATA_RECEIVE_TIMEOUT
};

// Thread routine: runs the worker until it is told to stop; always 0.
uint32_t WorkerThreadMain(void* parameter);
// 1 after an orderly end, 0 when the worker stop event cannot be created.
int RunWorker();
// Sets the worker stop event; 1 without doing anything when there is none.
int RequestWorkerStop();
// Creates the worker stop event unless it exists already. A host calls it
// before it starts the worker thread, so that a stop request that comes
// before the worker runs is not lost. false when it cannot be created.
bool CreateWorkerStopEvent();
// Closes the worker stop event when no worker thread ran to close it.
void CloseWorkerStopEvent();
// One tick's work.
void RunUpdateCycle();

// Worker state from one cycle to the next, reset by RunWorker.
void ResetWorkerState();
