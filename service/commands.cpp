// Console install and remove, and the choice between them and the service.
#include "service/commands.h"

#include <cstdarg>
#include <cstring>

#include "service/scm.h"
#include "service/service.h"
#include "service/service_control.h"
#include "worker/messages.h"
#include "worker/platform.h"
#include "worker/settings.h"
#include "worker/settings_file.h"
#include "worker/text.h"
#include "worker/worker.h"

namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kManagerConnect = 0x1;
constexpr uint32_t kManagerCreateService = 0x2;
constexpr uint32_t kServiceAccessForRemove = 0x10000 | 0x20 | 0x4;  // DELETE, STOP, QUERY_STATUS
constexpr uint32_t kServiceAccessForControl = 0x100;  // SERVICE_USER_DEFINED_CONTROL
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceNotActive = 1062;
// The longest console line: a setting of -once, "checkurl=" and a URL.
constexpr size_t kConsoleLineSize = kUrlBufferSize + 16;

// format with "%s" and "%d" only, cut to the buffer.
void FormatTextV(char* buffer, size_t size, const char* format, va_list arguments) {
    buffer[0] = '\0';
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            AppendCut(buffer, size, va_arg(arguments, const char*));
            ++p;
        } else if (p[0] == '%' && p[1] == 'd') {
            AppendDecimal(buffer, size, va_arg(arguments, int), 1);
            ++p;
        } else {
            const char one[2] = {*p, '\0'};
            AppendCut(buffer, size, one);
        }
    }
}

void FormatText(char* buffer, size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(buffer, size, format, arguments);
    va_end(arguments);
}

// Each piece reaches the console at once: "Stopping ..." must be seen
// before the wait that follows it.
void Print(const char* format, ...) {
    char line[kConsoleLineSize];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(line, sizeof line, format, arguments);
    va_end(arguments);
    scm::PrintToConsole(line);
}

// REG_SZ with its terminating NUL counted, so that readers that do not add
// one still get a terminated string.
void SetString(scm::Handle key, const char* name, const char* value) {
    scm::SetRegistryValue(key, name, kRegSz, value, static_cast<uint32_t>(std::strlen(value) + 1));
}

// The service entry itself: Created, or why not (Failed when the entry
// could not be made, NoManager when the manager could not be opened).
enum class Creation { Created, Failed, NoManager };
Creation CreateServiceEntryFor(const char* path) {
    scm::ServiceHandle manager(scm::OpenServiceManager(kManagerConnect | kManagerCreateService));
    if (!manager) {
        Print("OpenSCManager failed - %d\n", static_cast<int>(scm::LastError()));
        return Creation::NoManager;
    }
    // The path is a command line to the Service Control Manager: quoted, a
    // path with blanks cannot be taken for a shorter program's. The buffer
    // holds any path that fits the module path buffer, and the quotes.
    char commandLine[kModulePathSize + 2];
    FormatText(commandLine, sizeof commandLine, "\"%s\"", path);
    scm::ServiceHandle service(scm::CreateServiceEntry(manager.Get(), commandLine));
    if (!service) {
        Print("CreateService failed - %d\n", static_cast<int>(scm::LastError()));
        return Creation::Failed;
    }
    Print("%s installed.\n", kServiceDisplayName);
    return Creation::Created;
}

}  // namespace

Command SelectCommand(int argc, char** argv) {
    if (argc < 2 || !argv[1]) return Command::Dispatch;
    const char* argument = argv[1];
    if (argument[0] != '-' && argument[0] != '/') return Command::Dispatch;
    if (EqualsIgnoringAsciiCase(argument + 1, "install")) return Command::Install;
    if (EqualsIgnoringAsciiCase(argument + 1, "remove")) return Command::Remove;
    if (EqualsIgnoringAsciiCase(argument + 1, "once")) return Command::Once;
    if (EqualsIgnoringAsciiCase(argument + 1, "now")) return Command::Now;
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
        case Command::Now:
            return RequestUpdate();
        case Command::Dispatch:
            break;
    }
    if (!scm::StartDispatcher()) {
        Print("start service failed\n");
        return 1;
    }
    return 0;
}

