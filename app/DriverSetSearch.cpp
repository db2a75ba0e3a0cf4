// Finding every DrvSet.ini below the driver path, and the Windows-version and
// machine-type filters.
//
// The walk reads each descriptor once, with the same open that tells whether it
// is there, and keeps the values the later stages need; a directory is listed
// only when it holds no descriptor. Those reads and listings are the walk's
// round trips: ProbeEngine makes them, ahead of the walk when they are slow.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "DriverSearchTool.h"
#include "IniFile.h"
#include "Platform.h"
#include "ProbeEngine.h"

namespace {

const char* const kDescriptorName = "DrvSet.ini";

const CString kListDelimiter = ",";

// The name of the environment variable that sets the requests in flight.
const char* const kInFlightVariable = "HALVARD_IN_FLIGHT";

// Whether the file is there: read whole when the walk keeps descriptors,
// otherwise an existence test.
bool Present(const char* path, bool keepContents, std::string& contents) {
    if (keepContents) return platform::ReadFileBytes(path, contents) == platform::ReadStatus::Read;
    return platform::Exists(path);
}

// One look at a directory, made by the walk or ahead of it by a worker: the
// file at its path in the directory, or else the listing, and the file under
// another case if the listing shows one (a file system that tells case apart).
void ProbeDirectory(const std::string& fileName, bool keepContents, const char* directory,
                    const char* file, const platform::FileId& id, DirectoryProbe& out) {
    out.entries.clear();
    out.complete = true;
    out.error = 0;
    if (Present(file, keepContents, out.contents)) {
        out.outcome = DirectoryProbe::Found;
        return;
    }
    out.outcome = DirectoryProbe::Listed;
    out.complete = platform::ListDirectory(directory, out.entries, id, &out.error);
    for (const platform::DirEntry& entry : out.entries) {
        if (CString::EqualsNoCase(entry.name, fileName) && entry.name != fileName) {
            const PathName variant(PathName(directory), entry.name);
            if (Present(variant.Text().GetCharString(), keepContents, out.contents)) {
                out.outcome = DirectoryProbe::FoundInListing;
                out.name = entry.name;
                out.entries.clear();
                return;
            }
        }
    }
}

// The subdirectories, from entries[from] on, of a listed directory that the walk
// will enter unless it has entered them already: those it leaves out with a
// message (a comma in the name, a path too long) are left out here too.
void SubdirectoriesAhead(const std::string& fileName, const PathName& directory,
                         const WalkOrder& order, std::vector<platform::DirEntry>& entries,
                         std::size_t from, std::vector<ProbeRequest>& children) {
    for (std::size_t index = from; index < entries.size(); ++index) {
        platform::DirEntry& entry = entries[index];
        if (!entry.isDirectory || entry.name.find(',') != std::string::npos) continue;
        const PathName subdirectory(directory, entry.name);
        const PathName file(subdirectory, fileName);
        if (!platform::FullPathFits(file.Text().GetCharString())) continue;
        if (!entry.id.valid) entry.id = platform::GetFileId(subdirectory.Text().GetCharString());
        if (!entry.id.valid) continue;
        children.push_back(ProbeRequest{subdirectory.Text().GetCharString(),
                                        file.Text().GetCharString(), entry.id,
                                        ChildOrder(order, index)});
    }
}

ProbeEngine::Options EngineOptions() {
    ProbeEngine::Options options;
    options.inFlight = ProbeEngine::ParseInFlight(std::getenv(kInFlightVariable));
    return options;
}

}  // namespace

// Walk state shared by the recursive steps of one search. Every directory
// entered is remembered, so that one reached again through a link (a loop, or
// links that reach it by many paths) is walked only once, by its first path.
// The engine makes the walk's probes, ahead of it when they are slow; the walk
// takes them in its own order and decides everything itself.
struct DriverSearchTool::TreeWalk {
    TreeWalk(const CString& searched, CString& found, bool keep)
        : fileName(searched),
          list(found),
          keepContents(keep),
          name(searched.View()),
          engine(
              [this](const char* directory, const char* file, const platform::FileId& id,
                     DirectoryProbe& out) {
                  ProbeDirectory(this->name, keepContents, directory, file, id, out);
              },
              [this](const ProbeRequest& parent, DirectoryProbe& probe,
                     std::vector<ProbeRequest>& children) {
                  if (probe.outcome != DirectoryProbe::Listed) return;
                  SubdirectoriesAhead(this->name, PathName(parent.directory.c_str()), parent.order,
                                      probe.entries, 0, children);
              },
              EngineOptions(), &visited) {}

