// A mutex, its scoped lock and a condition variable, annotated for clang's
// thread-safety analysis (ThreadAnnotations.h), which the standard library's
// own do not carry. They cost nothing over std::mutex and
// std::condition_variable, which they hold.
#pragma once

#include <condition_variable>
#include <mutex>

#include "ThreadAnnotations.h"

class CAPABILITY("mutex") Mutex {
public:
    void Lock() ACQUIRE() { mutex_.lock(); }
    void Unlock() RELEASE() { mutex_.unlock(); }

private:
    friend class CondVar;
    std::mutex mutex_;
};

// Holds the mutex from its construction to its end, but for the time between
// an Unlock and the next Lock.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexLock() RELEASE() {
        if (held_) mutex_.Unlock();
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void Unlock() RELEASE() {
        held_ = false;
        mutex_.Unlock();
    }
    void Lock() ACQUIRE() {
        mutex_.Lock();
        held_ = true;
    }

private:
    Mutex& mutex_;
    bool held_ = true;
};

class CondVar {
public:
    // Gives the mutex up while it waits, and holds it again when it returns
    // (woken, or spuriously: callers wait in a loop on their condition).
    void Wait(Mutex& mutex) REQUIRES(mutex) {
        std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
        ready_.wait(lock);
        lock.release();
    }
    void Signal() { ready_.notify_one(); }
    void SignalAll() { ready_.notify_all(); }

private:
    std::condition_variable ready_;
};
