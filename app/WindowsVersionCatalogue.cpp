// The nine target Windows versions: number, name, family and architecture.
#include <string_view>

#include "DriverSearchTool.h"

namespace {

struct WindowsVersion {
    const char* name;
    const char* family;
    const char* archType;
};

const WindowsVersion kCatalogue[] = {
    {"Win2000Server", "Win2000", "x86"},    {"Win2003Server", "Win2003", "x86"},
    {"Win2000Pro", "Win2000", "x86"},       {"WinXP", "WinXP", "x86"},
    {"Win2003Serverx64", "Win2003", "x64"}, {"Win2008Server", "Win2008", "x86"},
    {"Win2008Serverx64", "Win2008", "x64"}, {"WinPE21x86", "WinPE21", "x86"},
    {"WinPE21x64", "WinPE21", "x64"},
};
const int kCatalogueSize = sizeof(kCatalogue) / sizeof(kCatalogue[0]);
const int kDefaultVersion = 1;

}  // namespace

int DriverSearchTool::GetWindowsVersionIndex(std::string_view name) const {
    for (int number = 0; number < kCatalogueSize; ++number) {
        if (CString::EqualsNoCase(name, kCatalogue[number].name)) return number;
    }
    return kDefaultVersion;
}

CString DriverSearchTool::SetWindowsVersion(int number) {
    if (number < 0 || number >= kCatalogueSize) number = kDefaultVersion;
    const WindowsVersion& row = kCatalogue[number];
    osFamily = row.family;
    osArchType = row.archType;
    osArch = osArchType == "x64" ? "AMD64" : "I386";
    return row.name;
}
