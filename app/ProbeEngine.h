// ProbeEngine: the system calls of a tree walk, with requests in flight.
//
// The walk looks at each directory once: it reads the descriptor (or tests that
// it is there), and only when there is none lists the directory. On a network
// share every such call is a round trip, and one after another they add up.
// The engine lets worker threads make those calls ahead of the walk while the
// walk itself still takes the results one by one in its own order and makes
// every decision as before: so the walk prints and finds the same, and only the
// waiting overlaps.
//
// - The walk asks for a directory's probe with Take. A result that a worker has
//   made is handed over; one that a worker is making is waited for; one that no
//   worker has started is made by the caller itself, at once. No request waits
//   for a worker to become free.
// - When a probe finds a listing, the subdirectories the walk will want (the
//   children function says which) are queued. Workers take queued requests in
//   walk order, so the next ones the walk needs come first.
// - Requests are keyed by directory identity: a directory is probed at most
//   once per engine, whatever path or link reached it, so read-ahead never
//   loops. The walk keeps its own record of the directories it entered.
// - Results made and not yet taken are bounded, in count and in bytes; workers
//   wait while the bound is reached.
// - Without a forced number of requests in flight, the engine starts with no
//   workers and times each probe the caller makes; after a run of slow ones in
//   a row (round trips of a network share, not of a warm local disk) it starts
//   its workers. A single slow probe among fast ones resets the count.
// - Started so, the workers grow while it pays (InFlightGrowth): the rate at
//   which results are made is measured over windows of results taken;
//   while the walk waited for its results, the workers double, up to a bound,
//   and once a doubling did not raise the rate by a quarter they stay as they
//   are. A share serves as many requests as are sent, but only up to what its
//   client and server keep in flight, and only while the walk itself keeps up.
// - Threads that cannot be created leave the engine with those that could
//   (none: the walk goes on alone). An exception thrown by a probe made in a
//   worker is thrown again from the Take that asks for that result.
// - Memory: with workers, a run needs at most a bounded amount more than the
//   walk alone, and never fails where the walk alone would not.
//   - Workers read a descriptor only up to their share of the bytes held
//     (maxHeldBytes / workers, at least 64 KiB); a larger one is left to the
//     walk, which reads it as it would alone. So reads in progress and results
//     held take at most 2 x maxHeldBytes, beside the listings.
//   - Each worker runs on a stack of its own (stackBytes), given back when it
//     is joined, and the threads share the main heap.
//   - Before workers start, a reserve of that bound is taken (ReserveBytes);
//     where it cannot be had, half as many are tried, down to none. Before
//     workers are added, a reserve for the new number replaces it; where it
//     cannot be had, none are added and the workers grow no more.
//   - Workers that may grow read up to the share of the largest number
//     allowed, set before the first starts and never changed.
//   - The first allocation that fails gives the reserve back; the walk then
//     stops the workers and drops what they made, and goes on alone. A worker
//     whose allocation fails after that hands its request back to the walk.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "DirectorySet.h"
#include "ErrorHandler.h"
#include "Mutex.h"
#include "Platform.h"

// What one look at a directory found.
struct DirectoryProbe {
    enum Outcome {
        Listed,          // no descriptor: the entries are the directory's listing
        Found,           // the descriptor under the name asked for (not listed)
        FoundInListing,  // listed; the listing shows the descriptor under another case
        LeftToWalk,      // made ahead: larger than read ahead, or out of memory
    };
    Outcome outcome = Listed;
    std::string name;                         // the descriptor's name, as found
    std::string contents;                     // its bytes, when the walk reads them
    std::vector<platform::DirEntry> entries;  // the listing, unless Found
    bool complete = true;                     // the listing ended without an error
    int error = 0;                            // the listing's error number otherwise
    platform::FileId self;   // the directory's own identity, where the probe learned it
    int failed = 0;          // a call that failed for good, as a request: its error number
    std::string failedPath;  // and the path it was made for

    // Memory the result holds, roughly.
    std::size_t Bytes() const;
};

// A directory's place in the walk: the indices of the entries that lead to it
// from the start directory, 4 bytes each, most significant first. Compared as
// byte strings, places sort in walk order (a directory before what lies below
// it, below it before its next sibling).
using WalkOrder = std::string;
WalkOrder ChildOrder(const WalkOrder& parent, std::size_t index);

struct ProbeRequest {
    std::string directory;
    std::string file;  // the path of the descriptor looked for first
    platform::FileId id;
    WalkOrder order;
};

