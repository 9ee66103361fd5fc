// The program's entry and its console commands: -install and -remove
// register and remove the service, -once, -now and -status update or ask;
// anything else hands the main thread to the Service Control Manager's
// dispatcher.
#pragma once

#include <cstdint>

#include "worker/platform.h"

// The program's own path fits this buffer or is no path at all (the
// settings file beside it must fit the worker's).
using platform::kModulePathSize;
constexpr uint32_t kRegistryKeySize = 256;
constexpr uint32_t kRemovePollMs = 1000;

enum class Command { Install, Remove, Once, Now, Status, Dispatch };

// Only the first argument counts: - or / followed by "install", "remove",
// "once", "now" or "status", whole, in any ASCII letter case.
Command SelectCommand(int argc, char** argv);

// Process entry: 0 for the console commands whatever happened, 0 after the
// service has stopped, 1 when the dispatcher cannot be started.
int RunEntry(int argc, char** argv);

void InstallService();
void RemoveService();
// One update now, from the console: prints the settings it read and each
// status line it records, record by record; 0 when every record with a URL
// was updated, else 1.
int RunOnce();
// Asks the installed, running service for an update at once; prints one
// line saying it was asked or why not; 0 or 1.
int RequestUpdate();
// Prints the service's state, then for each DNS record with a URL its
// scheme and host, its last status line and, where that can be known, when
// its next request is due; 0 when the service runs and the settings file
// could be read, else 1.
int RunStatus();
