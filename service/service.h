// Who the service is: the names under which the Service Control Manager,
// the event log and the installer know it. Everything that registers or
// reports as the service takes its identity from here.
#pragma once

#include <cstdint>

constexpr char kServiceName[] = "pelkorService";
constexpr char kServiceDisplayName[] = "Pelkor Service";
constexpr char kEventSourceName[] = "PELKOR_SVC";
