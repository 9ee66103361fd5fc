// Names of the rows of a parameterised table: the row's number and its text
// cut down to what a test name may hold, the same in every build.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace rows {

inline std::string Name(size_t index, const std::vector<std::string>& words) {
    std::string name = std::to_string(index) + "_";
    for (const std::string& word : words) {
        for (unsigned char c : " " + word) {
            if (std::isalnum(c)) {
                name += static_cast<char>(c);
            } else if (name.back() != '_') {
                name += '_';
            }
        }
    }
    name = name.substr(0, 48);
    while (name.back() == '_') name.pop_back();
    return name;
}

}  // namespace rows
