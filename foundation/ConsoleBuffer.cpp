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
    const std::string_view pieces[] = {std::string_view(bytes, length)};
    WritePieces(pieces, 1);
}

void ConsoleBuffer::WriteLine(std::string_view first, std::string_view second) {
    const std::string_view pieces[] = {first, second, std::string_view("\n", 1)};
    WritePieces(pieces, 3);
}

void ConsoleBuffer::WritePieces(const std::string_view* pieces, int count) {
    std::call_once(timerStarted_, [this] { StartTimer(); });
    std::size_t length = 0;
    for (int i = 0; i < count; ++i) length += pieces[i].size();
    std::lock_guard<std::mutex> lock(mutex_);
    if (length > options_.capacity - used_) FlushLocked();
    if (length > options_.capacity) {
        for (int i = 0; i < count; ++i) {
            if (!pieces[i].empty()) sink_(pieces[i].data(), pieces[i].size());
        }
        return;
    }
    const bool first = used_ == 0;
    for (int i = 0; i < count; ++i) {
        if (pieces[i].empty()) continue;
        std::memcpy(bytes_ + used_, pieces[i].data(), pieces[i].size());
        used_ += pieces[i].size();
    }
    if (used_ == 0) return;
    if (first) {
        since_ = options_.now();
        // A timer waiting for a block already wakes when it is due, and then
        // counts from the oldest line it finds.
        if (timerIdle_) waiting_.notify_one();
    } else if (!timer_ && options_.now() - since_ >= options_.bound) {
        FlushLocked();  // the timer, where it runs, keeps the bound itself
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
            timerIdle_ = true;  // the next first line wakes it
            waiting_.wait(lock);
            timerIdle_ = false;
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
