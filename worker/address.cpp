// Reads the one address out of a check answer and writes addresses in
// pelkor's own spelling; the rules are in address.h.
#include "worker/address.h"

#include <cstring>

namespace {

// An address as read: 16 bytes (an IPv4 address in the first 4, the rest
// zero) and its family, so that one comparison tells two addresses apart.
constexpr size_t kFamilyAt = 16;
using ReadAddress = uint8_t[kFamilyAt + 1];

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A letter, a digit, or one of ".:_%/" ('.' to ':' are ./0123456789:).
bool ContinuesToken(char c) {
    return static_cast<unsigned char>(c - '.') <= ':' - '.' ||
           static_cast<unsigned char>((c | 0x20) - 'a') < 26 || c == '_' || c == '%';
}

// The longest text of an address: eight groups of four and a dotted tail.
constexpr size_t kLongestAddressText = 45;

// The whole of [p, end) as an address; address[kFamilyAt] 4, 6, or 0 when
// it is none. One walk over its pieces, the runs of hex digits between the
// separators: a piece before a '.' or after one is a decimal byte (no
// leading zero), any other a 16-bit group; "::" stands for zero groups.
void Parse(const char* p, const char* end, ReadAddress& address) {
    std::memset(address, 0, sizeof address);
    const size_t length = static_cast<size_t>(end - p);
    if (length > kLongestAddressText) return;
    char text[kLongestAddressText + 1];
    std::memcpy(text, p, length);
    text[length] = '\0';
    const char* s = text;
    int at = 0, gap = -1, octets = 0;
    if (*s == ':' && *++s != ':') return;  // a leading ':' only as half of "::"
    while (*s != '\0') {
        if (*s == ':') {
            if (gap >= 0) return;
            gap = at;
            ++s;
            continue;
        }
        const char* const digits = s;
        unsigned group = 0, decimal = 0;
        for (int hex; s - digits < 4 && (hex = HexValue(*s)) >= 0; ++s) {
            group = group << 4 | static_cast<unsigned>(hex);
            // A letter or a leading zero makes no decimal byte.
            decimal = hex > 9 || (s > digits && decimal == 0)
                          ? 256
                          : decimal * 10 + static_cast<unsigned>(hex);
        }
        if (s == digits || at == 16) return;
        if (*s == '.' || octets > 0) {
            if (decimal > 255) return;
            address[at++] = static_cast<uint8_t>(decimal);
            ++octets;
        } else {
            address[at++] = static_cast<uint8_t>(group >> 8);
            address[at++] = static_cast<uint8_t>(group);
        }
        // A ':' after a decimal byte, or a separator that ends the text.
        if (*s != '\0' && ((*s == ':' ? octets > 0 : *s != '.') || *++s == '\0')) return;
    }
    if (octets != 0 && octets != 4) return;
    if (gap < 0 && at == octets) {  // no ':': IPv4
        if (at == 4) address[kFamilyAt] = 4;
        return;
    }
    if (gap < 0 ? at != 16 : at == 16) return;  // "::" stands for one zero group at least
    // The groups after "::" move to the end, zeros take their place.
    for (int from = at; gap >= 0 && from-- > gap;) {
        address[from + 16 - at] = address[from];
        address[from] = 0;
    }
    address[kFamilyAt] = 6;
}

// 0.0.0.0/8 and ::/8 (IETF-reserved: "::", "::1" and the IPv4-mapped
// block are all in it), loopback, link-local, multicast and above.
bool IsUnusable(const ReadAddress& b) {
    if (b[0] == 0) return true;
    if (b[kFamilyAt] == 4) return b[0] == 127 || (b[0] == 169 && b[1] == 254) || b[0] >= 224;
    return b[0] == 0xFF || (b[0] == 0xFE && (b[1] & 0xC0) == 0x80);
}

// value in base 10 or 16 without leading zeros.
char* WriteNumber(char* out, unsigned value, unsigned base) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % base];
    } while ((value /= base) != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace

void FormatIpv6(const uint8_t* bytes, char* text) {
    unsigned groups[8];
    int best = 8, bestLength = 1;
    for (int i = 0, run = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
        run = groups[i] ? 0 : run + 1;
        if (run > bestLength) {
            best = i + 1 - run;
            bestLength = run;
        }
    }
    char* out = text;
    for (int i = 0; i < 8;) {
        if (i == best) {
            *out++ = ':';
            *out++ = ':';
            i += bestLength;
            continue;
        }
        if (i > 0 && i != best + bestLength) *out++ = ':';
        out = WriteNumber(out, groups[i++], 16);
    }
    *out = '\0';
}

AnswerAddress FindAnswerAddress(const char* body, size_t size, int family,
                                char (&address)[kAddressTextSize]) {
    if (size > kAnswerBytes) size = kAnswerBytes;
    const char* const end = body + size;
    ReadAddress found = {}, read;
    bool otherFamily = false;
    address[0] = '\0';
    const char* start = body;
    for (const char* p = body; p <= end; ++p) {
        if (p != end && ContinuesToken(*p)) continue;
        // [start, p) is a token, less a full stop. One that reaches the
        // last byte read may go on in the bytes not read.
        const char* last = p;
        while (last > start && last[-1] == '.') --last;
        if (last > start && !(p == end && size == kAnswerBytes)) {
            Parse(start, last, read);
            const int kind = read[kFamilyAt];
            if (kind == 0) {
                // no address
            } else if (family != 0 && kind != family) {
                otherFamily = true;
            } else if (found[kFamilyAt] == 0) {
                std::memcpy(found, read, sizeof read);
            } else if (std::memcmp(read, found, sizeof read) != 0) {
                return AnswerAddress::Several;
            }
        }
        start = p + 1;
    }
    if (found[kFamilyAt] == 0) return otherFamily ? AnswerAddress::OtherFamily : AnswerAddress::None;
    if (IsUnusable(found)) return AnswerAddress::Unusable;
    if (found[kFamilyAt] == 6) {
        FormatIpv6(found, address);
    } else {
        char* out = address;
        for (int i = 0; i < 4; ++i) {
            out = WriteNumber(out, found[i], 10);
            *out++ = '.';
        }
        out[-1] = '\0';
    }
    return AnswerAddress::Found;
}
