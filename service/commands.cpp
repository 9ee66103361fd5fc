// Console install and remove, and the choice between them and the service.
#include "commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "scm.h"
#include "service.h"
#include "service_control.h"
#include "../worker/messages.h"
#include "../worker/settings.h"
#include "../worker/worker.h"

namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kManagerConnect = 0x1;
constexpr uint32_t kManagerCreateService = 0x2;
constexpr uint32_t kServiceAccessForRemove = 0x10000 | 0x20 | 0x4;  // DELETE, STOP, QUERY_STATUS

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}

// REG_SZ with its terminating NUL counted, so that readers that do not add
// one still get a terminated string.
void SetString(scm::Handle key, const char* name, const char* value) {
    scm::SetRegistryValue(key, name, kRegSz, value, static_cast<uint32_t>(std::strlen(value) + 1));
}

}  // namespace

Command SelectCommand(int argc, char** argv) {
    if (argc < 2 || !argv[1]) return Command::Dispatch;
    const char* argument = argv[1];
    if (argument[0] != '-' && argument[0] != '/') return Command::Dispatch;
    if (EqualsIgnoringAsciiCase(argument + 1, "install")) return Command::Install;
    if (EqualsIgnoringAsciiCase(argument + 1, "remove")) return Command::Remove;
    if (EqualsIgnoringAsciiCase(argument + 1, "once")) return Command::Once;
    return Command::Dispatch;
}

int RunEntry(int argc, char** argv) {
    switch (SelectCommand(argc, argv)) {
        case Command::Install:
            InstallService();
            return 0;
        case Command::Remove:
            RemoveService();
            return 0;
        case Command::Once:
            return RunOnce();
        case Command::Dispatch:
            break;
    }
    if (!scm::StartDispatcher()) {
        std::printf("start service failed\n");
        return 1;
    }
    return 0;
}

void InstallService() {
    char path[kModulePathSize];
    if (scm::ModuleFileName(path, sizeof path) == 0) {
        std::printf("Unable to install %s - %d\n", kServiceDisplayName, static_cast<int>(scm::LastError()));
        return;
    }
    scm::Handle manager = scm::OpenServiceManager(kManagerConnect | kManagerCreateService);
    if (!manager) {
        std::printf("OpenSCManager failed - %d\n", static_cast<int>(scm::LastError()));
        return;
    }
    // The path is a command line to the Service Control Manager: quoted, a
    // path with blanks cannot be taken for a shorter program's.
    const std::string commandLine = std::string("\"") + path + "\"";
    if (scm::Handle service = scm::CreateServiceEntry(manager, commandLine.c_str())) {
        std::printf("%s installed.\n", kServiceDisplayName);
        scm::CloseServiceManagerHandle(service);
    } else {
        std::printf("CreateService failed - %d\n", static_cast<int>(scm::LastError()));
    }
    scm::CloseServiceManagerHandle(manager);

    // The event source and the description are written in any case, so
    // that installing again repairs them.
    char keyPath[kRegistryKeySize];
    std::snprintf(keyPath, sizeof keyPath, kEventSourceKeyFormat, kEventSourceName);
    if (scm::Handle key = scm::CreateMachineKey(keyPath)) {
        SetString(key, "EventMessageFile", path);
        const uint32_t types = kEventTypesSupported;
        scm::SetRegistryValue(key, "TypesSupported", kRegDword, &types, sizeof types);
        scm::CloseRegistryKey(key);
    }
    std::snprintf(keyPath, sizeof keyPath, kServiceKeyFormat, kServiceName);
    scm::Handle key = scm::CreateMachineKey(keyPath);
    if (!key) return;
    SetString(key, "Description", kServiceDescription);
    scm::CloseRegistryKey(key);
}

void RemoveService() {
    scm::Handle manager = scm::OpenServiceManager(kManagerConnect);
    if (!manager) {
        std::printf("OpenSCManager failed - %d\n", static_cast<int>(scm::LastError()));
        return;
    }
    scm::Handle service = scm::OpenServiceEntry(manager, kServiceAccessForRemove);
    if (!service) {
        std::printf("OpenService failed - %d\n", static_cast<int>(scm::LastError()));
        scm::CloseServiceManagerHandle(manager);
        return;
    }
    scm::ServiceStatusRecord status{};
    if (scm::ControlServiceStop(service, &status)) {
        std::printf("Stopping %s.", kServiceDisplayName);
        std::fflush(stdout);
        scm::SleepMs(kRemovePollMs);
        while (scm::QueryServiceState(service, &status) &&
               status.currentState == SERVICE_STATE_STOP_PENDING) {
            std::printf(".");
            std::fflush(stdout);
            scm::SleepMs(kRemovePollMs);
        }
        if (status.currentState == SERVICE_STATE_STOPPED) {
            std::printf("\n%s stopped.\n", kServiceDisplayName);
        } else {
            std::printf("\n%s failed to stop.\n", kServiceDisplayName);
        }
    }
    if (scm::DeleteServiceEntry(service)) {
        std::printf("%s removed.\n", kServiceDisplayName);
    } else {
        std::printf("DeleteService failed - %d\n", static_cast<int>(scm::LastError()));
    }
    scm::CloseServiceManagerHandle(service);
    scm::CloseServiceManagerHandle(manager);
}

namespace {
void PrintStatusLine(const char* line) { std::printf("%s\n", line); }
}  // namespace

int RunOnce() {
    ResetWorkerState();
    ComputeLocations();
    ReadSettings();
    const SettingNumbers& n = g_settingNumbers;
    std::printf("url=%s\ninterval=%d\nlog=%d\ntimeout=%d\n", g_currentUrl, n.interval, n.log,
                n.timeout);
    std::printf("okbody=%s\nretry=%d\ncheckurl=%s\nforce=%d\n", g_okBody, n.retry, g_checkUrl,
                n.force);
    std::printf("agent=%s\nuser=%s\npassword=%s\nproxy=%s\n", g_agent, g_user,
                g_password[0] ? "***" : "", g_proxy);
    // From here on, every status line the update records is shown too.
    g_statusLineEcho = PrintStatusLine;
    bool updated = false;
    if (UrlIsSet()) {
        updated = RunUpdateNow();
    } else {
        RecordEvent(MSG_URL_NOT_SET);
    }
    g_statusLineEcho = nullptr;
    return updated ? 0 : 1;
}
