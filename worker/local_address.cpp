// Picks and writes this machine's stable IPv6 address; see local_address.h.
#include "worker/local_address.h"

#include <cstdint>
#include <cstring>

#include "worker/address.h"
#include "worker/provider_rules.h"
#include "worker/text.h"

namespace {

// Enough for the link-local, temporary and deprecated temporary addresses
// that stand beside the stable one on every adapter of a busy machine.
constexpr size_t kMaxLocalIpv6 = 64;

// Global unicast (2000::/3) and none of the blocks inside it that no
// network hands a machine to be reached at: documentation (2001:db8::/32,
// 3fff::/20) and IETF protocol assignments (2001::/23, Teredo among them,
// whose address follows the NAT's mapping). This one test also leaves out
// loopback, unspecified, multicast, link-local, unique-local and
// IPv4-mapped addresses, all outside 2000::/3.
bool IsStableKind(const uint8_t* a) {
    if ((a[0] & 0xE0) != 0x20) return false;
    if (a[0] == 0x20 && a[1] == 0x01 && (a[2] < 0x02 || (a[2] == 0x0D && a[3] == 0xB8))) {
        return false;
    }
    return !(a[0] == 0x3F && a[1] == 0xFF && a[2] < 0x10);
}

// An address whose suffix is not random stays. Windows gives a random
// suffix to its temporary addresses and, by default, to the one that stays
// too, so among random ones the signs of the one that stays come next:
// Windows calling it fit for DNS (a temporary one is not for DNS), then the
// longest preferred lifetime, renewed by every router advertisement, where a
// temporary address's is capped and runs out.
bool RanksBefore(const platform::LocalIpv6Address& a, const platform::LocalIpv6Address& b) {
    if (a.randomSuffix != b.randomSuffix) return b.randomSuffix;
    if (a.randomSuffix && a.dnsEligible != b.dnsEligible) return a.dnsEligible;
    if (a.randomSuffix && a.preferredLifetime != b.preferredLifetime) {
        return a.preferredLifetime > b.preferredLifetime;
    }
    if (a.defaultRoute != b.defaultRoute) return a.defaultRoute;
    if (a.metric != b.metric) return a.metric < b.metric;
    return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) < 0;
}

}  // namespace

bool IsLocalAddressCheck(const char* checkUrl) {
    return EqualsIgnoringAsciiCase(checkUrl, kLocalIpv6Check);
}

bool OnlyLocalChecks(const char* checkUrl) {
    char entry[sizeof kLocalIpv6Check + 1];
    for (int n = 0; n < kCheckEntries && NextCheckEntry(&checkUrl, entry, sizeof entry); ++n) {
        if (!IsLocalAddressCheck(entry)) return false;
    }
    return true;
}

bool PickStableIpv6(const platform::LocalIpv6Address* list, size_t count, char* address) {
    const platform::LocalIpv6Address* best = nullptr;
    for (size_t i = 0; i < count; ++i) {
        const platform::LocalIpv6Address& candidate = list[i];
        if (!candidate.preferred || !candidate.adapterUp || !IsStableKind(candidate.bytes)) {
            continue;
        }
        if (!best || RanksBefore(candidate, *best)) best = &candidate;
    }
    address[0] = '\0';
    if (!best) return false;
    FormatIpv6(best->bytes, address);
    return true;
}

// Out of line: its list is kept out of its callers' frames (a frame of a page
// or more would need a stack probe).
[[gnu::noinline]] bool CheckLocalIpv6(char* address) {
    platform::LocalIpv6Address list[kMaxLocalIpv6];
    return PickStableIpv6(list, platform::LocalIpv6Addresses(list, kMaxLocalIpv6), address);
}
