// Finding every DrvSet.ini below the driver path, and the Windows-version and
// machine-type filters.
//
// The walk reads each descriptor once, with the same open that tells whether it
// is there, and keeps the values the later stages need; a directory is listed
// only when it holds no descriptor.
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "DriverSearchTool.h"
#include "IniFile.h"
#include "Platform.h"

namespace {

const char* const kDescriptorName = "DrvSet.ini";

bool EqualsIgnoringAsciiCase(const std::string& name, const CString& wanted) {
    return name.size() == wanted.GetLength() && wanted.EqualsNoCase(name.c_str());
}

struct FileIdHash {
    std::size_t operator()(const platform::FileId& id) const {
        return std::hash<uint64_t>()(id.inode * 31 + id.device);
    }
};

}  // namespace

// Walk state shared by the recursive steps of one search. Every directory
// entered is remembered, so that one reached again through a link (a loop, or
// links that reach it by many paths) is walked only once, by its first path.
struct DriverSearchTool::TreeWalk {
    CString fileName;
    CString& list;
    bool keepContents;
    std::unordered_set<platform::FileId, FileIdHash> visited;
    int depth = 0;
    bool startUnreadable = false;  // the directory the walk started in could not be listed

    // False for a directory entered before; an unknown identity is always new.
    bool Enter(const platform::FileId& id) { return !id.valid || visited.insert(id).second; }
};

void DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list) {
    FindFileInTree(directory, fileName, list, false);
}

void DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list, bool keepContents) {
    TreeWalk walk{fileName, list, keepContents, {}};
    platform::FileId id = platform::GetFileId(directory.Text().GetCharString());
    walk.Enter(id);
    WalkDirectory(directory, id, walk);
    if (keepContents) driverPathUnreadable_ = walk.startUnreadable;
}

// Records the file at the candidate path, if there is one.
bool DriverSearchTool::TakeHit(const PathName& candidate, TreeWalk& walk) {
    const char* path = candidate.Text().GetCharString();
    if (walk.keepContents) {
        std::string contents;
        if (platform::ReadFileBytes(path, contents) != platform::ReadStatus::Read) return false;
        RememberDriverSet(candidate.Text(), contents);
    } else if (!platform::Exists(path)) {
        return false;
    }
    walk.list.AddItem(candidate.Text(), ",");
    return true;
}

void DriverSearchTool::WalkDirectory(const PathName& directory, const platform::FileId& id,
                                     TreeWalk& walk) {
    PathName candidate(directory);
    if (!platform::FullPathFits(candidate.Append(walk.fileName).GetCharString())) {
        // Its absolute path would be cut: nothing in it can be reported or written.
        PrintLine("Skipping directory whose path is too long:" + directory.GetPath());
        return;
    }
    if (TakeHit(candidate, walk)) return;

    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(directory.Text().GetCharString(), entries, id)) {
        // Say so: a tree that cannot be read must not pass for one without sets.
        PrintLine("Skipping directory that cannot be read:" + directory.GetPath());
        walk.startUnreadable = walk.startUnreadable || walk.depth == 0;
    }

    // A file system that tells case apart may hold the file under another case.
    for (const platform::DirEntry& entry : entries) {
        if (EqualsIgnoringAsciiCase(entry.name, walk.fileName) &&
            walk.fileName != entry.name.c_str()) {
            PathName other(directory);
            other.Append(entry.name.c_str());
            if (TakeHit(other, walk)) return;
        }
    }

    for (const platform::DirEntry& entry : entries) {
        if (!entry.isDirectory) continue;
        PathName subdirectory(directory);
        subdirectory.Append(entry.name.c_str());
        if (entry.name.find(',') != std::string::npos) {
            // Lists are comma-delimited: such a name would split into garbage.
            PrintLine("Skipping directory with a comma in its name:" + subdirectory.GetPath());
            continue;
        }
        platform::FileId subdirectoryId =
            entry.id.valid ? entry.id : platform::GetFileId(subdirectory.Text().GetCharString());
        if (!walk.Enter(subdirectoryId)) continue;
        ++walk.depth;
        WalkDirectory(subdirectory, subdirectoryId, walk);
        --walk.depth;
    }
}

void DriverSearchTool::PrintListItems(const CString& list) const {
    for (const CString& item : list.GetItems(",")) PrintLine("\t" + item);
}

