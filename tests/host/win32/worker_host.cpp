// A plain console host for the update worker: starts the worker thread,
// runs until standard input ends (or a line is typed), then asks the
// worker to stop and waits for its thread. Built lean like the service.
#include "worker/win32/win32.h"

#include <cstdio>

#include "worker/text.h"
#include "worker/worker.h"

namespace {

DWORD WINAPI WorkerEntry(LPVOID parameter) { return WorkerThreadMain(parameter); }

void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void SayFailure(const char* text) {
    char line[128] = {};
    AppendCut(line, sizeof line, text);
    AppendDecimal(line, sizeof line, static_cast<int>(GetLastError()), 1);
    AppendCut(line, sizeof line, "\n");
    Say(line);
}

UINT RunHost() {
    if (const uint32_t error = CreateWorkerEvents()) {
        SetLastError(error);
        SayFailure("cannot create the worker's events - ");
        return 1;
    }
    HANDLE thread = CreateThread(nullptr, 0, WorkerEntry, nullptr, 0, nullptr);
    if (!thread) {
        SayFailure("cannot start the worker - ");
        CloseWorkerEvents();
        return 1;
    }
    Say("worker running; press Enter to stop\n");

    char line[64];
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, nullptr);

    RequestWorkerStop();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    Say("worker stopped\n");
    return 0;
}

}  // namespace

extern "C" void __cdecl PelkorEntry() { ExitProcess(RunHost()); }
