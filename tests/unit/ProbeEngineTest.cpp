// ProbeEngine with a made-up tree and a fake probe: the walk takes the same
// results in the same order whatever the requests in flight and the delays,
// also when the workers start in the middle of the walk;
// each directory is probed once; a request no worker started is made by the
// caller; results held stay bounded; failures reach the caller; the engine
// stops with work queued; the adaptive start counts slow probes in a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ErrorHandler.h"
#include "ProbeEngine.h"

namespace {

using namespace std::chrono_literals;

platform::FileId IdOf(std::size_t node) { return platform::FileId{1, node, true}; }

// A tree of directories; a node is a set (its probe finds the descriptor) or a
// listing of files and subdirectories. Some entries lead to a node that has a
// parent already: links, loops among them.
struct FakeTree {
    struct Node {
        bool isSet = false;
        bool unreadable = false;
        std::vector<std::size_t> children;  // nodes; listed with a file between each
    };
    std::vector<Node> nodes;

    static FakeTree Random(std::size_t size, unsigned seed) {
        std::mt19937 random(seed);
        FakeTree tree;
        tree.nodes.resize(size);
        for (std::size_t node = 1; node < size; ++node) {
            std::size_t parent = random() % node;
            while (tree.nodes[parent].isSet) parent = random() % node;
            tree.nodes[parent].children.push_back(node);
            tree.nodes[node].isSet = random() % 3 == 0;
            tree.nodes[node].unreadable = random() % 40 == 0;
        }
        for (int link = 0; link < 40; ++link) {
            std::size_t from = random() % size;
            if (!tree.nodes[from].isSet) tree.nodes[from].children.push_back(random() % size);
        }
        return tree;
    }

    void Probe(std::size_t node, DirectoryProbe& out) const {
        out = DirectoryProbe();
        if (nodes[node].isSet) {
            out.outcome = DirectoryProbe::Found;
            out.contents = "set " + std::to_string(node);
            return;
        }
        for (std::size_t child : nodes[node].children) {
            out.entries.push_back({"f" + std::to_string(child), false, {}});
            out.entries.push_back({"d" + std::to_string(child), true, IdOf(child)});
        }
        if (nodes[node].unreadable) {
            out.complete = false;
            out.error = EACCES;
        }
    }
};

void ListedSubdirectories(const ProbeRequest& parent, DirectoryProbe& probe,
                          std::vector<ProbeRequest>& children) {
    if (probe.outcome != DirectoryProbe::Listed) return;
    for (std::size_t index = 0; index < probe.entries.size(); ++index) {
        const platform::DirEntry& entry = probe.entries[index];
        if (!entry.isDirectory) continue;
        children.push_back(
            {parent.directory + "/" + entry.name, "", entry.id, ChildOrder(parent.order, index)});
    }
}

// Counts the probes of every node and who made them.
struct ProbeLog {
    explicit ProbeLog(std::size_t size) : counts(size) {
        for (auto& count : counts) count = 0;
    }
    std::vector<std::atomic<int>> counts;
    std::atomic<int> byWorkers{0};
    std::thread::id caller = std::this_thread::get_id();

    void Note(std::size_t node) {
        ++counts[node];
        if (std::this_thread::get_id() != caller) ++byWorkers;
    }
};

// Which directory the walk is taking now, for probes that must not end before
// the walk asks for theirs: on a fake clock the walk then costs nothing, and a
// machine that holds the walk back between takes cannot look like results made
// sooner than asked for. Asking is a store that wakes no one (a woken thread
// could take the walk's processor before the walk reaches its wait); the probe
// waiting for its turn yields until it comes.
class WalkTurn {
public:
    void Ask(std::size_t node) { asked_ = node; }
    void Finish() { asked_ = kAll; }
    // Bounded, so that a fault shows as a failure rather than a hang.
    void AwaitAsked(std::size_t node) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (asked_ != node && asked_ != kAll && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    }

private:
    static constexpr std::size_t kAll = SIZE_MAX;
    std::atomic<std::size_t> asked_{0};
};

// The walk as the tool makes it: results taken in walk order, each directory
// entered once, and once workers run, the rest of the listings it is in handed
// to them; records what it met, in order.
struct TestWalk {
    explicit TestWalk(ProbeEngine& e) : engine(e) {}

