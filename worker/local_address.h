// This machine's own stable IPv6 address as the check's answer
// (checkurl=local6): a dynamic DNS record then carries the address that
// stays, not the temporary one Windows makes its outgoing connections from.
#pragma once

#include <cstddef>

#include "worker/platform.h"

// The name that selects this check instead of a URL.
constexpr char kLocalIpv6Check[] = "local6";
// checkUrl is kLocalIpv6Check, ASCII case ignored.
bool IsLocalAddressCheck(const char* checkUrl);
// Every entry of a check setting is kLocalIpv6Check.
bool OnlyLocalChecks(const char* checkUrl);

// The stable address among this machine's own, as text (RFC 5952: lower
// case, the longest run of zero groups compressed), NUL-terminated in
// address (kAddressTextSize bytes, as for a check answer's); false, and
// address empty, when there is none.
bool CheckLocalIpv6(char* address);
// The rule itself: a preferred global unicast address of an adapter that is
// up, one whose suffix is not random before one whose suffix is; among
// random ones, one fit for DNS first, then the longest preferred lifetime;
// then the one whose adapter has the default route, then the lowest metric,
// then the lowest address. While a preferred global address exists, one is
// chosen.
bool PickStableIpv6(const platform::LocalIpv6Address* list, size_t count, char* address);
