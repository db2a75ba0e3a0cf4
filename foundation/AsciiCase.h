// ASCII case folding, as toupper and tolower do in the "C" locale: only the
// letters A to Z and a to z change, whatever the program's locale, so that
// names compare alike on every build.
#pragma once

inline char ToUpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char ToLowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
