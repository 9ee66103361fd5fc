// The address a check URL answers: which one of its body pelkor trusts, and
// how pelkor writes an address itself (never with the answer's bytes).
//
// An address is an IPv4 address as a dotted quad (four decimal parts 0-255,
// no leading zeros) or an IPv6 address in any text form of RFC 4291 (hex
// groups of 1-4 digits in either case, at most one "::", or the last 32 bits
// as a dotted quad); never with a zone ("%eth0") or a prefix length ("/64").
// It must be a whole token: a token is a longest run of ASCII letters,
// digits and ".:_%/", less the dots that end it (a sentence's full stop),
// so "1.2.3.4.5", "a1.2.3.4", "1.2.3.4:80" and "1.2.3.4/24" hold none. Any
// other byte, 0x80 and above too, separates tokens.
// The answer counts when the first kAnswerBytes bytes hold exactly one
// distinct address (two spellings of it are one); a token that reaches the
// end of those bytes may go on beyond them and is not read.
#pragma once

#include <cstddef>
#include <cstdint>

// What of a check answer's body is read.
constexpr size_t kAnswerBytes = 4096;
// The longest address pelkor writes (IPv6, 39 characters) and its NUL.
constexpr size_t kAddressTextSize = 40;

enum class AnswerAddress {
    Found,        // address holds it
    None,         // no address of the family asked for, and none of the other
    Several,      // two different addresses of the family asked for
    Unusable,     // one, but never a record's address (see below)
    OtherFamily,  // none of the family asked for, but one of the other
};

// The one address of a check answer (the first size bytes of its body, more
// than kAnswerBytes are not read), in pelkor's own spelling: IPv4 as four
// decimals, IPv6 as FormatIpv6 writes it. family 0: either counts; 4 or 6:
// only addresses of that family count, the others are passed over.
// Unusable, never a record's address: 0.0.0.0/8, loopback (127/8),
// link-local (169.254/16, fe80::/10), multicast and reserved (224.0.0.0 and
// up, 255.255.255.255 among them; ff00::/8) and ::/8, the IETF's reserved
// block that holds "::", "::1" and the IPv4-mapped ::ffff:0:0/96. Private
// and documentation addresses count. Several is told before Unusable: every
// address is counted first. Anything but Found leaves address empty.
AnswerAddress FindAnswerAddress(const char* body, size_t size, int family,
                                char (&address)[kAddressTextSize]);

// RFC 5952 text of an IPv6 address (16 bytes) into text (kAddressTextSize
// bytes): lower-case groups without leading zeros, the longest run of two or
// more zero groups (the leftmost of equals) as "::".
void FormatIpv6(const uint8_t* bytes, char* text);
