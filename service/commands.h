// The program's entry and its console commands: -install and -remove
// register and remove the service; anything else hands the main thread to
// the Service Control Manager's dispatcher.
#pragma once

#include <cstdint>

#include "worker/platform.h"

// The program's own path fits this buffer or is no path at all (the
// settings file beside it must fit the worker's).
using platform::kModulePathSize;
constexpr uint32_t kRegistryKeySize = 256;
constexpr uint32_t kRemovePollMs = 1000;

enum class Command { Install, Remove, Once, Now, Dispatch };

// Only the first argument counts: - or / followed by "install", "remove",
// "once" or "now", whole, in any ASCII letter case.
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
