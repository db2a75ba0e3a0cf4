// Target Windows version from installation media: PRODSPEC.INI (Windows 2000,
// XP and 2003 media) or idwbinfo.txt (Windows 2008 media).
#include "MediaDetection.h"

#include "DriverSearchTool.h"
#include "IniFile.h"
#include "Platform.h"
#include "TreeWalk.h"
#include "WindowsVersionCatalogue.h"

namespace {

const char* const kProductFile = "PRODSPEC.INI";
const char* const kBuildInfoFile = "idwbinfo.txt";

}  // namespace

namespace media_rules {

MediaFile KindOfExtension(const CString& extension) {
    if (extension.EqualsNoCase(".ini")) return MediaFile::ProductSpec;
    if (extension.EqualsNoCase(".txt")) return MediaFile::BuildInfo;
    return MediaFile::None;
}

int VersionFromProduct(const CString& product) {
    const struct {
        const char* word;
        const char* alsoWord;  // null: the first word alone decides
        const char* version;
    } kRules[] = {{"Server", "2000", "Win2000Server"},
                  {"2000", nullptr, "Win2000Pro"},
                  {"XP", nullptr, "WinXP"},
                  {"2003", "x64", "Win2003Serverx64"}};
    for (const auto& rule : kRules) {
        if (product.Contains(rule.word) && (!rule.alsoWord || product.Contains(rule.alsoWord))) {
            return GetWindowsVersionIndex(rule.version);
        }
    }
    if (product.Contains("2003") && product.Contains("IA64")) return kUnlistedWindowsVersion;
    return kDefaultWindowsVersion;
}

int VersionFromBuildArch(const CString& buildArch, int current) {
    if (buildArch.Contains("x86")) return GetWindowsVersionIndex("Win2008Server");
    if (buildArch.Contains("amd64")) return GetWindowsVersionIndex("Win2008Serverx64");
    return current;
}

}  // namespace media_rules

// Loads a media file, as IniFile would load it, with the reads of a request
// that fails made again; false (said) when it still fails.
bool DriverSearchTool::ReadMediaFile(const PathName& media, IniFile& file) {
    std::string bytes;
    int error = 0;
    const char* path = media.c_str();
    if (ReadMadeAgainWhileFailing(fileSystem, path, bytes, error) == platform::ReadStatus::Failed) {
        PrintReadError(path, error);
        return false;
    }
    platform::DecodeTextMode(bytes);
    file.LoadText(bytes.data(), static_cast<unsigned long>(bytes.size()));
    return true;
}

StageResult DriverSearchTool::DetectWindowsVersion(PathName media) {
    using media_rules::MediaFile;
    MediaFile kind = media_rules::KindOfExtension(media.GetExtension());
    if (kind == MediaFile::None) {
        const CString fullPath = media.GetFullPath();
        CString hits;
        for (const char* fileName : {kProductFile, kBuildInfoFile}) {
            PrintLine(CString("Searching for ") + fileName + " in " + fullPath);
            if (FindFileInTree(media, fileName, hits).failure.happened()) {
                return ReturnCode::kGeneralError;
            }
            PrintListItems(hits);
            if (hits.GetItemCount(",") > 0) break;
        }
        if (hits.GetItemCount(",") == 0) return ReturnCode::kMediaNotFound;
        media = hits.GetItem(0, ",");
        kind = media_rules::KindOfExtension(media.GetExtension());
        if (kind == MediaFile::None) return kGoOn;
    }

    PrintLine("\nDetermining OS Version from file:" + media.GetPath());
    IniFile file;
    if (!ReadMediaFile(media, file)) return ReturnCode::kGeneralError;
    if (kind == MediaFile::ProductSpec) {
        CString value = file.GetValue("Product Specification", "Product", "");
        if (value.IsEmpty()) return ReturnCode::kMediaNotFound;
        PrintLine("Windows Version=" + value);
        osVersionIndex = media_rules::VersionFromProduct(value);
    } else {
        CString buildArch = file.GetValue("BUILDINFO", "BuildArch", "");
        if (buildArch.IsEmpty()) return ReturnCode::kMediaNotFound;
        osVersionIndex = media_rules::VersionFromBuildArch(buildArch, osVersionIndex);
    }
    osVersionName = SetWindowsVersion(osVersionIndex);
    return kGoOn;
}
