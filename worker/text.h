// Bounded copies into fixed, NUL-terminated buffers: what does not fit is
// cut, never inside a double-byte character, and the result is always
// terminated. Texts are code page 932.
#pragma once

#include <cstddef>
#include <cstring>

#include "common/cp932.h"

// The longest start of the length bytes of text, at most limit bytes,
// that ends on a whole character.
inline size_t WholeCharacters(const char* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    size_t at = 0;
    while (at < limit) {
        const size_t next = at + (IsLeadByte(text[at]) ? 2 : 1);
        if (next > limit) break;
        at = next;
    }
    return at;
}

// Copies the first length bytes of text (cut to size - 1, on a whole
// character) into buffer and terminates it; returns the length copied.
inline size_t CopyCut(char* buffer, size_t size, const char* text, size_t length) {
    if (size == 0) return 0;
    length = WholeCharacters(text, length, size - 1);
    std::memmove(buffer, text, length);
    buffer[length] = '\0';
    return length;
}

// Appends text to the terminated string in buffer, cut to fit; returns the
// new length.
inline size_t AppendCut(char* buffer, size_t size, const char* text) {
    const size_t used = std::strlen(buffer);
    return used + CopyCut(buffer + used, size - used, text, std::strlen(text));
}

// Appends value as "%.*d" writes it, with at least minDigits digits, cut
// to fit; returns the new length. The magnitude is taken unsigned, so the
// smallest int is written too.
inline size_t AppendDecimal(char* buffer, size_t size, int value, int minDigits) {
    char digits[16];
    char* p = digits + sizeof digits;
    *--p = '\0';
    char* const end = p;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (end - p < minDigits && p > digits + 1) *--p = '0';
    if (value < 0) *--p = '-';
    return AppendCut(buffer, size, p);
}

// Whole texts equal but for the case of ASCII letters.
inline bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}