// How many requests to keep in flight, from the rate at which results are
// made, window by window. The first window after a doubling tells whether
// it paid: a rate less than gain times the one before ends the growth for good.
// A window in which the walk did not wait for its results (they were made
// before it asked) does not grow them: more in flight would not be taken sooner.
class InFlightGrowth {
public:
    InFlightGrowth(unsigned bound, double gain) : bound_(bound), gain_(gain) {}
    // The end of a window at count workers, with the rate of results made (per
    // second) and whether the walk waited for them; the count to go on with.
    unsigned Next(unsigned count, double rate, bool waited);
    bool Stopped() const { return stopped_; }

private:
    unsigned bound_;
    double gain_;
    double rateBefore_ = 0;  // the rate of the window that decided the last doubling
    bool judging_ = false;   // the next window tells whether that doubling paid
    bool stopped_ = false;
};

class ProbeEngine {
public:
    // Looks at one directory. Called by workers and the caller, concurrently.
    // A descriptor larger than readLimit is not read: the outcome is LeftToWalk.
    using ProbeFunction =
        std::function<void(const char* directory, const char* file, const platform::FileId& id,
                           std::size_t readLimit, DirectoryProbe& out)>;
    // The subdirectories of a listed directory that the walk will probe, as
    // requests with valid identities. May fill in the identities of entries.
    using ChildrenFunction = std::function<void(const ProbeRequest& parent, DirectoryProbe& probe,
                                                std::vector<ProbeRequest>& children)>;
    using Clock = std::chrono::steady_clock;

    struct Options {
        unsigned inFlight = 0;           // 0: start alone, adaptively; 1: alone; n: n workers
        unsigned adaptiveInFlight = 32;  // workers started when probes are found slow
        // A probe on a warm local disk takes 5 to 25 us, now and then a few hundred
        // when the thread is preempted, never several in a row; one on a share at
        // least one round trip (0.2 ms and more).
        std::chrono::nanoseconds slowProbe = std::chrono::microseconds(150);
        unsigned slowRun = 8;  // slow probes in a row that start the workers
        // Growth of the workers started adaptively: up to maxInFlight, judged
        // over windows of results taken: growthWindow, or growthRoundTrips times
        // the workers where that is more, so that a window spans as many round
        // trips whatever the number in flight (at 256, a window of 256 would be
        // one, and the start of the new workers would decide it).
        unsigned maxInFlight = 256;
        std::size_t growthWindow = 256;
        std::size_t growthRoundTrips = 8;
        double growthGain = 1.25;
        // Results made or being made and not yet taken: room for those the walk
        // needs next beside what 256 workers read ahead of it, or the walk
        // meets requests nobody could start and makes them itself, one by one.
        std::size_t maxHeld = 4096;
        std::size_t maxHeldBytes = std::size_t(16) << 20;
        std::size_t stackBytes = std::size_t(256) << 10;  // of each worker
        Clock::time_point (*now)() = &Clock::now;
        bool (*growReserve)(std::size_t bytes) = &GrowMemoryReserve;
    };

    // The number of requests in flight a text asks for (an environment value):
    // 1 to 256; 0 for no text, or one that is no such number (adaptive).
    static unsigned ParseInFlight(const char* text);

    // entered: the directories the walk has entered so far, when it keeps a set
    // of them; read when the workers start late, so that none is probed again.
    ProbeEngine(ProbeFunction probe, ChildrenFunction children, const Options& options,
                const DirectorySet* entered = nullptr);
    ~ProbeEngine();  // stops the workers and waits for them
    ProbeEngine(const ProbeEngine&) = delete;
    ProbeEngine& operator=(const ProbeEngine&) = delete;

    // The probe of a directory (its identity id, its place order, file the
    // descriptor's path in it), into out. An invalid id is probed by the caller
    // and never shared.
    void Take(const char* directory, const char* file, const platform::FileId& id,
              const WalkOrder& order, DirectoryProbe& out);

    // Requests the walk will make later, to be read ahead while workers run.
    void Queue(std::vector<ProbeRequest>& requests) EXCLUDES(mutex_);

    unsigned Workers() const { return workerCount_.load(); }

    // The memory that count workers may take beyond the walk alone, at most.
    static std::size_t ReserveBytes(unsigned count, const Options& options);

private:
    enum class State { Queued, Running, Done };
    struct Slot {
        State state = State::Queued;
        ProbeRequest request;
        DirectoryProbe result;
        std::exception_ptr failure;
    };
    // Requests by directory identity (device and file number, hints or not).
    using SlotMap =
        std::unordered_map<platform::FileId, Slot, platform::FileIdHash, platform::FileIdEqual>;
    using QueueMap = std::map<WalkOrder, Slot*>;
    // A request's entries in the table and in the queue, made before the lock is
    // taken: under it, they are only linked in (or left to be freed after it).
    struct Staged {
        SlotMap::node_type slot;
        QueueMap::node_type place;
    };
    // Makes the entries, one request at a time, in maps of its own.
    class Stager {
    public:
        std::vector<Staged>& Stage(std::vector<ProbeRequest>& requests);

