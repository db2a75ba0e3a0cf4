#include "ConsoleBuffer.h"

#include <algorithm>
#include <cstring>

ConsoleBuffer::ConsoleBuffer(Sink sink, const Options& options) : sink_(sink), options_(options) {
    options_.capacity = std::min(options_.capacity, kMaxCapacity);
}

ConsoleBuffer::~ConsoleBuffer() { Close(); }

void ConsoleBuffer::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        FlushLocked();
        stopping_ = true;
        options_.capacity = 0;  // from now on every line at once
    }
    waiting_.notify_all();
    if (timer_) timer_->Join();
    timer_.reset();
}

// With the first line, outside the lock: a thread that cannot be made for want
// of memory ends the run with a report, which flushes.
void ConsoleBuffer::StartTimer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!options_.timer || options_.capacity == 0 || stopping_) return;
    }
    // The stack of a walk's worker: ThreadSanitizer alone asks for some 134 KiB of it.
    std::unique_ptr<platform::Thread> timer =
        platform::StartThread(&ConsoleBuffer::TimerMain, this, std::size_t(256) << 10);
    std::lock_guard<std::mutex> lock(mutex_);
    if (timer) {
        timer_ = std::move(timer);
    } else {
        options_.capacity = 0;  // nothing keeps the bound: every line at once
    }
}

void ConsoleBuffer::Write(const char* bytes, std::size_t length) {
    std::call_once(timerStarted_, [this] { StartTimer(); });
    std::lock_guard<std::mutex> lock(mutex_);
    if (length > options_.capacity - used_) FlushLocked();
    if (length > options_.capacity) {
        sink_(bytes, length);
        return;
    }
    const bool first = used_ == 0;
    std::memcpy(bytes_ + used_, bytes, length);
    used_ += length;
    if (first) {
        since_ = options_.now();
        waiting_.notify_one();
    } else if (options_.now() - since_ >= options_.bound) {
        FlushLocked();
    }
}

void ConsoleBuffer::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    FlushLocked();
}

void ConsoleBuffer::FlushLocked() {
    if (used_ == 0) return;
    sink_(bytes_, used_);
    used_ = 0;
}

void ConsoleBuffer::TimerMain(void* buffer) { static_cast<ConsoleBuffer*>(buffer)->TimerLoop(); }

// Sleeps until a line is gathered, then until it has waited the bound.
void ConsoleBuffer::TimerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (used_ == 0) {
            waiting_.wait(lock);
            continue;
        }
        const Clock::time_point due = since_ + options_.bound;
        if (Clock::now() >= due) {
            FlushLocked();
            continue;
        }
        waiting_.wait_until(lock, due);
    }
}
