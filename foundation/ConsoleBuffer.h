// ConsoleBuffer: console lines gathered into blocks, none of them late.
//
// A walk of a large repository prints tens of thousands of lines; one write
// each costs more than the rest of the run on a pipe or a console. Lines are
// gathered here and handed to the sink (the platform's write to standard
// output) in blocks:
// - a block goes when the next line would not fit, and a line larger than the
//   buffer goes on its own, after what was gathered before it;
// - no line waits longer than the bound: a timer thread writes out what waits
//   when the oldest line in it has waited that long, even when no other line
//   comes (the walk may sit in a round trip or a pause before a retry for a
//   long time, and only a thread that is not waiting with it can keep the
//   bound). Without the timer, a line written after the bound has passed
//   takes the block with it at once (with it, the clock is read once a block);
// - Flush writes out everything at once: callers flush before anything that
//   must come after the lines (a report on standard error, the batch file, the
//   end of the process);
// - where the timer thread cannot be started, every line goes out at once.
// Nothing here allocates once the timer runs, so a flush works when memory is
// exhausted. Every function may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string_view>

#include "Platform.h"

class ConsoleBuffer {
public:
    using Sink = void (*)(const char* bytes, std::size_t length);
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxCapacity = 16384;

    struct Options {
        std::size_t capacity = kMaxCapacity;  // at most kMaxCapacity; 0: every line at once
        std::chrono::milliseconds bound = std::chrono::milliseconds(50);
        bool timer = true;  // false: no timer thread (lines wait for a write or a flush)
        // The clock of the write path; the timer keeps the real one, so a test
        // that sets another one sets timer false.
        Clock::time_point (*now)() = &Clock::now;
    };

    ConsoleBuffer(Sink sink, const Options& options);
    ~ConsoleBuffer();  // writes out what waits and stops the timer
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

    void Write(const char* bytes, std::size_t length);
    // The line first + second, with its "\n".
    void WriteLine(std::string_view first, std::string_view second);
    void Flush();
    // Writes out what waits and stops the timer; later lines go out at once.
    void Close();

private:
    void StartTimer();
    // Gathers the pieces as one write of their bytes in order.
    void WritePieces(const std::string_view* pieces, int count);
    void FlushLocked();
    static void TimerMain(void* buffer);
    void TimerLoop();

    const Sink sink_;
    Options options_;
    std::mutex mutex_;
    std::condition_variable waiting_;  // the timer: a first line gathered, or stop
    std::once_flag timerStarted_;
    std::unique_ptr<platform::Thread> timer_;
    bool stopping_ = false;
    bool timerIdle_ = false;  // the timer waits for a first line (none gathered)
    std::size_t used_ = 0;
    Clock::time_point since_;  // when the oldest line gathered came
    char bytes_[kMaxCapacity];
};
