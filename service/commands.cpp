// Console install and remove, the one-shot update and the status, and the
// choice between them and the service.
#include "service/commands.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "service/scm.h"
#include "service/service.h"
#include "service/service_control.h"
#include "worker/folder_access.h"
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
constexpr uint32_t kServiceAccessForQuery = 0x4;      // SERVICE_QUERY_STATUS
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

// The service's entry with the given access, through the manager handle
// that manager keeps open; null when either cannot be opened.
scm::Handle OpenOwnService(scm::ServiceHandle& manager, uint32_t access) {
    manager.Reset(scm::OpenServiceManager(kManagerConnect));
    return manager ? scm::OpenServiceEntry(manager.Get(), access) : nullptr;
}

// Why the service could not be reached, in one line: the words -now and
// -status share for the errors a user can act on, otherwise for the rest.
void PrintServiceError(const char* otherwise) {
    const uint32_t error = scm::LastError();
    const char* reason = otherwise;
    if (error == kErrorServiceDoesNotExist) reason = "not installed";
    if (error == kErrorServiceNotActive) reason = "not running";
    if (error == kErrorAccessDenied) reason = "access denied";
    Print("%s: %s - %d\n", kServiceDisplayName, reason, static_cast<int>(error));
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
    if (EqualsIgnoringAsciiCase(argument + 1, "status")) return Command::Status;
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
        case Command::Status:
            return RunStatus();
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
    scm::ServiceHandle manager;
    scm::ServiceHandle service(OpenOwnService(manager, kServiceAccessForControl));
    if (service && scm::ControlServiceCode(service.Get(), SERVICE_CONTROL_CODE_UPDATE_NOW)) {
        Print("%s: update requested.\n", kServiceDisplayName);
        return 0;
    }
    PrintServiceError("update not requested");
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

namespace {

// Texts packed one after another, each ended by a NUL and the list by an
// empty one: the n-th, or the empty one past the end.
const char* NthText(const char* texts, uint32_t n) {
    for (; n > 0 && *texts; --n) texts += std::strlen(texts) + 1;
    return texts;
}

// The Service Control Manager's states, from 1; those of kPendingStates
// are pending. (Literals, not arrays: an array would be aligned, and pay
// for it.)
constexpr const char* kServiceStates = "stopped\0start\0stop\0running\0continue\0pause\0paused\0";
constexpr uint32_t kPendingStates = 1u << 2 | 1u << 3 | 1u << 5 | 1u << 6;
// What to look at after each refusal, from MSG_REFUSED_ACCOUNT on.
constexpr const char* kRefusalChecks =
    "the user name and the password\0the host names\0agent=\0the provider's account page\0"
    "the plan with the provider\0";

// The URL's scheme and host alone: its user information, port, path, query
// and fragment may hold a password or a token. The host ends where a path,
// a query or a fragment begins; what came before an "@" was user
// information; a ":" after the host, or after an IPv6 host's "]", begins
// the port.
void SchemeAndHost(const char* url, char (&shown)[kUrlReadSize]) {
    char* out = shown;
    char* host = shown;
    char* port = nullptr;
    for (const char* p = url; *p && *p != '/' && *p != '?' && *p != '#' && *p != '\\'; ++p) {
        if (host == shown && std::strncmp(p, "://", 3) == 0) {
            std::memcpy(out, p, 3);
            host = out += 3;
            p += 2;
        } else if (*p == '@') {
            out = host;
            port = nullptr;
        } else {
            *out++ = *p;
            if (!port && (*p == ']' || (*p == ':' && *host != '['))) port = out - (*p == ':');
        }
    }
    *(port ? port : out) = '\0';
}

// Which catalogue text the status text is (0: none). The texts with an
// answer code hold it after their opening 応答: the ASCII that follows the
// first double-byte characters goes to code, and the text is compared with
// "%s" in its place. A text misread this way is unknown: no next line.
uint32_t CatalogueIdOf(const char* text, char (&code)[kMessageTextSize]) {
    const char* start = text;
    while (IsLeadByte(*start)) start = NextCharacter(start);
    size_t length = 0;
    while (static_cast<signed char>(start[length]) > 0) ++length;
    CopyCut(code, sizeof code, start, length);
    char shape[kStatusLineSize];
    const char* compared = text;
    if (start > text && length > 0) {
        CopyCut(shape, sizeof shape, text, start - text);
        AppendCut(shape, sizeof shape, "%s");
        AppendCut(shape, sizeof shape, start + length);
        compared = shape;
    }
    for (uint32_t id : kCatalogueIds) {
        if (std::strcmp(CatalogueText(id), compared) == 0) return id;
    }
    return 0;
}

// Two bits a month, from 28 days; leap years as they fall until 2099.
unsigned DaysInMonth(unsigned year, unsigned month) {
    return 28 + ((0x3BBEECCu >> (2 * (month & 15))) & 3) + (month == 2 && year % 4 == 0);
}

constexpr uint32_t kProviderWaitSeconds = 30 * 60;

// The next line of a record whose last status line is line, by the rules
// its schedule follows with the settings read last: nothing where the time
// cannot be known, never a guess.
void PrintNextRequest(const char* line, bool running) {
    unsigned t[6];  // the stamp's year, month, day, hour, minute and second
    const char* text = line;
    for (unsigned& value : t) {
        char* end;
        value = std::strtoul(text, &end, 10);
        text = end + (*end != '\0');
    }
    char code[kMessageTextSize];
    const uint32_t id = CatalogueIdOf(text, code);
    if (id >= MSG_REFUSED_ACCOUNT && id <= MSG_REFUSED_PLAN) {
        Print("  next: stopped: the provider answered %s; check %s\n", code,
              NthText(kRefusalChecks, id - MSG_REFUSED_ACCOUNT));
        return;
    }
    // Nothing is due while the service does not run.
    if (!running) return;
    if (id == MSG_URL_FETCHING) {
        Print("  next: under way\n");
        return;
    }
    // The service looks at every tick whether the interval has passed.
    const uint32_t ticks = g_intervalMs / kWorkerTickMs + (g_intervalMs % kWorkerTickMs != 0);
    uint32_t seconds = (ticks ? ticks : 1) * (kWorkerTickMs / 1000);
    // A URL that cannot be opened may be one too long to be sent at all:
    // no failure whose retry is known.
    const bool failed = (id >= MSG_HTTP_STATUS_NOT_OK && id <= MSG_REPLY_CUT) ||
                        (id >= MSG_HTTP_EMPTY_RESPONSE && id <= MSG_ADDRESS_UNCHECKED);
    if (id == MSG_PROVIDER_WAIT) {
        // With retry, a wait shorter than the interval may follow it.
        if (g_retryMs != 0 && seconds > kProviderWaitSeconds) return;
        if (seconds < kProviderWaitSeconds) seconds = kProviderWaitSeconds;
    } else if (id != MSG_URL_FETCHED && id != MSG_ADDRESS_UNCHANGED && !(failed && g_retryMs == 0)) {
        return;
    }
    // Seconds carried into minutes, hours and days, days into months.
    const unsigned day = t[2];
    t[5] += seconds;
    for (int i = 5; i > 2; --i) {
        const unsigned span = i == 3 ? 24 : 60;
        t[i - 1] += t[i] / span;
        t[i] %= span;
    }
    const bool otherDay = t[2] != day;
    for (unsigned days; t[2] > (days = DaysInMonth(t[0], t[1]));) {
        t[2] -= days;
        t[0] += t[1] / 12;
        t[1] = t[1] % 12 + 1;
    }
    // Shown as "2026/12/09 00:05:00", or from the time on on the same day.
    platform::LocalTime due;
    static_assert(sizeof due == sizeof t, "six numbers");
    std::memcpy(&due, t, sizeof due);
    char stamp[kStatusLineSize];
    FormatStatusLine(due, "", stamp);  // "2026/12/09,00:05:00 "
    char* clock = stamp;
    while (*clock != ',') ++clock;
    *clock = ' ';
    clock[9] = '\0';
    Print("  next: about %s\n", otherDay ? stamp : clock + 1);
}

}  // namespace

int RunStatus() {
    scm::ServiceHandle manager;
    scm::ServiceHandle service(OpenOwnService(manager, kServiceAccessForQuery));
    scm::ServiceStatusRecord status{};
    if (service && scm::QueryServiceState(service.Get(), &status)) {
        const uint32_t state = status.currentState;
        Print("%s: %s%s\n", kServiceDisplayName, NthText(kServiceStates, state - 1),
              (kPendingStates >> (state & 31)) & 1 ? " pending" : "");
    } else {
        PrintServiceError("state unknown");
    }
    const bool running = status.currentState == SERVICE_STATE_RUNNING;

    // The profile functions read an unreadable file as an empty one: look
    // first, rather than show its records as having none.
    ComputeLocations();
    char* bytes = nullptr;
    uint32_t size = 0;
    if (platform::ReadWholeFile(g_settingsPath, kSettingsFileLimit, &bytes, &size) ==
        platform::FileRead::Failed) {
        Print("%s: %s cannot be read - %d\n", kServiceDisplayName, g_settingsPath,
              static_cast<int>(platform::LastError()));
        return 1;
    }
    std::free(bytes);
    const uint32_t present = DnsRecordsPresent();
    for (int record = 1; record <= kDnsRecordCount; ++record) {
        if (!(present & (1u << record))) continue;
        ReadDnsRecordSettings(record);
        if (!UrlIsSet()) continue;
        char section[16];
        DnsRecordSection(record, section);
        char shown[kUrlReadSize];
        SchemeAndHost(g_currentUrl, shown);
        Print("[%s] %s\n", section, shown);
        char line[kStatusLineSize];
        ReadStatusLine(record, line);
        Print("  last: %s\n", line[0] ? line : "none");
        PrintNextRequest(line, running);
    }
    return running ? 0 : 1;
}
