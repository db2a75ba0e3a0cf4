#include "TreeWalk.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include "CString.h"
#include "PathList.h"

namespace {

class RealFileSystem : public WalkFileSystem {
public:
    platform::ReadStatus ReadFile(const char* path, std::string& bytes, int* error,
                                  platform::FileId* file, std::size_t limit) override {
        return platform::ReadFileBytes(path, bytes, error, file, limit);
    }
    bool ListDirectory(const char* directory, std::vector<platform::DirEntry>& entries,
                       const platform::FileId& hint, int* error, platform::FileId* self) override {
        return platform::ListDirectory(directory, entries, hint, error, self);
    }
    platform::FileId GetFileId(const char* path) override { return platform::GetFileId(path); }
    bool FullPathFits(const char* path) override { return platform::FullPathFits(path); }
    bool IsDirectory(const char* path) override { return platform::IsDirectory(path); }
    bool Exists(const char* path) override { return platform::Exists(path); }
    void Pause(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
};

bool Failed(int error) { return platform::KindOfError(error) == platform::ErrorKind::Failed; }

// The entry of a listing that is the file: the name asked for, else the first
// under another case (a file system that tells case apart); null for none.
const platform::DirEntry* FileInListing(const std::vector<platform::DirEntry>& entries,
                                        const std::string& fileName) {
    const platform::DirEntry* variant = nullptr;
    for (const platform::DirEntry& entry : entries) {
        if (entry.name == fileName) return &entry;
        if (variant == nullptr && CString::EqualsNoCase(entry.name, fileName)) variant = &entry;
    }
    return variant;
}

// A name the path texts would split: on POSIX a backslash in a name (archives
// unpacked on Linux make such names) reads as a separator.
bool HoldsSeparator(const std::string& name) {
    return std::any_of(name.begin(), name.end(), platform::IsSeparator);
}

// Makes a call (which returns an error number, 0 for none) again while it
// fails as a request, after the policy's pauses, as long as the pauses of the
// run (paused, shared by every thread) stay within its budget.
template <class Call>
int MadeAgainWhileFailing(WalkFileSystem& fileSystem, const RetryPolicy& policy,
                          std::atomic<long long>& paused, Call call) {
    int error = call();
    for (const std::chrono::milliseconds pause : policy.pauses) {
        if (!Failed(error)) return error;
        if (paused.fetch_add(pause.count()) + pause.count() > policy.budget.count()) {
            return error;  // the run has waited long enough: this failure stands
        }
        fileSystem.Pause(pause);
        error = call();
    }
    return error;
}

}  // namespace

platform::ReadStatus ReadMadeAgainWhileFailing(WalkFileSystem& fileSystem, const char* path,
                                               std::string& bytes, int& error,
                                               const RetryPolicy& policy) {
    std::atomic<long long> paused{0};
    platform::ReadStatus status = platform::ReadStatus::Missing;
    error = MadeAgainWhileFailing(fileSystem, policy, paused, [&] {
        int failure = 0;
        status = fileSystem.ReadFile(path, bytes, &failure, nullptr, SIZE_MAX);
        return failure;
    });
    return status;
}

WalkFileSystem& WalkFileSystem::Real() {
    static RealFileSystem real;
    return real;
}

// The listings the walk is in the middle of, each with the next entry it will
// look at: what is read ahead once workers start.
struct TreeWalk::Listing {
    const PathName* directory;
    std::vector<platform::DirEntry>* entries;
    const WalkOrder* order;
    std::size_t next;
};

TreeWalk::TreeWalk(WalkFileSystem& fileSystem, std::string fileName, bool readFiles,
                   const ProbeEngine::Options& options, const RetryPolicy& retries)
    : fileSystem_(fileSystem),
      fileName_(std::move(fileName)),
      readFiles_(readFiles),
      retries_(retries),
      engine_([this](const char* directory, const char* file, const platform::FileId& id,
                     std::size_t readLimit,
                     DirectoryProbe& out) { Probe(directory, file, id, readLimit, out); },
              [this](const ProbeRequest& parent, DirectoryProbe& probe,
                     std::vector<ProbeRequest>& children) {
                  if (probe.outcome != DirectoryProbe::Listed || probe.failed != 0) return;
                  Ahead(PathName(parent.directory.c_str()), parent.order, probe.entries, 0,
                        children);
              },
              options, &entered_.Set()) {}

TreeWalk::~TreeWalk() = default;

template <class Call>
int TreeWalk::Retried(Call call) {
    return MadeAgainWhileFailing(fileSystem_, retries_, pausedMilliseconds_, call);
}

// One look at a directory, made by the walk or ahead of it by a worker: the
// file at its path in the directory, or else the listing, and the file the
// listing shows if it shows one under the name asked for or another case. A
// file that cannot be opened there (a directory that can be listed but not
// entered) is there all the same, and reads as empty.
void TreeWalk::Probe(const char* directory, const char* file, const platform::FileId& id,
                     std::size_t readLimit, DirectoryProbe& out) {
    out.entries.clear();
    out.complete = true;
    out.error = 0;
    out.failed = 0;
    out.self = platform::FileId();
    // Only whether it is there, when the walk reads no files: any size will do.
    const std::size_t limit = readFiles_ ? readLimit : 0;
    platform::ReadStatus status = platform::ReadStatus::Missing;
    platform::FileId fileId;
    int readError = 0;
    auto read = [&](const char* path) {
        return [&, path] {
            status = fileSystem_.ReadFile(path, out.contents, &readError, &fileId, limit);
            return status == platform::ReadStatus::Failed ? readError : 0;
        };
    };
    auto fail = [&out](int error, const char* path) {
        out.failed = error;
        out.failedPath = path;
    };
    if (int error = Retried(read(file))) return fail(error, file);
    if (status != platform::ReadStatus::Missing) {
        const bool there = status == platform::ReadStatus::Read || !readFiles_;
        out.outcome = there ? DirectoryProbe::Found : DirectoryProbe::LeftToWalk;
        if (!readFiles_) out.contents.clear();
        // A descriptor on another device than the directory's identity says: the
        // identity was a listing's hint at a mount point, so the directory is asked.
        if (fileId.valid && id.valid && fileId.device != id.device) {
            out.self = fileSystem_.GetFileId(directory);
        }
        return;
    }
    out.outcome = DirectoryProbe::Listed;
    const int listingError = Retried([&] {
        out.complete = fileSystem_.ListDirectory(directory, out.entries, id, &out.error, &out.self);
        return out.complete ? 0 : out.error;
    });
    if (Failed(listingError)) return fail(listingError, directory);
    const platform::DirEntry* entry = FileInListing(out.entries, fileName_);
    if (entry == nullptr) return;
    const bool exact = entry->name == fileName_;
    const PathName variant(PathName(directory), entry->name);
    const char* path = exact ? file : variant.c_str();
    if (int error = Retried(read(path))) return fail(error, path);
    if (status == platform::ReadStatus::Missing &&
        platform::KindOfError(readError) == platform::ErrorKind::Missing) {
        return;  // gone since it was listed
    }
    if (!readFiles_) out.contents.clear();
    out.outcome = status == platform::ReadStatus::TooLarge && readFiles_
                      ? DirectoryProbe::LeftToWalk
                  : exact ? DirectoryProbe::Found
                          : DirectoryProbe::FoundInListing;
    out.name = entry->name;
    out.entries.clear();
}

// The subdirectories, from entries[from] on, of a listed directory that the walk
// will enter unless it has entered them already: those it leaves out with a
// message (a comma or a separator in the name, a path too long) are left out
// here too.
void TreeWalk::Ahead(const PathName& directory, const WalkOrder& order,
                     std::vector<platform::DirEntry>& entries, std::size_t from,
                     std::vector<ProbeRequest>& children) {
    for (std::size_t index = from; index < entries.size(); ++index) {
        platform::DirEntry& entry = entries[index];
        if (!entry.isDirectory || !path_list::NameFitsAnItem(entry.name) ||
            HoldsSeparator(entry.name)) {
            continue;
        }
        const PathName subdirectory(directory, entry.name);
        const PathName file(subdirectory, fileName_);
        if (!fileSystem_.FullPathFits(file.c_str())) continue;
        if (!entry.id.valid) entry.id = fileSystem_.GetFileId(subdirectory.c_str());
        if (!entry.id.valid) continue;
        children.push_back(
            ProbeRequest{subdirectory.c_str(), file.c_str(), entry.id, ChildOrder(order, index)});
    }
}

// Once workers run, what the walk still has to enter of the listings it is in.
void TreeWalk::ReadAheadOnceWorkersRun() {
    if (readingAhead_ || engine_.Workers() == 0) return;
    readingAhead_ = true;
    std::vector<ProbeRequest> ahead;
    for (Listing& listing : listings_) {
        Ahead(*listing.directory, *listing.order, *listing.entries, listing.next, ahead);
    }
    engine_.Queue(ahead);
}

// Whether the walk can enter the directory: its absolute path, with the file's
// name, fits the platform's limit. Otherwise it says so.
bool TreeWalk::Fits(const PathName& directory, const PathName& candidate) {
    if (fileSystem_.FullPathFits(candidate.c_str())) return true;
    // Its absolute path would be cut: nothing in it can be reported or written.
    events_->Skipped(Skip::TooLong, directory);
    return false;
}

TreeWalk::Outcome TreeWalk::Walk(const PathName& start, Events& events) {
    events_ = &events;
    outcome_ = Outcome();
    const platform::FileId id = fileSystem_.GetFileId(start.c_str());
    const PathName candidate(start, fileName_);
    if (Fits(start, candidate)) {
        entered_.Enter(id);
        Enter(start, candidate, id, id, WalkOrder());
    }
    return outcome_;
}

bool TreeWalk::Enter(const PathName& directory, const PathName& candidate,
                     const platform::FileId& key, const platform::FileId& id,
                     const WalkOrder& order) {
    engine_.Take(directory.c_str(), candidate.c_str(), key, order, probe_);
    ReadAheadOnceWorkersRun();
    if (probe_.failed != 0) {
        outcome_.failure = WalkFailure{probe_.failed, probe_.failedPath};
        // The start directory's own listing failed: it could not be read at all.
        if (depth_ == 0 && probe_.failedPath == directory.c_str()) {
            outcome_.startListed = false;
        }
        return false;
    }
    // Opened, it may show another identity than the one it was entered under:
    // one entered before is left, as if met as such.
    if (!entered_.Confirm(id, probe_.self)) return true;
    if (probe_.outcome == DirectoryProbe::Found) {
        events_->Found(candidate, probe_.contents);
        return true;
    }
    if (!probe_.complete) {
        // Say so: a tree that cannot be read must not pass for one without sets.
        // Something that is not there, or is no directory (a media file searched
        // as a directory), holds nothing and is no directory that cannot be read.
        if (platform::KindOfError(probe_.error) != platform::ErrorKind::Missing) {
            events_->Skipped(Skip::Unreadable, directory);
        }
        outcome_.startListed = outcome_.startListed && depth_ > 0;
    }
    // A file system that tells case apart may hold the file under another case.
    if (probe_.outcome == DirectoryProbe::FoundInListing) {
        events_->Found(PathName(directory, probe_.name), probe_.contents);
        return true;
    }
    // The listing stays with this directory while the walk goes down; the probe
    // gets a spare buffer whose room serves the listings below.
    std::vector<platform::DirEntry> entries;
    if (!spareEntries_.empty()) {
        entries.swap(spareEntries_.back());
        spareEntries_.pop_back();
    }
    entries.swap(probe_.entries);
    const bool goOn = EnterSubdirectories(directory, order, entries);
    entries.clear();
    spareEntries_.push_back(std::move(entries));
    return goOn;
}

bool TreeWalk::EnterSubdirectories(const PathName& directory, const WalkOrder& order,
                                   std::vector<platform::DirEntry>& entries) {
    const std::size_t listing = listings_.size();
    listings_.push_back(Listing{&directory, &entries, &order, 0});
    bool goOn = true;
    for (std::size_t index = 0; goOn && index < entries.size(); ++index) {
        const platform::DirEntry& entry = entries[index];
        if (!entry.isDirectory) continue;
        const PathName subdirectory(directory, entry.name);
        if (!path_list::NameFitsAnItem(entry.name)) {
            // Lists are comma-delimited: such a name would split into garbage.
            events_->Skipped(Skip::Comma, subdirectory);
            continue;
        }
        if (HoldsSeparator(entry.name)) {
            // Its path text would name another directory.
            events_->Skipped(Skip::Separator, subdirectory);
            continue;
        }
        platform::FileId subdirectoryId = entry.id;
        const bool isNew = entered_.IsNew(
            subdirectoryId, [&] { return fileSystem_.GetFileId(subdirectory.c_str()); });
        // Entered only through a path that fits: a path too long leaves that path
        // out, not the directory.
        if (!isNew) continue;
        const PathName candidate(subdirectory, fileName_);
        if (!Fits(subdirectory, candidate)) continue;
        entered_.Enter(subdirectoryId);
        listings_[listing].next = index + 1;
        ++depth_;
        goOn = Enter(subdirectory, candidate, entry.id, subdirectoryId, ChildOrder(order, index));
        --depth_;
    }
    listings_.pop_back();
    return goOn;
}