    CString fileName;
    CString& list;
    const bool keepContents;
    const std::string name;  // fileName, for the workers
    DirectorySet visited;
    DirectoryProbe probe;                // the probe taken last; its buffers serve them all
    std::vector<std::string_view> hits;  // paths found, as kept with their values
    int depth = 0;
    bool startUnreadable = false;  // the directory the walk started in could not be listed
    // The listings the walk is in the middle of, from the start directory down,
    // each with the next entry it will look at.
    struct Listing {
        const PathName* directory;
        std::vector<platform::DirEntry>* entries;
        const WalkOrder* order;
        std::size_t next;
    };
    std::vector<Listing> listings;
    bool readingAhead = false;
    ProbeEngine engine;  // last: stopped before the rest goes

    // False for a directory entered before; an unknown identity is always new.
    bool Enter(const platform::FileId& id) { return !id.valid || visited.Insert(id); }

    // Once workers run, what the walk still has to enter of the listings it is in.
    void ReadAheadOnceWorkersRun() {
        if (readingAhead || engine.Workers() == 0) return;
        readingAhead = true;
        std::vector<ProbeRequest> ahead;
        for (Listing& listing : listings) {
            SubdirectoriesAhead(name, *listing.directory, *listing.order, *listing.entries,
                                listing.next, ahead);
        }
        engine.Queue(ahead);
    }
};

void DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list) {
    FindFileInTree(directory, fileName, list, false);
}

bool DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list, bool keepContents) {
    TreeWalk walk(fileName, list, keepContents);
    platform::FileId id = platform::GetFileId(directory.Text().GetCharString());
    walk.Enter(id);
    WalkDirectory(directory, id, WalkOrder(), walk);
    if (!keepContents) return !walk.startUnreadable;
    // The list grows once, to its final length.
    std::size_t length = list.GetLength();
    for (std::string_view hit : walk.hits) length += hit.size() + 1;
    list.Reserve(static_cast<unsigned>(std::min<std::size_t>(length, UINT32_MAX)));
    for (std::string_view hit : walk.hits) list.AddItem(hit, kListDelimiter);
    return !walk.startUnreadable;
}

// Records the file found at the path, with the contents read.
void DriverSearchTool::Record(const PathName& path, TreeWalk& walk) {
    if (walk.keepContents) {
        walk.hits.push_back(RememberDriverSet(path.Text().View(), walk.probe.contents));
    } else {
        walk.list.AddItem(path.Text(), kListDelimiter);
    }
}

void DriverSearchTool::WalkDirectory(const PathName& directory, const platform::FileId& id,
                                     const WalkOrder& order, TreeWalk& walk) {
    const PathName candidate(directory, walk.fileName.View());
    if (!platform::FullPathFits(candidate.Text().GetCharString())) {
        // Its absolute path would be cut: nothing in it can be reported or written.
        PrintLine("Skipping directory whose path is too long:" + directory.GetPath());
        return;
    }
    walk.engine.Take(directory.Text().GetCharString(), candidate.Text().GetCharString(), id, order,
                     walk.probe);
    walk.ReadAheadOnceWorkersRun();
    if (walk.probe.outcome == DirectoryProbe::Found) {
        Record(candidate, walk);
        return;
    }

    if (!walk.probe.complete) {
        // Say so: a tree that cannot be read must not pass for one without sets.
        // Something that is not there, or is no directory (a media file searched
        // as a directory), holds nothing and is no directory that cannot be read.
        const int error = walk.probe.error;
        if (error != ENOENT && error != ENOTDIR) {
            PrintLine("Skipping directory that cannot be read:" + directory.GetPath());
        }
        walk.startUnreadable = walk.startUnreadable || walk.depth == 0;
    }

    // A file system that tells case apart may hold the file under another case.
    if (walk.probe.outcome == DirectoryProbe::FoundInListing) {
        Record(PathName(directory, walk.probe.name), walk);
        return;
    }

    std::vector<platform::DirEntry> entries = std::move(walk.probe.entries);
    const std::size_t listing = walk.listings.size();
    walk.listings.push_back(TreeWalk::Listing{&directory, &entries, &order, 0});
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const platform::DirEntry& entry = entries[index];
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
        walk.listings[listing].next = index + 1;
        ++walk.depth;
        WalkDirectory(subdirectory, subdirectoryId, ChildOrder(order, index), walk);
        --walk.depth;
    }
    walk.listings.pop_back();
}

void DriverSearchTool::PrintListItems(const CString& list) const {
    for (std::string_view item : list.GetItemViews(kListDelimiter)) PrintLine("\t", item);
}

int DriverSearchTool::FindAllDriverSets(const PathName& root, CString& list, bool& driverPathRead) {
    PrintLine("Searching for all Driver Sets...");
    driverPathRead = FindFileInTree(root, kDescriptorName, list, true);
    list.SortPathItems(",");
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