    void Enter(std::size_t node, const std::string& path, const WalkOrder& order) {
        DirectoryProbe probe;
        if (turn != nullptr) turn->Ask(node);
        engine.Take(path.c_str(), "", IdOf(node), order, probe);
        if (!readingAhead && engine.Workers() > 0) {
            readingAhead = true;
            std::vector<ProbeRequest> ahead;
            for (const Listing& listing : listings) {
                for (std::size_t index = listing.next; index < listing.entries->size(); ++index) {
                    const platform::DirEntry& entry = (*listing.entries)[index];
                    if (!entry.isDirectory) continue;
                    ahead.push_back({listing.path + "/" + entry.name, "", entry.id,
                                     ChildOrder(listing.order, index)});
                }
            }
            engine.Queue(ahead);
        }
        met.push_back(path + (probe.outcome == DirectoryProbe::Found ? " " + probe.contents : "") +
                      (probe.complete ? "" : " error " + std::to_string(probe.error)));
        if (probe.outcome != DirectoryProbe::Listed) return;
        const std::vector<platform::DirEntry> entries = std::move(probe.entries);
        const std::size_t mine = listings.size();
        listings.push_back({path, &entries, order, 0});
        for (std::size_t index = 0; index < entries.size(); ++index) {
            const platform::DirEntry& entry = entries[index];
            if (!entry.isDirectory || !entered.insert(entry.id.inode).second) continue;
            listings[mine].next = index + 1;
            Enter(entry.id.inode, path + "/" + entry.name, ChildOrder(order, index));
        }
        listings.pop_back();
    }

    struct Listing {
        std::string path;
        const std::vector<platform::DirEntry>* entries;
        WalkOrder order;
        std::size_t next;
    };
    ProbeEngine& engine;
    std::set<std::size_t> entered{0};
    std::vector<std::string> met;
    std::vector<Listing> listings;
    bool readingAhead = false;
    WalkTurn* turn = nullptr;
};

// A clock that only the fake probes move.
std::atomic<long long> fakeNanoseconds{0};
ProbeEngine::Clock::time_point FakeNow() {
    return ProbeEngine::Clock::time_point(std::chrono::nanoseconds(fakeNanoseconds.load()));
}

// Lets the workers run for a while, or until done() holds; by the clock alone,
// as sleeping is not equally precise on every build.
template <typename Done>
void RunFor(std::chrono::milliseconds time, Done done) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::yield();
}

ProbeEngine::Options Forced(unsigned inFlight) {
    ProbeEngine::Options options;
    options.inFlight = inFlight;
    return options;
}

// A gate that probes wait at until it opens; counts who arrived.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;

    void Pass() {
        std::unique_lock<std::mutex> lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    void AwaitWaiting(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return waiting >= count; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
};

TEST(ProbeEngineTest, SameWalkWhateverTheRequestsInFlightAndDelays) {
    const FakeTree tree = FakeTree::Random(600, 7);
    std::vector<std::string> expected;
    {
        ProbeLog log(tree.nodes.size());
        ProbeEngine engine(
            [&](const char*, const char*, const platform::FileId& id, std::size_t,
                DirectoryProbe& out) {
                log.Note(id.inode);
                tree.Probe(id.inode, out);
            },
            ListedSubdirectories, Forced(1));
        TestWalk walk(engine);
        walk.Enter(0, "r", WalkOrder());
        expected = walk.met;
        EXPECT_EQ(engine.Workers(), 0u);
        EXPECT_EQ(log.byWorkers, 0);
    }
    ASSERT_GT(expected.size(), 200u);

    // inFlight 0: the adaptive start, on a clock by which the probes of nodes from
    // 100 on are slow: the workers start in the middle of the walk.
    struct Case {
        unsigned inFlight;
        std::size_t maxHeld;
    };
    for (Case c :
         {Case{2, 1024}, Case{8, 1024}, Case{32, 1024}, Case{8, 3}, Case{64, 1}, Case{0, 1024}}) {
        SCOPED_TRACE("in flight " + std::to_string(c.inFlight) + ", held " +
                     std::to_string(c.maxHeld));
        ProbeLog log(tree.nodes.size());
        ProbeEngine::Options options = Forced(c.inFlight);
        options.maxHeld = c.maxHeld;
        options.adaptiveInFlight = 8;
        options.maxInFlight = 32;  // and started adaptively, they may grow in the walk
        options.growthWindow = 16;
        options.now = &FakeNow;
        ProbeEngine engine(
            [&](const char*, const char*, const platform::FileId& id, std::size_t readLimit,
                DirectoryProbe& out) {
                // Every fifth set is too large to read ahead: the walk reads it.
                if (readLimit != SIZE_MAX && tree.nodes[id.inode].isSet && id.inode % 5 == 0) {
                    out = DirectoryProbe();
                    out.outcome = DirectoryProbe::LeftToWalk;
                    return;
                }
                log.Note(id.inode);
                fakeNanoseconds += id.inode >= 100 ? 1000000 : 1000;
                std::minstd_rand delay(static_cast<unsigned>(id.inode * 31 + c.inFlight));
                std::this_thread::sleep_for(std::chrono::microseconds(delay() % 300));
                tree.Probe(id.inode, out);
            },
            ListedSubdirectories, options);
        TestWalk walk(engine);
        walk.Enter(0, "r", WalkOrder());
        if (c.inFlight != 0) {
            EXPECT_EQ(engine.Workers(), c.inFlight);
        }
        EXPECT_GE(engine.Workers(), c.inFlight ? c.inFlight : 8);
        EXPECT_LE(engine.Workers(), c.inFlight ? c.inFlight : 32);
        EXPECT_EQ(walk.met, expected);
        // Who made which probe is up to the scheduler (a slow machine may start
        // its threads after the walk is over); that workers take queued requests
        // is shown with gates below.
        for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
            EXPECT_EQ(log.counts[node], walk.entered.count(node) ? 1 : 0) << "node " << node;
        }
    }
}

