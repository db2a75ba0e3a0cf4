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
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "DriverSearchTool.h"
#include "IniFile.h"
#include "PathList.h"
#include "Platform.h"
#include "ProbeEngine.h"
#include "TreeWalk.h"
#include "WindowsVersionCatalogue.h"

namespace {

const char* const kDescriptorName = "DrvSet.ini";

const CString kListDelimiter = path_list::kDelimiter;

// The name of the environment variable that sets the requests in flight.
const char* const kInFlightVariable = "HALVARD_IN_FLIGHT";

ProbeEngine::Options EngineOptions() {
    ProbeEngine::Options options;
    options.inFlight = ProbeEngine::ParseInFlight(std::getenv(kInFlightVariable));
    return options;
}

const char* SkipMessage(TreeWalk::Skip why) {
    switch (why) {
    case TreeWalk::Skip::Comma: return "Skipping directory with a comma in its name:";
    case TreeWalk::Skip::Separator: return "Skipping directory with a backslash in its name:";
    case TreeWalk::Skip::TooLong: return "Skipping directory whose path is too long:";
    case TreeWalk::Skip::Unreadable: break;
    }
    return "Skipping directory that cannot be read:";
}

}  // namespace

// The walk's events as the tool shows and keeps them: skips are said at once,
// hits kept (with their values, when the walk reads them) for the list.
class DriverSearchTool::SearchEvents : public TreeWalk::Events {
public:
    SearchEvents(DriverSearchTool& tool, bool keepContents)
        : tool_(tool), keepContents_(keepContents) {}

    void Skipped(TreeWalk::Skip why, const PathName& directory) override {
        tool_.PrintLine(SkipMessage(why) + directory.GetPath());
    }
    void Found(const PathName& file, const std::string& contents) override {
        if (keepContents_) {
            hits.push_back(tool_.RememberDriverSet(file.Text().View(), contents));
        } else {
            copies_.emplace_back(file.Text().View());
            hits.push_back(copies_.back());
        }
    }

    std::vector<std::string_view> hits;  // paths found, as kept

private:
    DriverSearchTool& tool_;
    const bool keepContents_;
    std::deque<std::string> copies_;  // the paths of hits without values
};

TreeWalk::Outcome DriverSearchTool::FindFileInTree(const PathName& directory,
                                                   const CString& fileName, CString& list,
                                                   bool keepContents, HitOrder order) {
    SearchEvents events(*this, keepContents);
    TreeWalk walk(fileSystem, std::string(fileName.View()), keepContents, EngineOptions());
    const TreeWalk::Outcome outcome = walk.Walk(directory, events);
    if (outcome.failure.happened()) {
        PrintReadError(outcome.failure.path.c_str(), outcome.failure.error);
        return outcome;
    }
    // Sorted before the list is made, the list is made once.
    if (order == HitOrder::Path) CString::SortPathViews(events.hits);
    // The list grows once, to its final length.
    std::size_t length = list.GetLength();
    for (std::string_view hit : events.hits) length += hit.size() + 1;
    list.Reserve(static_cast<unsigned>(std::min<std::size_t>(length, UINT32_MAX)));
    for (std::string_view hit : events.hits) list.AddItem(hit, kListDelimiter);
    return outcome;
}

// A request that failed for good: what it was for and why, in the system's words.
void DriverSearchTool::PrintReadError(const char* path, int error) const {
    PrintLine(CString("Error reading:") + path + " (" + platform::ErrorText(error).c_str() + ")");
}

void DriverSearchTool::PrintListItems(const CString& list) const {
    for (std::string_view item : list.GetItemViews(kListDelimiter)) PrintLine("\t", item);
}

DriverSearchTool::SetsFound DriverSearchTool::FindAllDriverSets(const PathName& root,
                                                                CString& list) {
    PrintLine("Searching for all Driver Sets...");
    SetsFound found;
    found.walked = FindFileInTree(root, kDescriptorName, list, true, HitOrder::Path);
    if (found.walked.failure.happened()) return found;
    list.SortPathItems(kListDelimiter);  // in order already, unless list held items before
    found.count = list.GetItemCount(kListDelimiter);
    PrintListItems(list);
    return found;
}

namespace {

// Room for every item of sets: a filter's list then grows without a copy, and
// the part of the room it does not fill is never touched.
void ReserveForSubset(const CString& sets, CString& list) {
    const std::size_t room = std::size_t(list.GetLength()) + sets.GetLength() + 1;
    if (room < UINT32_MAX) list.Reserve(static_cast<unsigned>(room));
}

}  // namespace

int DriverSearchTool::SearchWindowsVersionSets(int number, const CString& sets, CString& list) {
    PrintLine("Searching for " + SetWindowsVersion(number) + " Driver Sets...");
    int count = FilterByWindowsVersion(number, sets, list);
    PrintListItems(list);
    return count;
}

int DriverSearchTool::FilterByWindowsVersion(int number, const CString& sets, CString& list) {
    ReserveForSubset(sets, list);
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
    ReserveForSubset(sets, list);
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
                       DriverSetInfo::FieldCount, descriptorScratch);
    return driverSets.Add(path, values,
                          GetWindowsVersionIndex(values[DriverSetInfo::WindowsVersion]));
}

DriverSetInfo DriverSearchTool::GetDriverSetInfo(std::string_view path) {
    if (const DriverSetInfo* found = driverSets.Find(path)) return *found;
    // Not met by the walk (the path text differs from the one found): read it now.
    // A file that cannot be read gives empty values, as an empty file does.
    std::string contents;
    int error = 0;
    fileSystem.ReadFile(std::string(path).c_str(), contents, &error, nullptr, SIZE_MAX);
    RememberDriverSet(path, contents);
    return *driverSets.Find(path);
}
