// TreeWalk: the search for a file of one name below a directory, over a file
// system a test can replace.
//
// A directory that holds the file is a hit and is not searched further; any
// other directory is listed and its subdirectories are searched in listing
// order. Each directory is looked at once (its probe: the file, else the
// listing), through a ProbeEngine that makes probes ahead of the walk when they
// are slow; the walk takes them in its own order and decides everything itself.
// A directory reached again (a link, a loop, a mount reached twice) is searched
// once, by the rule of EnteredDirectories.
//
// Failures, by their kind (platform::ErrorKind):
// - missing: the thing is not there; nothing is said;
// - denied: a file is read as empty, a directory that cannot be listed is
//   skipped with a line;
// - failed (a request a share dropped): the call is made again, up to three
//   times after growing pauses, within a budget of pauses for the whole run.
//   One that still fails ends the walk with that failure: the caller reports it
//   and must not take what was found for an answer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "DirectorySet.h"
#include "PathName.h"
#include "Platform.h"
#include "ProbeEngine.h"

// The calls a search makes of a file system (the walk's, and the checks of the
// paths typed); Real() is the platform's own. Every call may be made from
// several threads at once.
class WalkFileSystem {
public:
    virtual ~WalkFileSystem() = default;
    virtual platform::ReadStatus ReadFile(const char* path, std::string& bytes, int* error,
                                          platform::FileId* file, std::size_t limit) = 0;
    virtual bool ListDirectory(const char* directory, std::vector<platform::DirEntry>& entries,
                               const platform::FileId& hint, int* error,
                               platform::FileId* self) = 0;
    virtual platform::FileId GetFileId(const char* path) = 0;
    virtual bool FullPathFits(const char* path) = 0;
    virtual bool IsDirectory(const char* path) = 0;  // or a link to one
    virtual bool Exists(const char* path) = 0;
    // The pause before a call is made again.
    virtual void Pause(std::chrono::milliseconds time) = 0;

    static WalkFileSystem& Real();
};

// How often, and after which pauses, a failed call is made again.
struct RetryPolicy {
    std::chrono::milliseconds pauses[3] = {std::chrono::milliseconds(100),
                                           std::chrono::milliseconds(400),
                                           std::chrono::milliseconds(1600)};
    std::chrono::milliseconds budget = std::chrono::milliseconds(10000);  // pauses in one run
};

// A call that failed for good: its error number (kind Failed) and the path.
struct WalkFailure {
    int error = 0;
    std::string path;
    bool happened() const { return error != 0; }
};

// Reads a whole file, made again while it fails as a request, as the walk
// reads; error: the error number of the last try (0 when it succeeded).
platform::ReadStatus ReadMadeAgainWhileFailing(WalkFileSystem& fileSystem, const char* path,
                                               std::string& bytes, int& error,
                                               const RetryPolicy& policy = RetryPolicy());

class TreeWalk {
public:
    enum class Skip { Comma, Separator, TooLong, Unreadable };
    // What the walk meets, told as it meets it, in walk order.
    class Events {
    public:
        virtual ~Events() = default;
        virtual void Skipped(Skip why, const PathName& directory) = 0;
        // contents: the file's bytes when the walk reads files, else empty.
        virtual void Found(const PathName& file, const std::string& contents) = 0;
    };
    struct Outcome {
        bool startListed = true;  // false: the start directory could not be listed
        WalkFailure failure;      // happened(): the walk ended on it
    };

    // readFiles: read each hit whole (else only test that it is there).
    TreeWalk(WalkFileSystem& fileSystem, std::string fileName, bool readFiles,
             const ProbeEngine::Options& options, const RetryPolicy& retries = RetryPolicy());
    ~TreeWalk();
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    Outcome Walk(const PathName& start, Events& events);

private:
    struct Listing;
    void Probe(const char* directory, const char* file, const platform::FileId& id,
               std::size_t readLimit, DirectoryProbe& out);
    void Ahead(const PathName& directory, const WalkOrder& order,
               std::vector<platform::DirEntry>& entries, std::size_t from,
               std::vector<ProbeRequest>& children);
    void ReadAheadOnceWorkersRun();
    // candidate: the file's path in the directory, as the walk looks for it.
    bool Fits(const PathName& directory, const PathName& candidate);
    // False when the walk is to end (a failure).
    bool Enter(const PathName& directory, const PathName& candidate, const platform::FileId& key,
               const platform::FileId& id, const WalkOrder& order);
    bool EnterSubdirectories(const PathName& directory, const WalkOrder& order,
                             std::vector<platform::DirEntry>& entries);
    // A call made again while it fails as a request, within the run's budget.
    template <class Call>
    int Retried(Call call);

    WalkFileSystem& fileSystem_;
    const std::string fileName_;
    const bool readFiles_;
    const RetryPolicy retries_;
    std::atomic<long long> pausedMilliseconds_{0};
    Events* events_ = nullptr;
    Outcome outcome_;
    EnteredDirectories entered_;
    DirectoryProbe probe_;  // the probe taken last; its buffers serve them all
    int depth_ = 0;
    std::vector<Listing> listings_;  // the listings the walk is in, from the start down
    // Listing buffers not in use, kept with their room: one per level of the tree.
    std::vector<std::vector<platform::DirEntry>> spareEntries_;
    bool readingAhead_ = false;
    ProbeEngine engine_;  // last: stopped before the rest goes
};