// Memory runs short in the middle of a walk with workers: the failing
// allocation gets the reserve back, the walk stops the workers at its next
// step and finishes alone with the same results.
TEST(ProbeEngineTest, RunningShortOfMemoryStopsTheWorkersAndTheWalkGoesOn) {
    const FakeTree tree = FakeTree::Random(400, 11);
    auto walkWith = [&tree](unsigned inFlight, std::size_t shortAt, unsigned& workersAtEnd) {
        std::atomic<bool> released{false};
        ProbeEngine engine(
            [&](const char*, const char*, const platform::FileId& id, std::size_t,
                DirectoryProbe& out) {
                if (id.inode == shortAt && !released.exchange(true)) {
                    // An allocation that fails, on a thread of its own.
                    std::thread([] {
                        ThrowOnAllocationFailure();
                        try {
                            volatile std::size_t huge = SIZE_MAX - 4096;
                            char* volatile block = new char[huge];
                            delete[] block;
                        } catch (const std::bad_alloc&) {}
                    }).join();
                }
                tree.Probe(id.inode, out);
            },
            ListedSubdirectories, Forced(inFlight));
        TestWalk walk(engine);
        walk.Enter(0, "r", WalkOrder());
        workersAtEnd = engine.Workers();
        EXPECT_EQ(MemoryReserveReleased(), inFlight > 1);
        return walk.met;
    };
    const std::new_handler previous = std::set_new_handler(nullptr);
    InstallAllocationFailureHandler();
    unsigned workers = 0;
    const std::vector<std::string> alone = walkWith(1, 0, workers);
    EXPECT_EQ(walkWith(8, 120, workers), alone);
    EXPECT_EQ(workers, 0u);
    std::set_new_handler(previous);
}

TEST(ProbeEngineTest, RequestNoWorkerStartedIsMadeByTheCaller) {
    // The root lists three subdirectories; the two workers take the first two and
    // wait at the gate. The third, still queued, is made by the caller at once.
    FakeTree tree;
    tree.nodes.resize(4);
    tree.nodes[0].children = {1, 2, 3};
    for (std::size_t node = 1; node < 4; ++node) tree.nodes[node].isSet = true;
    ProbeLog log(tree.nodes.size());
    Gate gate;
    std::vector<std::thread::id> madeBy(tree.nodes.size());
    ProbeEngine engine(
        [&](const char*, const char*, const platform::FileId& id, std::size_t,
            DirectoryProbe& out) {
            log.Note(id.inode);
            madeBy[id.inode] = std::this_thread::get_id();
            if (id.inode == 1 || id.inode == 2) gate.Pass();
            tree.Probe(id.inode, out);
        },
        ListedSubdirectories, Forced(2));
    DirectoryProbe probe;
    engine.Take("r", "", IdOf(0), WalkOrder(), probe);  // unknown: made here
    EXPECT_EQ(madeBy[0], log.caller);
    gate.AwaitWaiting(2);
    engine.Take("r/d3", "", IdOf(3), ChildOrder(WalkOrder(), 5), probe);
    EXPECT_EQ(madeBy[3], log.caller);
    EXPECT_EQ(probe.contents, "set 3");
    gate.Open();
    engine.Take("r/d1", "", IdOf(1), ChildOrder(WalkOrder(), 1), probe);
    EXPECT_EQ(probe.contents, "set 1");
    engine.Take("r/d2", "", IdOf(2), ChildOrder(WalkOrder(), 3), probe);
    EXPECT_EQ(probe.contents, "set 2");
    EXPECT_NE(madeBy[1], log.caller);
    EXPECT_NE(madeBy[2], log.caller);
    for (std::size_t node = 0; node < 4; ++node) EXPECT_EQ(log.counts[node], 1);
}

