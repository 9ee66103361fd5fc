// The C runtime's _splitpath rules for the fakes: drive "X:", directory up
// to the last separator, extension from the last dot of the file name.
#pragma once

#include <string>

namespace fake {

struct PathParts {
    std::string drive, directory, name, extension;
};

inline PathParts SplitWindowsPath(std::string rest) {
    PathParts parts;
    if (rest.size() >= 2 && rest[1] == ':') {
        parts.drive = rest.substr(0, 2);
        rest = rest.substr(2);
    }
    const size_t slash = rest.find_last_of("\\/");
    if (slash != std::string::npos) {
        parts.directory = rest.substr(0, slash + 1);
        rest = rest.substr(slash + 1);
    }
    const size_t dot = rest.find_last_of('.');
    parts.name = rest.substr(0, dot);
    if (dot != std::string::npos) parts.extension = rest.substr(dot);
    return parts;
}

}  // namespace fake
