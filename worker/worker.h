// The update worker: a thread that wakes every tick, re-reads the settings
// and, for each record that is due (its interval has passed or its URL has
// changed), requests the record's URL.
#pragma once

#include <cstdint>

// Tick of the worker's loop. A compile-time constant of the product; only a
// test build of the host may shorten it.
#ifndef PELKOR_TICK_MS
#define PELKOR_TICK_MS 15000
#endif
constexpr uint32_t kWorkerTickMs = PELKOR_TICK_MS;

constexpr uint32_t kBodyChunkSize = 1024;
// After a provider's wait code, a DNS record's next request waits this long.
constexpr uint32_t kProviderWaitMs = 30 * 60 * 1000;
// Updates asked for (-now, control 128) come no sooner after a record's
// last request than this.
constexpr uint32_t kUpdateNowSpacingMs = 60 * 1000;
constexpr uint32_t kHttpStatusOk = 200;
constexpr uint32_t kHttpStatusNoContent = 204;

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
// 1 after an orderly end, 0 when the worker's events cannot be created.
int RunWorker();
// Sets the worker stop event; 1 without doing anything when there is none.
// A request under way stops at its next chunk, and no further record starts.
int RequestWorkerStop();
// Makes the worker run one update of every record at once, as -once does;
// requests made while one runs are folded into one update after it.
void RequestUpdateNow();
// The machine woke from sleep: the next tick updates every record as if due.
void NoteResume();
// Creates the worker's stop and update-now events unless they exist, and
// with a new stop event begins a new life of the worker: the locations of
// its files computed and its recording open. A host calls it before it
// starts the worker thread, so that a stop request (and its seal) that comes
// before the worker runs is not lost. 0, or the error of the failure.
uint32_t CreateWorkerEvents();
// Closes the worker's events when no worker thread ran to close them.
void CloseWorkerEvents();
// Ends the worker's recording for a worker that could not end in time (a
// request that does not return): closes the capture file as it stands,
// records the end, and from then on the worker records and writes nothing.
void SealWorker();

// One tick's work: every record that is due, one after another.
void RunUpdateCycle();
// The same for every record that has a URL, due or not.
void RunUpdateNowCycle();
// Whether the URL read last is long enough to be requested.
bool UrlIsSet();
// One update of the selected record with the settings read last, without
// the due test: the check first when set, then the request. True when the
// success event was recorded.
bool RunUpdateNow();

// The DNS records' state from one cycle to the next, reset by RunWorker.
void ResetDnsRecords();
// All of the worker's state, for a run without the worker thread (-once).
void ResetWorkerState();

// Between the worker's own files: whether a stop was asked for, and whether
// the machine woke from sleep since the last look.
bool StopRequested();
bool TakeResume();

// Everything the worker records or writes beside itself happens under one
// lock, so that a stop that cannot wait for the worker can end its
// recording at once: once sealed, nothing more is recorded or written until
// the next worker life starts (CreateWorkerEvents).
class RecordLock {
public:
    RecordLock();
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;
};
bool RecordsSealed();  // caller holds the lock
// Records the last event unless the recording is sealed already, then seals
// it; before that, closes whatever the caller passes on (the capture file).
void SealRecords(uint32_t lastId, void (*beforeLast)());
void UnsealRecords();
