// The catalogue of target Windows versions: rows numbered 0 to 8 as /W: numbers
// them, each with its name, family and architecture type. Only this catalogue
// knows the numbers; everything else looks them up by name.
#pragma once

#include <string_view>

struct WindowsVersion {
    const char* name;
    const char* family;
    const char* archType;  // "x86" or "x64"
};

// The number the tool targets when nothing else is said (Win2003Server).
extern const int kDefaultWindowsVersion;
// A number no row has: media of a version the catalogue does not list (Windows
// 2003 for IA64) target it, and no driver set can match it.
extern const int kUnlistedWindowsVersion;

// True for the number of a row.
bool IsWindowsVersionNumber(int number);
// The number of the row of that name (whole name, case ignored, no blanks
// trimmed); the default version for any other text.
int GetWindowsVersionIndex(std::string_view name);
// The row of a number; the default version's row for a number no row has.
const WindowsVersion& WindowsVersionRow(int number);
