// Walking code page 932 (Japanese) text by character: a lead byte and the
// byte behind it are one character, whatever that second byte looks like
// (a backslash, a quote, a bracket, a letter). Both programs use it.
#pragma once

inline bool IsLeadByte(char c) {
    const unsigned char b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Where the character at p ends: two bytes for a lead byte, but never past
// the end of the text.
inline const char* NextCharacter(const char* p) { return p + (IsLeadByte(*p) && p[1] ? 2 : 1); }