TEST(ProbeEngineTest, ResultsHeldStayWithinTheBound) {
    FakeTree tree;
    tree.nodes.resize(51);
    for (std::size_t node = 1; node <= 50; ++node) {
        tree.nodes[0].children.push_back(node);
        tree.nodes[node].isSet = true;
    }
    std::atomic<int> started{0};
    std::atomic<int> taken{0};
    std::atomic<int> mostAhead{0};
    ProbeEngine::Options options = Forced(4);
    options.maxHeld = 3;
    ProbeEngine engine(
        [&](const char*, const char*, const platform::FileId& id, std::size_t,
            DirectoryProbe& out) {
            if (id.inode != 0) {
                const int ahead = ++started - taken;
                int most = mostAhead;
                while (ahead > most && !mostAhead.compare_exchange_weak(most, ahead)) {}
            }
            tree.Probe(id.inode, out);
        },
        ListedSubdirectories, options);
    DirectoryProbe probe;
    engine.Take("r", "", IdOf(0), WalkOrder(), probe);
    RunFor(60s, [&] { return started >= 3; });
    RunFor(50ms, [] { return false; });
    EXPECT_EQ(started, 3);  // the workers wait for room
    for (std::size_t index = 0; index < probe.entries.size(); ++index) {
        const platform::DirEntry& entry = probe.entries[index];
        if (!entry.isDirectory) continue;
        DirectoryProbe set;
        ++taken;  // counted first: a worker may start the next before Take returns
        engine.Take("", "", entry.id, ChildOrder(WalkOrder(), index), set);
        EXPECT_EQ(set.contents, "set " + std::to_string(entry.id.inode));
    }
    EXPECT_EQ(started, 50);
    EXPECT_LE(mostAhead, 3);

    // A byte bound that one result passes: no worker starts another until it is taken.
    started = 0;
    options.maxHeld = 1024;
    options.maxHeldBytes = 1;
    ProbeEngine bytes(
        [&](const char*, const char*, const platform::FileId& id, std::size_t,
            DirectoryProbe& out) {
            if (id.inode != 0) ++started;
            tree.Probe(id.inode, out);
        },
        ListedSubdirectories, options);
    bytes.Take("r", "", IdOf(0), WalkOrder(), probe);
    RunFor(60s, [&] { return started >= 1; });
    RunFor(50ms, [] { return false; });
    EXPECT_GE(started, 1);
    EXPECT_LE(started, 4);
}

TEST(ProbeEngineTest, FailuresReachTheCaller) {
    FakeTree tree;
    tree.nodes.resize(4);
    tree.nodes[0].children = {1, 2, 3};
    tree.nodes[1].unreadable = true;
    tree.nodes[3].isSet = true;
    Gate gate;
    ProbeEngine engine(
        [&](const char*, const char*, const platform::FileId& id, std::size_t,
            DirectoryProbe& out) {
            if (id.inode != 0) gate.Pass();
            if (id.inode == 2) throw std::runtime_error("probe of 2 failed");
            tree.Probe(id.inode, out);
        },
        ListedSubdirectories, Forced(3));
    DirectoryProbe probe;
    engine.Take("r", "", IdOf(0), WalkOrder(), probe);
    gate.AwaitWaiting(3);  // all three made by workers
    gate.Open();
    engine.Take("r/d1", "", IdOf(1), ChildOrder(WalkOrder(), 1), probe);
    EXPECT_FALSE(probe.complete);
    EXPECT_EQ(probe.error, EACCES);
    EXPECT_THROW(engine.Take("r/d2", "", IdOf(2), ChildOrder(WalkOrder(), 3), probe),
                 std::runtime_error);
    engine.Take("r/d3", "", IdOf(3), ChildOrder(WalkOrder(), 5), probe);
    EXPECT_EQ(probe.contents, "set 3");
    // The caller's own probe fails in the caller.
    EXPECT_THROW(engine.Take("x", "", IdOf(2), WalkOrder(), probe), std::runtime_error);
}