    private:
        SlotMap slots_;
        QueueMap places_;
        std::vector<Staged> staged_;
    };
    // What the walk found of a request among the workers': the slot taken out of
    // the table (freed by the walk after the lock), and what the worker made.
    struct Claim {
        SlotMap::node_type node;  // empty when the request was never queued
        bool made = false;        // a worker made the result, now in the walk's hands
        bool waited = false;      // the walk waited while it was made
        bool roomMade = false;    // taking it made room for a waiting worker
        std::exception_ptr failure;
    };

    // mayGrow: workers may be added later, up to maxInFlight.
    void StartWorkers(unsigned count, bool mayGrow);
    // Up to count workers in all; false when no more threads could be made.
    bool AddWorkers(unsigned count);
    // Stops the workers and drops what they made: the walk goes on alone.
    void StopWorkers() EXCLUDES(mutex_);

    // Take, the walk alone: times the probe while the start is adaptive.
    void TakeAlone(const char* directory, const char* file, const platform::FileId& id,
                   const WalkOrder& order, DirectoryProbe& out);
    // After a run of slow probes: starts the workers, to read ahead below here.
    void StartAfterSlowProbes(const char* directory, const char* file, const platform::FileId& id,
                              const WalkOrder& order, DirectoryProbe& out) EXCLUDES(mutex_);
    // Take, with workers. True when the walk waited for the result (made it, or
    // waited while a worker made it).
    bool TakeFromWorkers(const char* directory, const char* file, const platform::FileId& id,
                         const WalkOrder& order, DirectoryProbe& out);
    // Take, with workers that may grow: the walk's waits count toward the window.
    void TakeWhileGrowing(const char* directory, const char* file, const platform::FileId& id,
                          const WalkOrder& order, DirectoryProbe& out);
    // The slot of a valid identity, out of the table, its result (if made) in out.
    Claim ClaimSlot(const platform::FileId& id, DirectoryProbe& out) EXCLUDES(mutex_);
    // Counts a result taken toward the window; grows the workers at its end.
    void NoteTaken() EXCLUDES(mutex_);
    // The caller's own probe; queues the children when workers run.
    void ProbeHere(const char* directory, const char* file, const platform::FileId& id,
                   const WalkOrder& order, DirectoryProbe& out);
    // Queues the subdirectories of a probed directory that the walk will want.
    void QueueChildren(const ProbeRequest& parent, DirectoryProbe& probe);

    static void WorkerMain(void* engine);
    void WorkerLoop() EXCLUDES(mutex_);
    // A worker's probe of a running slot's request, made without the lock.
    void MakeResult(const ProbeRequest& request, DirectoryProbe& result,
                    std::exception_ptr& failure, std::vector<ProbeRequest>& children);
    bool WorkAvailable() const REQUIRES(mutex_);
    // Returns the number of requests newly queued.
    // The entries not linked in stay in staged, to be freed after the lock.
    std::size_t Enqueue(std::vector<Staged>& staged) REQUIRES(mutex_);
    void WakeWorkers(std::size_t count);

    // Set before the workers start (or while none runs) and only read by them.
    ProbeFunction probe_;
    ChildrenFunction children_;
    Options options_;
    std::size_t readLimit_ = SIZE_MAX;  // of a descriptor read by a worker
    // The caller's alone.
    const DirectorySet* entered_;
    bool adaptive_;
    unsigned slowInARow_ = 0;
    InFlightGrowth growth_;
    bool growing_ = false;
    std::size_t windowTaken_ = 0;
    std::size_t windowMade_ = 0;      // the results made when the window began
    std::size_t madeHere_ = 0;        // by the caller
    Clock::duration windowWaited_{};  // the walk's time in takes that waited
    Clock::time_point windowStart_;
    std::vector<std::unique_ptr<platform::Thread>> workers_;
    std::atomic<unsigned> workerCount_{0};  // for every thread
    Stager stager_;                         // the caller's

    // Shared by the caller and the workers.
    Mutex mutex_;
    CondVar workReady_;    // workers: a request queued, room freed, stop
    CondVar resultReady_;  // the caller: the result it waits for made
    const Slot* awaited_ GUARDED_BY(mutex_) = nullptr;  // the slot the caller waits for
    SlotMap slots_ GUARDED_BY(mutex_);
    QueueMap queue_ GUARDED_BY(mutex_);
    DirectorySet seen_ GUARDED_BY(mutex_);          // every identity ever queued or probed
    std::size_t held_ GUARDED_BY(mutex_) = 0;       // slots running or done
    std::size_t heldBytes_ GUARDED_BY(mutex_) = 0;  // bytes of the done ones
    std::size_t made_ GUARDED_BY(mutex_) = 0;       // results made by workers
    bool stopping_ GUARDED_BY(mutex_) = false;
};
