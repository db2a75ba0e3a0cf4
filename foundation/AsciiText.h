// ASCII text helpers of the whole foundation: case folding as toupper and
// tolower do in the "C" locale (only the letters A to Z and a to z change,
// whatever the program's locale, so that names compare alike on every build),
// and the blanks that lists, paths, INI lines and the command line are trimmed
// of: blank, tab and newline (a carriage return is no blank).
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

inline char ToUpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char ToLowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal when folded with ToLowerAscii, byte for byte.
inline bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // Names in files mostly come in the case they are looked up in.
    if (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0) return true;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    }
    return true;
}

// The blanks, as a set of characters for CString's Trim.
inline constexpr char kBlanksAscii[] = " \t\n";

inline bool IsBlankAscii(char c) {
    return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || c == '\t' || c == '\n');
}

inline std::string_view TrimLeftBlanksAscii(std::string_view text) {
    while (!text.empty() && IsBlankAscii(text.front())) text.remove_prefix(1);
    return text;
}

inline std::string_view TrimRightBlanksAscii(std::string_view text) {
    while (!text.empty() && IsBlankAscii(text.back())) text.remove_suffix(1);
    return text;
}

// The text without its leading and trailing blanks.
inline std::string_view TrimBlanksAscii(std::string_view text) {
    return TrimRightBlanksAscii(TrimLeftBlanksAscii(text));
}