TEST(ProbeEngineTest, StopsWithWorkQueuedAndRunning) {
    FakeTree tree;
    tree.nodes.resize(1001);
    for (std::size_t node = 1; node <= 1000; ++node) tree.nodes[0].children.push_back(node);
    std::atomic<int> started{0};
    {
        ProbeEngine engine(
            [&](const char*, const char*, const platform::FileId& id, std::size_t,
                DirectoryProbe& out) {
                if (id.inode != 0) {
                    ++started;
                    RunFor(5ms, [] { return false; });
                }
                tree.Probe(id.inode, out);
            },
            ListedSubdirectories, Forced(4));
        DirectoryProbe probe;
        engine.Take("r", "", IdOf(0), WalkOrder(), probe);
        RunFor(10ms, [&] { return false; });
    }
    // Stopping drains nothing: had the workers gone on with the queue, all 1,000
    // would have started (taking over a second), not the few running at the stop.
    EXPECT_LT(started, 1000);
}

TEST(ProbeEngineTest, AdaptiveStartAfterSlowProbesInARow) {
    // A chain of directories; the pattern says which probes take long (1 ms,
    // against a bound of 150 us) as the caller makes them.
    struct Case {
        const char* name;
        unsigned inFlight;
        std::string pattern;  // s: slow, f: fast; the rest fast
        unsigned workers;
    };
    const Case cases[] = {
        {"fast", 0, "ffffffffffffffffffff", 0},
        {"eight slow", 0, "ssssssss", 3},
        {"after fast ones", 0, "fffffsssssssss", 3},
        {"broken runs", 0, "sssssssfsssssssfsssssss", 0},
        {"forced alone", 1, "ssssssssssssssss", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t length = 40;
        FakeTree tree;
        tree.nodes.resize(length);
        for (std::size_t node = 0; node + 1 < length; ++node)
            tree.nodes[node].children = {node + 1};
        tree.nodes[length - 1].isSet = true;
        ProbeEngine::Options options;
        options.inFlight = c.inFlight;
        options.adaptiveInFlight = 3;
        options.now = &FakeNow;
        ProbeLog log(length);
        ProbeEngine engine(
            [&](const char*, const char*, const platform::FileId& id, std::size_t,
                DirectoryProbe& out) {
                log.Note(id.inode);
                const bool slow = id.inode < c.pattern.size() && c.pattern[id.inode] == 's';
                fakeNanoseconds += slow ? 1000000 : 1000;
                tree.Probe(id.inode, out);
            },
            ListedSubdirectories, options);
        TestWalk walk(engine);
        walk.Enter(0, "r", WalkOrder());
        EXPECT_EQ(engine.Workers(), c.workers);
        EXPECT_EQ(walk.met.size(), length);
        for (std::size_t node = 0; node < length; ++node) EXPECT_EQ(log.counts[node], 1);
    }
}

TEST(ProbeEngineTest, GrowthDoublesWhileItPays) {
    // Windows in turn: the rate of results taken and whether the walk waited
    // (w) or not (-); the counts it goes on with after each. Bound 64, gain 1.25.
    struct Window {
        double rate;
        char waited;
    };
    struct Case {
        const char* name;
        unsigned start;
        std::vector<Window> windows;
        std::vector<unsigned> counts;
    };
    const Case cases[] = {
        {"doubles to the bound", 8, {{1, 'w'}, {2, 'w'}, {4, 'w'}, {8, 'w'}}, {16, 32, 64, 64}},
        {"a doubling that did not pay ends it",
         8,
         {{1, 'w'}, {2, 'w'}, {2.4, 'w'}, {9, 'w'}},
         {16, 32, 32, 32}},
        {"a quarter more pays", 8, {{4, 'w'}, {5, 'w'}, {6, 'w'}}, {16, 32, 32}},
        {"not waited: no growth, and none judged",
         8,
         {{1, '-'}, {1, '-'}, {1, 'w'}, {2, 'w'}},
         {8, 8, 16, 32}},
        {"judged even when not waited", 8, {{1, 'w'}, {1, '-'}, {9, 'w'}}, {16, 16, 16}},
        {"judged, then waits before the next",
         8,
         {{1, 'w'}, {2, '-'}, {2, 'w'}, {4, 'w'}},
         {16, 16, 32, 64}},
        {"the bound caps a doubling", 48, {{1, 'w'}, {2, 'w'}}, {64, 64}},
        {"at the bound from the start", 64, {{1, 'w'}}, {64}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InFlightGrowth growth(64, 1.25);
        unsigned count = c.start;
        std::vector<unsigned> counts;
        for (const Window& window : c.windows) {
            count = growth.Next(count, window.rate, window.waited == 'w');
            counts.push_back(count);
        }
        EXPECT_EQ(counts, c.counts);
    }
}

// The workers started adaptively grow on a clock by which the rate of results
// follows the workers (a share that answers as many as are sent), stop after
// one doubling where it does not, grow not where the reserve cannot be had nor
// where their number is forced; the walk finds the same throughout. A worker's
// probe ends only once the walk asks for it, so the walk waits for every result
// it takes from the workers, however the machine schedules the threads.
std::atomic<std::size_t> reserveLimit{SIZE_MAX};
bool LimitedReserve(std::size_t bytes) { return bytes <= reserveLimit && GrowMemoryReserve(bytes); }

TEST(ProbeEngineTest, WorkersGrowWhileTheRateFollows) {
    const FakeTree tree = FakeTree::Random(1500, 5);
    struct Case {
        const char* name;
        unsigned inFlight;
        bool rateFollows;
        std::size_t reserveFor;  // workers the reserve can be had for
        unsigned workers;
    };
    const Case cases[] = {
        {"the rate follows", 0, true, 256, 32},
        {"the rate stays", 0, false, 256, 8},
        {"no reserve for more", 0, true, 4, 4},
        {"forced", 4, true, 256, 4},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeEngine::Options options = Forced(c.inFlight);
        options.adaptiveInFlight = 4;
        options.maxInFlight = 32;
        options.growthWindow = 16;
        options.maxHeld = 1;  // the walk mostly makes or waits for what it takes
        options.now = &FakeNow;
        options.growReserve = &LimitedReserve;
        reserveLimit = ProbeEngine::ReserveBytes(static_cast<unsigned>(c.reserveFor), options);
        ProbeLog log(tree.nodes.size());
        WalkTurn turn;
        std::atomic<ProbeEngine*> self{nullptr};
        ProbeEngine engine(
            [&](const char*, const char*, const platform::FileId& id, std::size_t,
                DirectoryProbe& out) {
                log.Note(id.inode);
                turn.AwaitAsked(id.inode);
                const ProbeEngine* engine = self;
                const unsigned workers = engine != nullptr ? std::max(engine->Workers(), 1u) : 1;
                tree.Probe(id.inode, out);
                // At the end, after the walk read the clock as it began to take it.
                fakeNanoseconds += c.rateFollows ? 1000000 / workers : 1000000;
            },
            ListedSubdirectories, options);
        self = &engine;
        TestWalk walk(engine);
        walk.turn = &turn;
        walk.Enter(0, "r", WalkOrder());
        turn.Finish();
        EXPECT_EQ(engine.Workers(), c.workers);
        if (expected.empty()) expected = walk.met;
        EXPECT_EQ(walk.met, expected);
        for (std::size_t node = 0; node < tree.nodes.size(); ++node) {
            EXPECT_EQ(log.counts[node], walk.entered.count(node) ? 1 : 0) << "node " << node;
        }
    }
}

TEST(ProbeEngineTest, InFlightFromTheEnvironmentText) {
    const struct {
        const char* text;
        unsigned inFlight;
    } cases[] = {{nullptr, 0}, {"", 0},      {"0", 0},
                 {"1", 1},     {"2", 2},     {"32", 32},
                 {"256", 256}, {"257", 256}, {"99999999999", 256},
                 {"-4", 0},    {" 8", 0},    {"8 ", 0},
                 {"eight", 0}, {"0x10", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ProbeEngine::ParseInFlight(c.text), c.inFlight) << (c.text ? c.text : "null");
    }
}

TEST(ProbeEngineTest, WalkOrderSortsLikeTheWalk) {
    const WalkOrder root;
    const WalkOrder first = ChildOrder(root, 1);
    const WalkOrder below = ChildOrder(first, 300);
    const WalkOrder second = ChildOrder(root, 256);
    EXPECT_LT(root, first);
    EXPECT_LT(first, below);
    EXPECT_LT(below, second);
    EXPECT_LT(ChildOrder(root, 255), second);
}

}  // namespace
