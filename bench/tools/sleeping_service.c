/* The yardstick of bench/service_memory.py: a service that reports RUNNING
   and sleeps until it is stopped, with nothing else in its process. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static SERVICE_STATUS_HANDLE g_handle;
static SERVICE_STATUS g_status;
static HANDLE g_stop;

static DWORD WINAPI Handler(DWORD control, DWORD type, LPVOID data, LPVOID context) {
    (void)type; (void)data; (void)context;
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) SetEvent(g_stop);
    return NO_ERROR;
}

static void WINAPI Main(DWORD argc, LPSTR* argv) {
    (void)argc; (void)argv;
    g_handle = RegisterServiceCtrlHandlerExA("sleeperService", Handler, NULL);
    if (!g_handle) return;
    g_stop = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    g_status.dwCurrentState = SERVICE_RUNNING;
    SetServiceStatus(g_handle, &g_status);
    WaitForSingleObject(g_stop, INFINITE);
    g_status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(g_handle, &g_status);
}

int main(void) {
    SERVICE_TABLE_ENTRYA table[] = {{"sleeperService", Main}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
