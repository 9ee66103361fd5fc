// A plain console host for the update worker: starts the worker thread,
// runs until standard input ends (or a line is typed), then asks the
// worker to stop and waits for its thread.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

#include "../../../worker/worker.h"

namespace {
DWORD WINAPI WorkerEntry(LPVOID parameter) { return WorkerThreadMain(parameter); }
}  // namespace

int main() {
    if (!CreateWorkerStopEvent()) {
        std::printf("cannot create the worker stop event - %lu\n", GetLastError());
        return 1;
    }
    HANDLE thread = CreateThread(nullptr, 0, WorkerEntry, nullptr, 0, nullptr);
    if (!thread) {
        std::printf("cannot start the worker - %lu\n", GetLastError());
        return 1;
    }
    std::printf("worker running; press Enter to stop\n");
    std::fflush(stdout);

    char line[64];
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, nullptr);

    RequestWorkerStop();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    std::printf("worker stopped\n");
    return 0;
}
