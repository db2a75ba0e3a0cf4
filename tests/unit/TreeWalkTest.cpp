// The tree walk on an in-memory file system that fails chosen calls: each kind
// of failure at each call, for a while or for good, walking alone and with
// requests in flight. A failure that passes leaves no trace; one that lasts
// ends the walk with its path and error; missing and denied are as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "MemoryFileSystem.h"
#include "TreeWalk.h"

namespace {

using FakeFileSystem = MemoryFileSystem;

// What a walk told, one line per event, in order.
struct Recorder : TreeWalk::Events {
    std::vector<std::string> lines;
    void Skipped(TreeWalk::Skip why, const PathName& directory) override {
        std::string path = directory.Text().GetCharString();
        std::replace(path.begin(), path.end(), '\\', '/');
        lines.push_back("skip " + std::to_string(static_cast<int>(why)) + " " + path);
    }
    void Found(const PathName& file, const std::string& contents) override {
        std::string path = file.Text().GetCharString();
        std::replace(path.begin(), path.end(), '\\', '/');
        lines.push_back("found " + path + " [" + contents + "]");
    }
};

// A repository: sets at r/a, r/b/c and r/b/d/e, a set in r/x/y whose descriptor
// has another case, and r/u, which holds nothing.
void MakeRepository(FakeFileSystem& files) {
    for (const char* directory :
         {"r", "r/a", "r/b", "r/b/c", "r/b/d", "r/b/d/e", "r/u", "r/x", "r/x/y"}) {
        files.Directory(directory);
    }
    files.File("r/a/DrvSet.ini", "a");
    files.File("r/b/c/DrvSet.ini", "c");
    files.File("r/b/d/e/DrvSet.ini", "e");
    files.File("r/x/y/drvset.INI", "y");
}

struct Walked {
    std::vector<std::string> lines;
    TreeWalk::Outcome outcome;
    long long paused;
};

Walked WalkRepository(const std::vector<FakeFileSystem::Fault>& faults, unsigned inFlight,
                      const RetryPolicy& policy = RetryPolicy()) {
    FakeFileSystem files;
    MakeRepository(files);
    for (const auto& fault : faults) files.Fail(fault);
    ProbeEngine::Options options;
    options.inFlight = inFlight;
    Recorder recorder;
    Walked walked;
    {
        TreeWalk walk(files, "DrvSet.ini", true, options, policy);
        walked.outcome = walk.Walk(PathName("r"), recorder);
    }
    walked.lines = recorder.lines;
    walked.paused = files.PausedMilliseconds();
    return walked;
}

using Call = FakeFileSystem::Call;

TEST(TreeWalk, FailuresByKindAndDurationAloneAndInFlight) {
    const std::vector<std::string> clean = WalkRepository({}, 1).lines;
    ASSERT_EQ(clean, (std::vector<std::string>{
                         "found r/a/DrvSet.ini [a]", "found r/b/c/DrvSet.ini [c]",
                         "found r/b/d/e/DrvSet.ini [e]", "found r/x/y/drvset.INI [y]"}));
    auto with = [&clean](std::size_t index, const std::string& line) {
        std::vector<std::string> lines = clean;
        lines[index] = line;
        return lines;
    };
    struct Case {
        const char* name;
        FakeFileSystem::Fault fault;
        std::vector<std::string> lines;  // as told
        int error;                       // of the failure the walk ends on (0: none)
        std::string path;
        bool startListed;
        long long paused;
    };
    const Case cases[] = {
        {"a descriptor that fails once is read again",
         {Call::Read, "r/b/c/DrvSet.ini", EIO, 1},
         clean,
         0,
         "",
         true,
         100},
        {"three times: the last try reads it",
         {Call::Read, "r/b/c/DrvSet.ini", ETIMEDOUT, 3},
         clean,
         0,
         "",
         true,
         2100},
        {"for good: the walk ends on it",
         {Call::Read, "r/b/c/DrvSet.ini", ENETUNREACH, -1},
         {clean[0]},
         ENETUNREACH,
         "r/b/c/DrvSet.ini",
         true,
         2100},
        {"a listing that fails twice is made again",
         {Call::List, "r/b", ECONNRESET, 2},
         clean,
         0,
         "",
         true,
         500},
        {"a listing that fails for good",
         {Call::List, "r/b/d", ENETDOWN, -1},
         {clean[0], clean[1]},
         ENETDOWN,
         "r/b/d",
         true,
         2100},
        {"the driver path's own listing, for good",
         {Call::List, "r", ENOTCONN, -1},
         {},
         ENOTCONN,
         "r",
         false,
         2100},
        {"a descriptor in the driver path, for good: no listing failed",
         {Call::Read, "r/DrvSet.ini", EIO, -1},
         {},
         EIO,
         "r/DrvSet.ini",
         true,
         2100},
        {"the descriptor a listing shows, for good",
         {Call::Read, "r/x/y/drvset.INI", EIO, -1},
         {clean[0], clean[1], clean[2]},
         EIO,
         "r/x/y/drvset.INI",
         true,
         2100},
        {"denied: a descriptor reads as empty",
         {Call::Read, "r/b/c/DrvSet.ini", EACCES, -1},
         with(1, "found r/b/c/DrvSet.ini []"),
         0,
         "",
         true,
         0},
        {"denied: a listing is skipped and said",
         {Call::List, "r/b/d", EACCES, -1},
         with(2, "skip 3 r/b/d"),
         0,
         "",
         true,
         0},
        {"missing: nothing is said", {Call::List, "r/u", ENOENT, -1}, clean, 0, "", true, 0},
    };
    for (const Case& c : cases) {
        for (unsigned inFlight : {1u, 8u}) {
            SCOPED_TRACE(std::string(c.name) + ", in flight " + std::to_string(inFlight));
            const Walked walked = WalkRepository({c.fault}, inFlight);
            EXPECT_EQ(walked.lines, c.lines);
            EXPECT_EQ(walked.outcome.failure.error, c.error);
            std::string path = walked.outcome.failure.path;
            std::replace(path.begin(), path.end(), '\\', '/');
            EXPECT_EQ(path, c.path);
            EXPECT_EQ(walked.outcome.startListed, c.startListed);
            EXPECT_EQ(walked.paused, c.paused);
        }
    }
}

TEST(TreeWalk, PausesOfARunStayWithinTheBudget) {
    // Every call under r/b fails for good: the first failure the walk meets
    // pauses up to the budget, and none after it pauses at all.
    RetryPolicy policy;
    policy.budget = std::chrono::milliseconds(600);
    const Walked walked = WalkRepository({{Call::List, "r/b", EIO, -1}}, 1, policy);
    EXPECT_EQ(walked.outcome.failure.error, EIO);
    EXPECT_EQ(walked.paused, 500);  // 100 and 400; 1,600 more would pass the budget
}

TEST(TreeWalk, ReadMadeAgainWhileFailingReadsWholeOrSaysWhy) {
    FakeFileSystem files;
    files.File("m/PRODSPEC.INI", "[Product Specification]");
    files.Fail({Call::Read, "m/PRODSPEC.INI", EIO, 2});
    std::string bytes;
    int error = -1;
    EXPECT_EQ(ReadMadeAgainWhileFailing(files, "m/PRODSPEC.INI", bytes, error),
              platform::ReadStatus::Read);
    EXPECT_EQ(bytes, "[Product Specification]");
    EXPECT_EQ(error, 0);
    files.Fail({Call::Read, "m/PRODSPEC.INI", ETIMEDOUT, -1});
    EXPECT_EQ(ReadMadeAgainWhileFailing(files, "m/PRODSPEC.INI", bytes, error),
              platform::ReadStatus::Failed);
    EXPECT_EQ(error, ETIMEDOUT);
}

}  // namespace
