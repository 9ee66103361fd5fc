// Names of the rows of a parameterised table: the row's number and its text
// cut down to what a test name may hold, the same in every build.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace rows {

inline std::string Name(size_t index, const std::string& text) {
    std::string words;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            words += static_cast<char>(c);
        } else if (!words.empty() && words.back() != '_') {
            words += '_';
        }
    }
    words = words.substr(0, 40);
    if (!words.empty() && words.back() == '_') words.pop_back();
    return std::to_string(index) + (words.empty() ? "" : "_" + words);
}

inline std::string Name(size_t index, const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += " " + word;
    return Name(index, text);
}

}  // namespace rows
