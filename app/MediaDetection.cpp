// Target Windows version from installation media: PRODSPEC.INI (Windows 2000,
// XP and 2003 media) or idwbinfo.txt (Windows 2008 media).
#include "DriverSearchTool.h"
#include "IniFile.h"

namespace {

const char* const kProductFile = "PRODSPEC.INI";
const char* const kBuildInfoFile = "idwbinfo.txt";

// Catalogue number for a "Product" value of PRODSPEC.INI (never empty here).
int VersionFromProduct(const CString& product) {
    if (product.Contains("Server") && product.Contains("2000")) return 0;
    if (product.Contains("2000")) return 2;
    if (product.Contains("XP")) return 3;
    if (product.Contains("2003") && product.Contains("x64")) return 4;
    if (product.Contains("2003") && product.Contains("IA64")) return 10;  // names no catalogue row
    return 1;
}

// Catalogue number for a "BuildArch" value of idwbinfo.txt; current when unknown.
int VersionFromBuildArch(const CString& buildArch, int current) {
    if (buildArch.Contains("x86")) return 5;
    if (buildArch.Contains("amd64")) return 6;
    return current;
}

}  // namespace

int DriverSearchTool::DetectWindowsVersion(PathName media) {
    CString extension = media.GetExtension();
    if (!extension.EqualsNoCase(".ini") && !extension.EqualsNoCase(".txt")) {
        const CString fullPath = media.GetFullPath();
        CString hits;
        for (const char* fileName : {kProductFile, kBuildInfoFile}) {
            PrintLine(CString("Searching for ") + fileName + " in " + fullPath);
            FindFileInTree(media, fileName, hits);
            PrintListItems(hits);
            if (hits.GetItemCount(",") > 0) break;
        }
        if (hits.GetItemCount(",") == 0) return kMediaNotFound;
        media = hits.GetItem(0, ",");
        extension = media.GetExtension();
    }

    if (extension.EqualsNoCase(".ini")) {
        PrintLine("\nDetermining OS Version from file:" + media.GetPath());
        CString product = IniFile(media).GetValue("Product Specification", "Product", "");
        if (product.IsEmpty()) return kMediaNotFound;
        PrintLine("Windows Version=" + product);
        osVersionIndex = VersionFromProduct(product);
        osVersionName = SetWindowsVersion(osVersionIndex);
    } else if (extension.EqualsNoCase(".txt")) {
        PrintLine("\nDetermining OS Version from file:" + media.GetPath());
        CString buildArch = IniFile(media).GetValue("BUILDINFO", "BuildArch", "");
        if (buildArch.IsEmpty()) return kMediaNotFound;
        osVersionIndex = VersionFromBuildArch(buildArch, osVersionIndex);
        osVersionName = SetWindowsVersion(osVersionIndex);
    }
    return kSuccessFound;
}
