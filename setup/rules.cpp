// The pure rules of setup: how the command line is read and which mode and
// which installer command it asks for.
#include <string.h>

#include "setup.h"
#include "setup_os.h"

namespace {

bool EqualsIgnoringAsciiCase(const char* a, size_t length, const char* b) {
    if (strlen(b) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* SkipProgramName(const char* commandLine) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > ' ') ++p;
    }
    while (*p && *p <= ' ') ++p;
    return reinterpret_cast<const char*>(p);
}

Mode SelectMode(int argc, char** argv) {
    if (argc < 2) return Mode::Launch;
    char folded[kPathSize];
    if (!JoinInto(folded, sizeof folded, argv[1])) return Mode::Launch;  // too long for a switch
    setupos::LowerCase(folded);
    if (setupos::Compare(folded, "/create") == 0) return Mode::Build;
    if (setupos::Compare(folded, "/extract") == 0) return Mode::Extract;
    return Mode::Launch;
}

bool WantsUninstall(const char* text) {
    // Split as the C runtime splits a command line: blanks separate
    // arguments outside quotes; 2n backslashes before a quote give n and the
    // quote counts, 2n+1 give n and a literal quote. Only the argument's
    // text is compared, so it is built up in a small buffer; anything
    // longer than the longest switch cannot match.
    const char* p = text;
    for (;;) {
        while (IsBlank(*p)) ++p;
        if (!*p) return false;
        char argument[16];
        size_t length = 0;
        bool fits = true, quoted = false;
        auto append = [&](char c) {
            if (length < sizeof argument) argument[length++] = c;
            else fits = false;
        };
        while (*p && (quoted || !IsBlank(*p))) {
            if (*p == '\\') {
                size_t slashes = 0;
                while (*p == '\\') ++slashes, ++p;
                if (*p == '"') {
                    for (size_t i = 0; i < slashes / 2; ++i) append('\\');
                    if (slashes % 2) {
                        append('"');
                        ++p;
                    }
                } else {
                    for (size_t i = 0; i < slashes; ++i) append('\\');
                }
            } else if (*p == '"') {
                if (quoted && p[1] == '"') {  // "" inside quotes is a literal quote
                    append('"');
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                append(*p++);
            }
        }
        if (fits && (EqualsIgnoringAsciiCase(argument, length, "/x") ||
                     EqualsIgnoringAsciiCase(argument, length, "/uninstall"))) {
            return true;
        }
    }
}

bool JoinInto(char* out, size_t size, const char* a, const char* b, const char* c, const char* d,
              const char* e) {
    const char* parts[] = {a, b, c, d, e};
    size_t length = 0;
    for (const char* part : parts) length += strlen(part);
    if (length >= size) {
        if (size) out[0] = '\0';
        return false;
    }
    out[0] = '\0';
    for (const char* part : parts) strcat(out, part);
    return true;
}

bool NamesSameFile(const char* a, const char* b) {
    // Only ASCII letters are folded. A double-byte character (code page 932)
    // is compared byte for byte, its trail byte included, since a trail byte
    // may look like an ASCII letter; so two names that differ only in the
    // case of a full-width letter count as different files here.
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;;) {
        if ((*x >= 0x81 && *x <= 0x9F) || (*x >= 0xE0 && *x <= 0xFC)) {
            if (*x != *y) return false;
            ++x, ++y;
            if (*x != *y) return false;
            if (!*x) return true;
        } else {
            unsigned char p = *x, q = *y;
            if (p >= 'A' && p <= 'Z') p = static_cast<unsigned char>(p - 'A' + 'a');
            if (q >= 'A' && q <= 'Z') q = static_cast<unsigned char>(q - 'A' + 'a');
            if (p != q) return false;
            if (!p) return true;
        }
        ++x, ++y;
    }
}

namespace {
void Hex(char* out, uint32_t value) {
    for (int i = 7; i >= 0; --i, value >>= 4) out[i] = "0123456789abcdef"[value & 15];
    out[8] = '\0';
}
}  // namespace

bool FreshPackagePaths(char* folder, char* package, const char* tempFolder, uint32_t process,
                       uint32_t serial, const char* baseName) {
    char processText[9], serialText[9];
    Hex(processText, process);
    Hex(serialText, serial);
    if (JoinInto(folder, kPathSize, tempFolder, "setup-", processText, "-", serialText) &&
        JoinInto(package, kPathSize, folder, "\\", baseName, ".msi")) {
        return true;
    }
    folder[0] = package[0] = '\0';
    return false;
}
