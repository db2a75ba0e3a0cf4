// ConsoleBuffer: which blocks reach the sink, and when, on a fake clock; the
// timer that writes out a line nobody follows; lines from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ConsoleBuffer.h"

namespace {

using namespace std::chrono_literals;

// What reached the sink, block by block.
std::mutex sinkMutex;
std::condition_variable sinkChanged;
std::vector<std::string> blocks;
std::vector<ConsoleBuffer::Clock::time_point> blockTimes;

void RecordBlock(const char* bytes, std::size_t length) {
    std::lock_guard<std::mutex> lock(sinkMutex);
    blocks.emplace_back(bytes, length);
    blockTimes.push_back(ConsoleBuffer::Clock::now());
    sinkChanged.notify_all();
}

std::vector<std::string> TakeBlocks() {
    std::lock_guard<std::mutex> lock(sinkMutex);
    std::vector<std::string> taken;
    taken.swap(blocks);
    blockTimes.clear();
    return taken;
}

std::atomic<long long> fakeMilliseconds{0};
ConsoleBuffer::Clock::time_point FakeNow() {
    return ConsoleBuffer::Clock::time_point(std::chrono::milliseconds(fakeMilliseconds.load()));
}

TEST(ConsoleBufferTest, BlocksOnAFakeClock) {
    // Steps: "w<ms> text" writes text (a line) at that time, "l<ms> a|b" writes
    // the line a + b, "f" flushes, "d" destroys the buffer. Expected: the
    // blocks the sink got, in order.
    struct Case {
        const char* name;
        std::size_t capacity;
        std::vector<std::string> steps;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"gathered until a flush",
         16,
         {"w0 ab\n", "w1 cd\n", "w2 ef\n", "f", "f"},
         {"ab\ncd\nef\n"}},
        {"the next line does not fit", 7, {"w0 abc\n", "w0 def\n", "w0 g\n"}, {"abc\n"}},
        {"exactly full stays", 9, {"w0 abc\n", "w0 d\n", "w0 ef\n", "f"}, {"abc\nd\nef\n"}},
        {"larger than the buffer: after what came before",
         4,
         {"w0 ab\n", "w0 abcdefgh\n", "w0 c\n", "f"},
         {"ab\n", "abcdefgh\n", "c\n"}},
        {"a line after the bound takes the block",
         64,
         {"w0 a\n", "w49 b\n", "w50 c\n", "w51 d\n"},
         {"a\nb\nc\n"}},
        {"the bound counts from the oldest line",
         64,
         {"w0 a\n", "w50 b\n", "w60 c\n", "w99 d\n", "w110 e\n"},
         {"a\nb\n", "c\nd\ne\n"}},
        {"no capacity: every line at once", 0, {"w0 a\n", "w0 b\n"}, {"a\n", "b\n"}},
        {"destroyed: written out", 64, {"w0 a\n", "w1 b\n", "d"}, {"a\nb\n"}},
        {"nothing to flush", 64, {"f", "d"}, {}},
        {"a line in two pieces", 16, {"l0 ab|cd", "l1 |e", "l2 f|", "f"}, {"abcd\ne\nf\n"}},
        {"a line of pieces larger than the buffer: piece by piece",
         4,
         {"w0 ab\n", "l0 abc|def", "f"},
         {"ab\n", "abc", "def", "\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeBlocks();
        ConsoleBuffer::Options options;
        options.capacity = c.capacity;
        options.timer = false;
        options.now = &FakeNow;
        auto buffer = std::make_unique<ConsoleBuffer>(&RecordBlock, options);
        for (const std::string& step : c.steps) {
            if (step == "f") {
                buffer->Flush();
            } else if (step == "d") {
                buffer.reset();
            } else {
                const std::size_t space = step.find(' ');
                fakeMilliseconds = std::stoll(step.substr(1, space - 1));
                const std::string line = step.substr(space + 1);
                if (step[0] == 'l') {
                    const std::size_t bar = line.find('|');
                    buffer->WriteLine(std::string_view(line).substr(0, bar),
                                      std::string_view(line).substr(bar + 1));
                } else {
                    buffer->Write(line.data(), line.size());
                }
            }
        }
        EXPECT_EQ(TakeBlocks(), c.expected);
    }
}

TEST(ConsoleBufferTest, TheTimerWritesOutALineNobodyFollows) {
    TakeBlocks();
    ConsoleBuffer::Options options;
    options.bound = 20ms;
    ConsoleBuffer buffer(&RecordBlock, options);
    for (int round = 0; round < 3; ++round) {
        const auto written = ConsoleBuffer::Clock::now();
        buffer.Write("one\n", 4);
        buffer.Write("two\n", 4);
        // Both lines, in one block unless the machine held this thread back for
        // the whole bound between the two writes (the fake clock tests the blocks).
        std::unique_lock<std::mutex> lock(sinkMutex);
        const auto joined = [] {
            std::string all;
            for (const std::string& block : blocks) all += block;
            return all;
        };
        ASSERT_TRUE(sinkChanged.wait_for(lock, 60s, [&] { return joined().size() >= 8; }));
        EXPECT_EQ(joined(), "one\ntwo\n");
        EXPECT_GE(blockTimes[0] - written, options.bound);
        blocks.clear();
        blockTimes.clear();
    }
}

// Closed at the end of a run: what waits is written and the timer stops (so no
// thread outlives the run); a line after that goes out at once.
TEST(ConsoleBufferTest, CloseWritesOutAndLaterLinesGoAtOnce) {
    TakeBlocks();
    ConsoleBuffer::Options options;
    options.bound = 60s;
    ConsoleBuffer buffer(&RecordBlock, options);
    buffer.Write("one\n", 4);
    buffer.Write("two\n", 4);
    buffer.Close();
    EXPECT_EQ(TakeBlocks(), std::vector<std::string>{"one\ntwo\n"});
    buffer.Write("late\n", 5);
    EXPECT_EQ(TakeBlocks(), std::vector<std::string>{"late\n"});
    buffer.Close();
    EXPECT_TRUE(TakeBlocks().empty());
}

TEST(ConsoleBufferTest, LinesFromSeveralThreadsComeWholeAndInOrder) {
    TakeBlocks();
    ConsoleBuffer::Options options;
    options.capacity = 100;
    options.bound = 1ms;
    {
        ConsoleBuffer buffer(&RecordBlock, options);
        auto writer = [&buffer](char name) {
            for (int i = 0; i < 2000; ++i) {
                const std::string line = name + std::to_string(i) + "\n";
                buffer.Write(line.data(), line.size());
                if (i % 300 == 0) buffer.Flush();
            }
        };
        std::thread a(writer, 'a');
        std::thread b(writer, 'b');
        a.join();
        b.join();
    }
    std::string all;
    for (const std::string& block : TakeBlocks()) {
        EXPECT_LE(block.size(), 100u);
        EXPECT_EQ(block.back(), '\n');
        all += block;
    }
    int next[2] = {0, 0};
    std::size_t start = 0;
    for (std::size_t end = all.find('\n'); end != std::string::npos;
         start = end + 1, end = all.find('\n', start)) {
        const std::string line = all.substr(start, end - start);
        ASSERT_TRUE(line[0] == 'a' || line[0] == 'b') << line;
        int& expected = next[line[0] - 'a'];
        EXPECT_EQ(line.substr(1), std::to_string(expected)) << line;
        ++expected;
    }
    EXPECT_EQ(next[0], 2000);
    EXPECT_EQ(next[1], 2000);
}

}  // namespace
