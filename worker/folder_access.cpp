// Which entries of a folder's access list let others than the system's own
// accounts replace a file in it.
#include "worker/folder_access.h"

#include <cstdint>
#include <cstring>

namespace {

uint32_t Read32(const char* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
uint32_t Read16(const char* at) {
    return static_cast<unsigned char>(at[0]) | static_cast<unsigned char>(at[1]) << 8;
}

constexpr char kListPresent = 0x4;  // SE_DACL_PRESENT, in the control's low byte
constexpr char kAllowEntry = 0;
constexpr char kInheritOnly = 0x08;
// Rights that let a holder replace a file of the folder: add a file, delete
// one, change the list or the owner, or the generic write and all.
constexpr uint32_t kReplacingRights = 0x2 | 0x40 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000;

// SIDs as the platform lays them out (its sub-authorities little-endian).
struct Sid {
    uint8_t revision, count, authority[6];
    uint32_t subAuthority[6];
};
const Sid kTrusted[] = {
    {1, 1, {0, 0, 0, 0, 0, 5}, {18}},       // SYSTEM
    {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}},  // Administrators
    {1, 6, {0, 0, 0, 0, 0, 5},              // TrustedInstaller
     {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u}},
};

bool IsTrusted(const char* sid) {
    for (const Sid& trusted : kTrusted) {
        if (sid[1] == trusted.count && std::memcmp(sid, &trusted, 8 + 4 * trusted.count) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool OthersMayWrite(const char* descriptor, size_t size) {
    // SECURITY_DESCRIPTOR_RELATIVE: the control at 2, the list's offset at 16;
    // then the ACL: its entry count at 4, its entries from 8.
    if (size < 20) return true;  // no descriptor to speak of: assume the worst
    const uint32_t at = Read32(descriptor + 16);
    if (!(descriptor[2] & kListPresent) || at == 0) return true;  // no list: anybody
    if (at > size - 8) return true;
    size_t entry = at + 8;
    for (uint32_t count = Read16(descriptor + at + 4); count > 0 && entry + 16 <= size; --count) {
        // Type, flags, size, then the rights and the SID.
        const char* const e = descriptor + entry;
        if (e[0] == kAllowEntry && !(e[1] & kInheritOnly) && (Read32(e + 4) & kReplacingRights) &&
            !IsTrusted(e + 8)) {
            return true;
        }
        entry += Read16(e + 2);
    }
    return false;
}