void InstallService() {
    char path[kModulePathSize];
    if (scm::ModuleFileName(path, sizeof path) == 0) {
        Print("Unable to install %s - %d\n", kServiceDisplayName, static_cast<int>(scm::LastError()));
        return;
    }
    const Creation created = CreateServiceEntryFor(path);
    if (created == Creation::NoManager) return;

    // The event source and the description are written in any case, so
    // that installing again repairs them.
    char keyPath[kRegistryKeySize];
    FormatText(keyPath, sizeof keyPath, kEventSourceKeyFormat, kEventSourceName);
    if (scm::RegistryKey key{scm::CreateMachineKey(keyPath)}) {
        SetString(key.Get(), "EventMessageFile", path);
        const uint32_t types = kEventTypesSupported;
        scm::SetRegistryValue(key.Get(), "TypesSupported", kRegDword, &types, sizeof types);
    }
    FormatText(keyPath, sizeof keyPath, kServiceKeyFormat, kServiceName);
    scm::RegistryKey key(scm::CreateMachineKey(keyPath));
    if (key) SetString(key.Get(), "Description", kServiceDescription);

    // The settings file holds the provider's password: SYSTEM and the
    // Administrators alone may read it, whatever an older version left.
    ComputeLocations();
    platform::MakeFilePrivate(g_settingsPath);
    // Whoever may write to the folder may put another program in its place.
    // Said only of an installation that happened: a failure line stands alone.
    if (created != Creation::Created) return;
    char folder[kLocationSize];
    CopyCut(folder, sizeof folder, g_settingsPath,
            std::strlen(g_settingsPath) - std::strlen(kSettingsFileName));
    uint32_t size = 0;
    const UniqueHandle<char*, FreeBytes> list(platform::ReadAccessList(folder, &size));
    if (list && OthersMayWrite(list.Get(), size)) {
        Print("Warning: users other than SYSTEM and Administrators may write to %s and could "
              "replace a program that runs as LocalSystem.\n",
              folder);
    }
}

void RemoveService() {
    scm::ServiceHandle manager(scm::OpenServiceManager(kManagerConnect));
    if (!manager) {
        Print("OpenSCManager failed - %d\n", static_cast<int>(scm::LastError()));
        return;
    }
    scm::ServiceHandle service(scm::OpenServiceEntry(manager.Get(), kServiceAccessForRemove));
    if (!service) {
        Print("OpenService failed - %d\n", static_cast<int>(scm::LastError()));
        return;
    }
    scm::ServiceStatusRecord status{};
    if (scm::ControlServiceStop(service.Get(), &status)) {
        Print("Stopping %s.", kServiceDisplayName);
        scm::SleepMs(kRemovePollMs);
        while (scm::QueryServiceState(service.Get(), &status) &&
               status.currentState == SERVICE_STATE_STOP_PENDING) {
            Print(".");
            scm::SleepMs(kRemovePollMs);
        }
        if (status.currentState == SERVICE_STATE_STOPPED) {
            Print("\n%s stopped.\n", kServiceDisplayName);
        } else {
            Print("\n%s failed to stop.\n", kServiceDisplayName);
        }
    }
    if (scm::DeleteServiceEntry(service.Get())) {
        Print("%s removed.\n", kServiceDisplayName);
    } else {
        Print("DeleteService failed - %d\n", static_cast<int>(scm::LastError()));
    }
}

int RequestUpdate() {
    scm::ServiceHandle manager(scm::OpenServiceManager(kManagerConnect));
    scm::ServiceHandle service;
    if (manager) service.Reset(scm::OpenServiceEntry(manager.Get(), kServiceAccessForControl));
    if (service && scm::ControlServiceCode(service.Get(), SERVICE_CONTROL_CODE_UPDATE_NOW)) {
        Print("%s: update requested.\n", kServiceDisplayName);
        return 0;
    }
    const uint32_t error = scm::LastError();
    const char* reason = "update not requested";
    if (error == kErrorServiceDoesNotExist) reason = "not installed";
    if (error == kErrorServiceNotActive) reason = "not running";
    if (error == kErrorAccessDenied) reason = "access denied";
    Print("%s: %s - %d\n", kServiceDisplayName, reason, static_cast<int>(error));
    return 1;
}

namespace {
// One setting a call: each fits a console line whole.
void PrintSettings() {
    const SettingNumbers& n = g_settingNumbers;
    Print("url=%s\n", g_currentUrl);
    Print("interval=%d\nlog=%d\ntimeout=%d\n", n.interval, n.log, n.timeout);
    Print("okbody=%s\n", g_okBody);
    Print("retry=%d\n", n.retry);
    Print("checkurl=%s\n", g_checkUrl);
    Print("force=%d\n", n.force);
    Print("agent=%s\n", g_agent);
    Print("user=%s\n", g_user);
    Print("password=%s\n", g_password[0] ? "***" : "");
    Print("proxy=%s\n", g_proxy);
    if (n.family) Print("family=%d\n", n.family);  // a key newer than the rest: only when set
}
}  // namespace

int RunOnce() {
    ResetWorkerState();
    ComputeLocations();
    const uint32_t present = DnsRecordsPresent();
    // From here on, every status line the update records is shown too.
    bool requested = false, updated = true;
    for (int record = 1; record <= kDnsRecordCount; ++record) {
        if (!(present & (1u << record))) continue;
        SelectDnsRecord(record);
        ReadDnsRecordSettings(record);
        if (record > 1) Print("[setting%d]\n", record);
        PrintSettings();
        g_statusLineEcho = [](const char* line) { Print("%s\n", line); };
        if (UrlIsSet()) {
            requested = true;
            updated = RunUpdateNow() && updated;
        } else {
            RecordEvent(MSG_URL_NOT_SET);
        }
        g_statusLineEcho = nullptr;
    }
    SelectDnsRecord(1);
    return requested && updated ? 0 : 1;
}
