// This machine's unicast IPv6 addresses, from the IP Helper library loaded
// from the system folder at run time: the program may import only kernel32,
// advapi32, wininet and msvcrt, and a library found by a bare name could be
// any file of that name in the program's folder.
#include "worker/win32/win32.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "common/unique_handle.h"
#include "worker/platform.h"

namespace platform {

namespace {

// What the code relies on, as Microsoft documents GetAdaptersAddresses:
// - DadState IpDadStatePreferred: usable; tentative, duplicate and
//   deprecated addresses have the other states.
// - SuffixOrigin IpSuffixOriginRandom: documented for the anonymous address
//   whose host part the host draws at random after a router advertisement,
//   a temporary address. But Windows by default also gives the address that
//   stays a random identifier, and nothing documents which origin that one
//   then reports, so a random suffix only ranks an address lower.
// - Flags IP_ADAPTER_ADDRESS_DNS_ELIGIBLE: documented as an address that
//   may appear in DNS, what a record wants; whether Windows clears it on
//   temporary addresses is not documented, so it only ranks random ones.
// - PreferredLifetime: seconds, 0xFFFFFFFF infinite. Flags and the
//   lifetimes are in every layout of the structure, XP's too.
// - OperStatus IfOperStatusUp: the adapter passes packets.
// - FirstGatewayAddress (with GAA_FLAG_INCLUDE_GATEWAYS) lists the
//   adapter's default gateways, Ipv6Metric its IPv6 interface metric; both
//   came with the Vista layout of IP_ADAPTER_ADDRESSES, so they are read
//   only where Length says the system filled them. The _LH types of the
//   headers are that documented layout whatever _WIN32_WINNT says, so the
//   XP pin of win32.h stays for everything else.
// Wine 8 (measured) reports every address preferred and with a suffix by
// hand or DHCP, no IPv6 gateway and metric 0: there the lowest address wins.
using GetAdaptersAddressesFunction = ULONG(WINAPI*)(ULONG, ULONG, void*,
                                                    IP_ADAPTER_ADDRESSES_LH*, ULONG*);

constexpr ULONG kVistaLength = offsetof(IP_ADAPTER_ADDRESSES_LH, Ipv6Metric) + sizeof(ULONG);


bool HasIpv6Gateway(const IP_ADAPTER_ADDRESSES_LH& adapter) {
    for (const IP_ADAPTER_GATEWAY_ADDRESS_LH* gateway = adapter.FirstGatewayAddress; gateway;
         gateway = gateway->Next) {
        if (gateway->Address.lpSockaddr->sa_family == AF_INET6) return true;
    }
    return false;
}

}  // namespace

size_t LocalIpv6Addresses(LocalIpv6Address* list, size_t max) {
    static const char kName[] = "\\iphlpapi.dll";
    char path[MAX_PATH];
    const UINT folder = GetSystemDirectoryA(path, MAX_PATH - sizeof kName);
    if (folder == 0 || folder >= MAX_PATH - sizeof kName) return 0;
    std::memcpy(path + folder, kName, sizeof kName);
    UniqueHandle<HMODULE, ReleaseModule> library(LoadLibraryA(path));
    if (!library) return 0;
    const auto getAdaptersAddresses = reinterpret_cast<GetAdaptersAddressesFunction>(
        reinterpret_cast<void*>(GetProcAddress(library.Get(), "GetAdaptersAddresses")));
    if (!getAdaptersAddresses) return 0;

    // The list can grow between the call that gives its size and the next:
    // a few tries, each with the size the last one asked for. DNS servers
    // are skipped for more than speed: without that flag Wine 8 failed the
    // IPv6-only call with 9852 (DNS_ERROR_NO_DNS_SERVERS).
    UniqueHandle<void*, FreeBytes> block;
    ULONG size = 16384;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < 3 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
        block.Reset(std::malloc(size));
        if (!block) return 0;
        result = getAdaptersAddresses(AF_INET6,
                                      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                          GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME |
                                          GAA_FLAG_INCLUDE_GATEWAYS,
                                      nullptr, static_cast<IP_ADAPTER_ADDRESSES_LH*>(block.Get()),
                                      &size);
    }
    if (result != ERROR_SUCCESS) return 0;

    size_t count = 0;
    for (const auto* adapter = static_cast<const IP_ADAPTER_ADDRESSES_LH*>(block.Get()); adapter;
         adapter = adapter->Next) {
        const bool vista = adapter->Length >= kVistaLength;
        for (const IP_ADAPTER_UNICAST_ADDRESS_LH* unicast = adapter->FirstUnicastAddress;
             unicast && count < max; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address->sa_family != AF_INET6) continue;
            LocalIpv6Address& entry = list[count++];
            std::memcpy(entry.bytes, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                        sizeof entry.bytes);
            entry.preferred = unicast->DadState == IpDadStatePreferred;
            entry.randomSuffix = unicast->SuffixOrigin == IpSuffixOriginRandom;
            entry.dnsEligible = (unicast->Flags & IP_ADAPTER_ADDRESS_DNS_ELIGIBLE) != 0;
            entry.preferredLifetime = unicast->PreferredLifetime;
            entry.adapterUp = adapter->OperStatus == IfOperStatusUp;
            entry.defaultRoute = vista && HasIpv6Gateway(*adapter);
            entry.metric = vista ? adapter->Ipv6Metric : 0;
        }
    }
    return count;
}

}  // namespace platform
