// Finding every DrvSet.ini below the driver path, and the Windows-version and
// machine-type filters.
//
// The walk reads each descriptor once, with the same open that tells whether it
// is there, and keeps the values the later stages need; a directory is listed
// only when it holds no descriptor.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "DriverSearchTool.h"
#include "IniFile.h"
#include "Platform.h"

namespace {

const char* const kDescriptorName = "DrvSet.ini";

const CString kListDelimiter = ",";

}  // namespace

// Walk state shared by the recursive steps of one search. Every directory
// entered is remembered, so that one reached again through a link (a loop, or
// links that reach it by many paths) is walked only once, by its first path.
struct DriverSearchTool::TreeWalk {
    CString fileName;
    CString& list;
    bool keepContents;
    DirectorySet visited;
    std::string contents;  // the descriptor read last; its buffer serves them all
    std::vector<std::string_view> hits;  // paths found, as kept with their values
    int depth = 0;
    bool startUnreadable = false;  // the directory the walk started in could not be listed

    // False for a directory entered before; an unknown identity is always new.
    bool Enter(const platform::FileId& id) { return !id.valid || visited.Insert(id); }
};

void DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list) {
    FindFileInTree(directory, fileName, list, false);
}

bool DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list, bool keepContents) {
    TreeWalk walk{fileName, list, keepContents, {}, {}, {}};
    platform::FileId id = platform::GetFileId(directory.Text().GetCharString());
    walk.Enter(id);
    WalkDirectory(directory, id, walk);
    if (!keepContents) return !walk.startUnreadable;
    // The list grows once, to its final length.
    std::size_t length = list.GetLength();
    for (std::string_view hit : walk.hits) length += hit.size() + 1;
    list.Reserve(static_cast<unsigned>(std::min<std::size_t>(length, UINT32_MAX)));
    for (std::string_view hit : walk.hits) list.AddItem(hit, kListDelimiter);
    return !walk.startUnreadable;
}

// Records the file at the candidate path, if there is one.
bool DriverSearchTool::RecordIfPresent(const PathName& candidate, TreeWalk& walk) {
    const char* path = candidate.Text().GetCharString();
    if (walk.keepContents) {
        if (platform::ReadFileBytes(path, walk.contents) != platform::ReadStatus::Read) {
            return false;
        }
        walk.hits.push_back(RememberDriverSet(candidate.Text().View(), walk.contents));
        return true;
    }
    if (!platform::Exists(path)) return false;
    walk.list.AddItem(candidate.Text(), kListDelimiter);
    return true;
}

void DriverSearchTool::WalkDirectory(const PathName& directory, const platform::FileId& id,
                                     TreeWalk& walk) {
    const PathName candidate(directory, walk.fileName.View());
    if (!platform::FullPathFits(candidate.Text().GetCharString())) {
        // Its absolute path would be cut: nothing in it can be reported or written.
        PrintLine("Skipping directory whose path is too long:" + directory.GetPath());
        return;
    }
    if (RecordIfPresent(candidate, walk)) return;

    std::vector<platform::DirEntry> entries;
    int error = 0;
    if (!platform::ListDirectory(directory.Text().GetCharString(), entries, id, &error)) {
        // Say so: a tree that cannot be read must not pass for one without sets.
        // Something that is not there, or is no directory (a media file searched
        // as a directory), holds nothing and is no directory that cannot be read.
        if (error != ENOENT && error != ENOTDIR) {
            PrintLine("Skipping directory that cannot be read:" + directory.GetPath());
        }
        walk.startUnreadable = walk.startUnreadable || walk.depth == 0;
    }

    // A file system that tells case apart may hold the file under another case.
    for (const platform::DirEntry& entry : entries) {
        if (CString::EqualsNoCase(entry.name, walk.fileName.View()) &&
            walk.fileName != entry.name.c_str()) {
            if (RecordIfPresent(PathName(directory, entry.name), walk)) return;
        }
    }

    for (const platform::DirEntry& entry : entries) {
        if (!entry.isDirectory) continue;
        const PathName subdirectory(directory, entry.name);
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
    for (std::string_view item : list.GetItemViews(kListDelimiter)) PrintLine("\t", item);
}

int DriverSearchTool::FindAllDriverSets(const PathName& root, CString& list,
                                        bool& driverPathRead) {
    PrintLine("Searching for all Driver Sets...");
    driverPathRead = FindFileInTree(root, kDescriptorName, list, true);
    list.SortItems(",");
    int count = list.GetItemCount(",");
    PrintListItems(list);
    return count;
}

int DriverSearchTool::SearchWindowsVersionSets(int number, const CString& sets, CString& list) {
    SetWindowsVersion(number);
    PrintLine("Searching for " + GetWindowsVersionName(number) + " Driver Sets...");
    int count = FilterByWindowsVersion(number, sets, list);
    PrintListItems(list);
    return count;
}

int DriverSearchTool::FilterByWindowsVersion(int number, const CString& sets, CString& list) {
    int count = 0;
    for (std::string_view set : sets.GetItemViews(kListDelimiter)) {
        if (GetDriverSetInfo(set).WindowsVersionIndex() != number) continue;
        list.AddItem(set, kListDelimiter);
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
    for (std::string_view set : sets.GetItemViews(kListDelimiter)) {
        // A substring test; an empty machine type is never contained.
        const char* supported = GetDriverSetInfo(set).Get(DriverSetInfo::SupportedSystems);
        if (machineType.IsEmpty() ||
            std::strstr(supported, machineType.GetCharString()) == nullptr) {
            continue;
        }
        list.AddItem(set, kListDelimiter);
        ++count;
    }
    return count;
}

// Keeps what a descriptor's bytes, as stored, give for the keys of its section
// "Main".
std::string_view DriverSearchTool::RememberDriverSet(std::string_view path,
                                                    const std::string& contents) {
    static const CString kSection = "Main";
    static const CString kKeys[DriverSetInfo::FieldCount] = {
        "Windows Version", "Supported Systems", "Kastrel Version", "Quillon Version",
        "Creation Date",   "Creation Time",     "BuildID"};
    std::string_view values[DriverSetInfo::FieldCount];
    IniFile::GetValues(contents.data(), contents.size(), true, kSection, kKeys, values,
                       DriverSetInfo::FieldCount, descriptorScratch_);
    return driverSets_.Add(path, values,
                           GetWindowsVersionIndex(values[DriverSetInfo::WindowsVersion]));
}

DriverSetInfo DriverSearchTool::GetDriverSetInfo(std::string_view path) {
    if (const DriverSetInfo* found = driverSets_.Find(path)) return *found;
    // Not met by the walk (the path text differs from the one found): read it now.
    // A file that cannot be read gives empty values, as an empty file does.
    std::string contents;
    platform::ReadFileBytes(std::string(path).c_str(), contents);
    RememberDriverSet(path, contents);
    return *driverSets_.Find(path);
}
