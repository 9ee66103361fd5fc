// Who the service is: the names and settings under which the Service Control
// Manager, the event log and the installer know it. Everything that
// registers the service or reports as it takes its identity from here.
#pragma once

#include <cstdint>

constexpr char kServiceName[] = "pelkorService";
constexpr char kServiceDisplayName[] = "Pelkor Service";
constexpr char kEventSourceName[] = "PELKOR_SVC";
// "定期的に特定URLにアクセスします。Dynamic DNSのIPアップデータ用。" in code page 932
constexpr char kServiceDescription[] =
    "\x92\xe8\x8a\xfa\x93\x49\x82\xc9\x93\xc1\x92\xe8URL\x82\xc9\x83\x41\x83\x4e\x83\x5a"
    "\x83\x58\x82\xb5\x82\xdc\x82\xb7\x81\x42" "Dynamic DNS\x82\xcc" "IP\x83\x41\x83\x62"
    "\x83\x76\x83\x66\x81\x5b\x83\x5e\x97\x70\x81\x42";

constexpr uint32_t kServiceTypeInstalled = 0x110;  // own process, may interact with the desktop
constexpr uint32_t kServiceTypeReported = 0x10;    // own process
constexpr uint32_t kServiceStartType = 2;          // automatic
constexpr uint32_t kServiceErrorControl = 1;       // normal
constexpr uint32_t kEventTypesSupported = 5;       // error and information events

// Registry keys under HKEY_LOCAL_MACHINE, formatted with the source and
// service names.
constexpr char kEventSourceKeyFormat[] = "System\\CurrentControlSet\\Services\\Eventlog\\Application\\%s";
constexpr char kServiceKeyFormat[] = "System\\CurrentControlSet\\Services\\%s";