int DriverSearchTool::FindAllDriverSets(const PathName& root, CString& list) {
    PrintLine("Searching for all Driver Sets...");
    FindFileInTree(root, kDescriptorName, list, true);
    list.SortItems(",");
    int count = list.GetItemCount(",");
    PrintListItems(list);
    return count;
}

int DriverSearchTool::SearchWindowsVersionSets(int number, const CString& sets, CString& list) {
    PrintLine("Searching for " + SetWindowsVersion(number) + " Driver Sets...");
    int count = FilterByWindowsVersion(number, sets, list);
    PrintListItems(list);
    return count;
}

int DriverSearchTool::FilterByWindowsVersion(int number, const CString& sets, CString& list) {
    int count = 0;
    for (const CString& set : sets.GetItems(",")) {
        if (GetDriverSetInfo(set).WindowsVersionIndex() != number) continue;
        list.AddItem(set, ",");
        ++count;
    }
    return count;
}

int DriverSearchTool::SearchMachineTypeSets(const CString& machineType, const CString& sets,
                                            CString& list) {
    PrintLine("Searching for MachineType=" + machineType + " Driver Sets...");
    int count = FilterByMachineType(machineType, sets, list);
    PrintListItems(list);
    return count;
}

int DriverSearchTool::FilterByMachineType(const CString& machineType, const CString& sets,
                                          CString& list) {
    int count = 0;
    for (const CString& set : sets.GetItems(",")) {
        // A substring test; an empty machine type is never contained.
        const char* supported = GetDriverSetInfo(set).Get(DriverSetInfo::SupportedSystems);
        if (machineType.IsEmpty() ||
            std::strstr(supported, machineType.GetCharString()) == nullptr) {
            continue;
        }
        list.AddItem(set, ",");
        ++count;
    }
    return count;
}

void DriverSetInfo::Assign(const std::string* values, int windowsVersionIndex) {
    std::size_t total = 0;
    for (int field = 0; field < FieldCount; ++field) total += values[field].size() + 1;
    values_.clear();
    values_.reserve(total);
    for (int field = 0; field < FieldCount; ++field) {
        values_ += values[field];
        values_ += '\0';
    }
    windowsVersionIndex_ = windowsVersionIndex;
}

const char* DriverSetInfo::Get(Field field) const {
    if (values_.empty()) return "";
    const char* value = values_.c_str();
    for (int skipped = 0; skipped < field; ++skipped) value += std::strlen(value) + 1;
    return value;
}

// Fills info from a descriptor's bytes as stored: the keys of section "Main".
void DriverSearchTool::ReadDriverSetInfo(const std::string& contents, DriverSetInfo& info) const {
    static const CString kSection = "Main";
    static const CString kKeys[DriverSetInfo::FieldCount] = {
        "Windows Version", "Supported Systems", "Kastrel Version", "Quillon Version",
        "Creation Date",   "Creation Time",     "BuildID"};
    std::string values[DriverSetInfo::FieldCount];
    IniFile::GetValues(contents.data(), contents.size(), true, kSection, kKeys, values,
                       DriverSetInfo::FieldCount);
    info.Assign(values, GetWindowsVersionIndex(values[DriverSetInfo::WindowsVersion].c_str()));
}

std::size_t DriverSearchTool::PathHash::operator()(const CString& path) const {
    // FNV-1a over the bytes of the path.
    std::size_t hash = 14695981039346656037ull;
    for (const char* c = path.GetCharString(); *c != '\0'; ++c) {
        hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    }
    return hash;
}

void DriverSearchTool::RememberDriverSet(const CString& path, const std::string& contents) {
    ReadDriverSetInfo(contents, driverSetInfo_[path]);
}

const DriverSetInfo& DriverSearchTool::GetDriverSetInfo(const CString& path) {
    auto found = driverSetInfo_.find(path);
    if (found != driverSetInfo_.end()) return found->second;
    // Not met by the walk (the path text differs from the one found): read it now.
    // A file that cannot be read gives empty values, as an empty file does.
    std::string contents;
    platform::ReadFileBytes(path.GetCharString(), contents);
    DriverSetInfo& info = driverSetInfo_[path];
    ReadDriverSetInfo(contents, info);
    return info;
}
