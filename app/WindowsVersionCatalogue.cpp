// The nine target Windows versions: number, name, family and architecture.
#include "WindowsVersionCatalogue.h"

#include <array>
#include <string_view>

#include "AsciiText.h"
#include "DriverSearchTool.h"

namespace {

const WindowsVersion kCatalogue[] = {
    {"Win2000Server", "Win2000", "x86"},    {"Win2003Server", "Win2003", "x86"},
    {"Win2000Pro", "Win2000", "x86"},       {"WinXP", "WinXP", "x86"},
    {"Win2003Serverx64", "Win2003", "x64"}, {"Win2008Server", "Win2008", "x86"},
    {"Win2008Serverx64", "Win2008", "x64"}, {"WinPE21x86", "WinPE21", "x86"},
    {"WinPE21x64", "WinPE21", "x64"},
};
const int kCatalogueSize = sizeof(kCatalogue) / sizeof(kCatalogue[0]);

}  // namespace

const int kDefaultWindowsVersion = 1;
const int kUnlistedWindowsVersion = 10;

bool IsWindowsVersionNumber(int number) { return number >= 0 && number < kCatalogueSize; }

// Asked once for every set found: the names are measured once.
int GetWindowsVersionIndex(std::string_view name) {
    static const auto names = [] {
        std::array<std::string_view, kCatalogueSize> views;
        for (int number = 0; number < kCatalogueSize; ++number)
            views[number] = kCatalogue[number].name;
        return views;
    }();
    for (int number = 0; number < kCatalogueSize; ++number) {
        if (EqualsNoCaseAscii(name, names[number])) return number;
    }
    return kDefaultWindowsVersion;
}

const WindowsVersion& WindowsVersionRow(int number) {
    return kCatalogue[IsWindowsVersionNumber(number) ? number : kDefaultWindowsVersion];
}

CString DriverSearchTool::SetWindowsVersion(int number) {
    const WindowsVersion& row = WindowsVersionRow(number);
    osFamily = row.family;
    osArchType = row.archType;
    osArch = osArchType == "x64" ? "AMD64" : "I386";
    return row.name;
}
