// Finding every DrvSet.ini below the driver path, and the Windows-version and
// machine-type filters.
//
// The walk reads each descriptor once, with the same open that tells whether it
// is there, and keeps the values the later stages need; a directory is listed
// only when it holds no descriptor.
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <string>
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

// The directories a walk has entered, by identity: a flat open-addressing set,
// as tens of thousands of directories are entered.
class DirectorySet {
public:
    DirectorySet() : slots_(1024) {}

    // False when the identity was there already.
    bool Insert(const platform::FileId& id) {
        Slot* slot = Locate(id);
        if (slot->used) return false;
        *slot = {id.device, id.inode, true};
        if (++count_ * 2 > slots_.size()) Grow();
        return true;
    }

private:
    struct Slot {
        uint64_t device = 0;
        uint64_t inode = 0;
        bool used = false;
    };

    static std::size_t Hash(uint64_t device, uint64_t inode) {
        uint64_t hash = (inode ^ (device * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
        return static_cast<std::size_t>(hash ^ (hash >> 32));
    }

    Slot* Locate(const platform::FileId& id) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t index = Hash(id.device, id.inode) & mask;; index = (index + 1) & mask) {
            Slot& slot = slots_[index];
            if (!slot.used || (slot.device == id.device && slot.inode == id.inode)) return &slot;
        }
    }

    void Grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.used) *Locate({slot.device, slot.inode, true}) = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

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
    int depth = 0;
    bool startUnreadable = false;  // the directory the walk started in could not be listed

    // False for a directory entered before; an unknown identity is always new.
    bool Enter(const platform::FileId& id) { return !id.valid || visited.Insert(id); }
};

void DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list) {
    FindFileInTree(directory, fileName, list, false);
}

void DriverSearchTool::FindFileInTree(const PathName& directory, const CString& fileName,
                                      CString& list, bool keepContents) {
    TreeWalk walk{fileName, list, keepContents, {}, {}};
    platform::FileId id = platform::GetFileId(directory.Text().GetCharString());
    walk.Enter(id);
    WalkDirectory(directory, id, walk);
    if (keepContents) driverPathUnreadable_ = walk.startUnreadable;
}

// Records the file at the candidate path, if there is one.
bool DriverSearchTool::TakeHit(const PathName& candidate, TreeWalk& walk) {
    const char* path = candidate.Text().GetCharString();
    if (walk.keepContents) {
        if (platform::ReadFileBytes(path, walk.contents) != platform::ReadStatus::Read) {
            return false;
        }
        RememberDriverSet(candidate.Text().View(), walk.contents);
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
    for (std::string_view item : list.GetItemViews(",")) PrintLine("\t", item);
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
    for (std::string_view set : sets.GetItemViews(",")) {
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
    for (std::string_view set : sets.GetItemViews(",")) {
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

const char* DriverSetInfo::Get(Field field) const {
    if (values_ == nullptr) return "";
    const char* value = values_;
    for (int skipped = 0; skipped < field; ++skipped) value += std::strlen(value) + 1;
    return value;
}

DriverSetStore::DriverSetStore() : slots_(1024, 0) {}

// Eight bytes at a time, multiplied and folded: paths share long prefixes, so
// every byte must count, and tens of thousands of lookups must stay cheap.
uint64_t DriverSetStore::Hash(std::string_view path) {
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ path.size();
    const char* bytes = path.data();
    std::size_t left = path.size();
    for (; left >= 8; left -= 8, bytes += 8) {
        uint64_t word;
        std::memcpy(&word, bytes, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, bytes, left);
    hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 29);
}

// The slot holding the path, or the empty slot where it would go.
std::size_t DriverSetStore::SlotOf(std::string_view path, uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const uint32_t entry = slots_[slot];
        if (entry == 0) return slot;
        const Record& record = records_[entry - 1];
        if (record.hash == hash && std::string_view(record.path, record.length) == path) {
            return slot;
        }
    }
}

const DriverSetInfo* DriverSetStore::Find(std::string_view path) const {
    const uint32_t entry = slots_[SlotOf(path, Hash(path))];
    return entry == 0 ? nullptr : &records_[entry - 1].info;
}

// Room for length bytes in the current block, or in a new one.
char* DriverSetStore::Keep(std::size_t length) {
    if (length > blockLeft_) {
        const std::size_t size = std::max<std::size_t>(length, 256 * 1024);
        blocks_.emplace_back(new char[size]);
        blockFree_ = blocks_.back().get();
        blockLeft_ = size;
    }
    char* kept = blockFree_;
    blockFree_ += length;
    blockLeft_ -= length;
    return kept;
}

void DriverSetStore::Rebuild(std::size_t slotCount) {
    slots_.assign(slotCount, 0);
    const std::size_t mask = slotCount - 1;
    for (std::size_t index = 0; index < records_.size(); ++index) {
        std::size_t slot = records_[index].hash & mask;
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = static_cast<uint32_t>(index + 1);
    }
}

void DriverSetStore::Add(std::string_view path, const std::string* values,
                         int windowsVersionIndex) {
    std::size_t total = 0;
    for (int field = 0; field < DriverSetInfo::FieldCount; ++field) total += values[field].size() + 1;
    char* kept = Keep(total);
    char* next = kept;
    for (int field = 0; field < DriverSetInfo::FieldCount; ++field) {
        std::memcpy(next, values[field].c_str(), values[field].size() + 1);
        next += values[field].size() + 1;
    }
    const DriverSetInfo info(kept, windowsVersionIndex);

    const uint64_t hash = Hash(path);
    std::size_t slot = SlotOf(path, hash);
    if (slots_[slot] != 0) {
        records_[slots_[slot] - 1].info = info;
        return;
    }
    char* keptPath = Keep(path.size());
    std::memcpy(keptPath, path.data(), path.size());
    records_.push_back({hash, keptPath, path.size(), info});
    slots_[slot] = static_cast<uint32_t>(records_.size());
    if (records_.size() * 2 > slots_.size()) Rebuild(slots_.size() * 2);
}

// Keeps the values a descriptor's bytes, as stored, give for the keys of its
// section "Main".
void DriverSearchTool::RememberDriverSet(std::string_view path, const std::string& contents) {
    static const CString kSection = "Main";
    static const CString kKeys[DriverSetInfo::FieldCount] = {
        "Windows Version", "Supported Systems", "Kastrel Version", "Quillon Version",
        "Creation Date",   "Creation Time",     "BuildID"};
    std::string* values = valueBuffers_;
    IniFile::GetValues(contents.data(), contents.size(), true, kSection, kKeys, values,
                       DriverSetInfo::FieldCount);
    driverSets_.Add(path, values,
                    GetWindowsVersionIndex(values[DriverSetInfo::WindowsVersion].c_str()));
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
