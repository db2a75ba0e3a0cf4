#include "ProbeEngine.h"

#include <algorithm>
#include <new>
#include <utility>

#include "ErrorHandler.h"

std::size_t DirectoryProbe::Bytes() const {
    std::size_t bytes = sizeof(DirectoryProbe) + name.size() + contents.size();
    for (const platform::DirEntry& entry : entries) bytes += sizeof(entry) + entry.name.size();
    return bytes;
}

WalkOrder ChildOrder(const WalkOrder& parent, std::size_t index) {
    WalkOrder order;
    order.reserve(parent.size() + 4);
    order = parent;
    const uint32_t value = static_cast<uint32_t>(index);
    for (int shift = 24; shift >= 0; shift -= 8) {
        order += static_cast<char>(static_cast<unsigned char>(value >> shift));
    }
    return order;
}

unsigned ProbeEngine::ParseInFlight(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    unsigned value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        value = value * 10 + static_cast<unsigned>(*c - '0');
        if (value > 256) value = 256;
    }
    return value;
}

std::size_t ProbeEngine::KeyHash::operator()(const Key& key) const {
    uint64_t hash = (key.inode ^ (key.device * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}

ProbeEngine::ProbeEngine(ProbeFunction probe, ChildrenFunction children, const Options& options,
                         const DirectorySet* entered)
    : probe_(std::move(probe)),
      children_(std::move(children)),
      options_(options),
      entered_(entered),
      adaptive_(options.inFlight == 0) {
    if (options_.inFlight >= 2) StartWorkers(options_.inFlight);
}

ProbeEngine::~ProbeEngine() {
    StopWorkers();
    DropMemoryReserve();
}

std::size_t ProbeEngine::ReserveBytes(unsigned count, const Options& options) {
    // Stacks, reads in progress and results held, and the engine's own tables.
    return count * options.stackBytes + 2 * options.maxHeldBytes + (std::size_t(8) << 20);
}

void ProbeEngine::StartWorkers(unsigned count) {
    platform::ShareHeapBetweenThreads();
    while (count >= 2 && !HoldMemoryReserve(ReserveBytes(count, options_))) count /= 2;
    if (count < 2) return;  // no room to spare: the walk goes on alone
    // Each worker's share of the bytes held, set before any worker reads it.
    readLimit_ = std::max<std::size_t>(options_.maxHeldBytes / count, std::size_t(64) << 10);
    workers_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        auto worker = platform::StartThread(&ProbeEngine::WorkerMain, this, options_.stackBytes);
        if (!worker) break;  // no more threads: go on with those there are
        workers_.push_back(std::move(worker));
    }
    if (workers_.empty()) DropMemoryReserve();
}

void ProbeEngine::StopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (auto& worker : workers_) worker->Join();
    workers_.clear();
    // Nothing runs now: what was made or queued goes, and the walk makes the rest.
    queue_.clear();
    slots_.clear();
    seen_ = DirectorySet();
    held_ = 0;
    heldBytes_ = 0;
    adaptive_ = false;
}

void ProbeEngine::WorkerMain(void* engine) {
    ThrowOnAllocationFailure();
    static_cast<ProbeEngine*>(engine)->WorkerLoop();
}

void ProbeEngine::Take(const char* directory, const char* file, const platform::FileId& id,
                       const WalkOrder& order, DirectoryProbe& out) {
    if (!workers_.empty() && MemoryReserveReleased()) StopWorkers();
    if (workers_.empty()) {
        if (!adaptive_) {
            probe_(directory, file, id, SIZE_MAX, out);
            return;
        }
        const Clock::time_point start = options_.now();
        probe_(directory, file, id, SIZE_MAX, out);
        if (options_.now() - start < options_.slowProbe) {
            slowInARow_ = 0;
            return;
        }
        if (++slowInARow_ < options_.slowRun) return;
        adaptive_ = false;
        // What the walk entered so far is never read ahead again.
        if (entered_ != nullptr) seen_ = *entered_;
        if (id.valid) seen_.Insert(id);
        StartWorkers(options_.adaptiveInFlight);
        if (workers_.empty()) return;
        // Read ahead from here on.
        std::vector<ProbeRequest> children;
        children_(ProbeRequest{directory, file, id, order}, out, children);
        std::size_t queued;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queued = QueueChildren(children);
        }
        WakeWorkers(queued);
        return;
    }
    if (!id.valid) {
        ProbeHere(directory, file, id, order, out);
        return;
    }

    std::unique_lock<std::mutex> lock(mutex_);
    auto found = slots_.find(Key{id.device, id.inode});
    if (found == slots_.end()) {
        seen_.Insert(id);
        lock.unlock();
        ProbeHere(directory, file, id, order, out);
        return;
    }
    Slot& slot = found->second;
    // Two directories can share a listing's hint of identity (a mount point shows
    // the number of the one it covers): a result made from a hint is handed
    // over only for the path it was made for.
    const bool samePath =
        slot.request.directory == directory || (!slot.request.id.hint && !id.hint);
    if (slot.state == State::Queued) {
        // Needed now and not started: made here rather than waited for.
        queue_.erase(slot.request.order);
        auto node = slots_.extract(found);
        lock.unlock();
        ProbeHere(directory, file, id, order, out);
        return;
    }
    resultReady_.wait(lock, [&slot] { return slot.state == State::Done; });
    std::swap(out, slot.result);
    std::exception_ptr failure = std::move(slot.failure);
    --held_;
    heldBytes_ -= out.Bytes();
    auto node = slots_.extract(found);  // freed after the lock is released
    lock.unlock();
    WakeWorkers(1);  // room for one more
    if (!samePath || out.outcome == DirectoryProbe::LeftToWalk) {
        // Made here after all, into the caller's own buffers, with the result
        // that is not used freed first.
        std::swap(out, node.mapped().result);
        node = decltype(node)();
        ProbeHere(directory, file, id, order, out);
        return;
    }
    if (failure) std::rethrow_exception(failure);
}

void ProbeEngine::ProbeHere(const char* directory, const char* file, const platform::FileId& id,
                            const WalkOrder& order, DirectoryProbe& out) {
    probe_(directory, file, id, SIZE_MAX, out);
    std::vector<ProbeRequest> children;
    children_(ProbeRequest{directory, file, id, order}, out, children);
    if (children.empty()) return;
    std::size_t queued;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued = QueueChildren(children);
    }
    WakeWorkers(queued);
}

void ProbeEngine::Queue(std::vector<ProbeRequest>& requests) {
    if (workers_.empty() || requests.empty()) return;
    std::size_t queued;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queued = QueueChildren(requests);
    }
    WakeWorkers(queued);
}

std::size_t ProbeEngine::QueueChildren(std::vector<ProbeRequest>& children) {
    std::size_t queued = 0;
    for (ProbeRequest& child : children) {
        if (!child.id.valid) continue;
        const Key key{child.id.device, child.id.inode};
        if (seen_.Insert(child.id)) {
            Slot& slot = slots_[key];
            slot.request = std::move(child);
            queue_.emplace(slot.request.order, &slot);
            ++queued;
            continue;
        }
        // Met again, by another path: a place earlier in the walk moves it forward.
        auto found = slots_.find(key);
        if (found == slots_.end() || found->second.state != State::Queued ||
            !(child.order < found->second.request.order)) {
            continue;
        }
        Slot& slot = found->second;
        queue_.erase(slot.request.order);
        slot.request = std::move(child);
        queue_.emplace(slot.request.order, &slot);
    }
    return queued;
}

void ProbeEngine::WakeWorkers(std::size_t count) {
    if (count >= workers_.size()) {
        workReady_.notify_all();
        return;
    }
    for (std::size_t i = 0; i < count; ++i) workReady_.notify_one();
}

bool ProbeEngine::WorkAvailable() const {
    return !queue_.empty() && held_ < options_.maxHeld && heldBytes_ < options_.maxHeldBytes;
}

void ProbeEngine::WorkerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        workReady_.wait(lock, [this] { return stopping_ || WorkAvailable(); });
        if (stopping_) return;
        auto first = queue_.begin();
        Slot& slot = *first->second;
        queue_.erase(first);
        slot.state = State::Running;
        ++held_;
        lock.unlock();

        // A running slot is left alone by everyone else: its request can be read
        // without the lock.
        DirectoryProbe result;
        std::exception_ptr failure;
        std::vector<ProbeRequest> children;
        try {
            probe_(slot.request.directory.c_str(), slot.request.file.c_str(), slot.request.id,
                   readLimit_, result);
            children_(slot.request, result, children);
        } catch (const std::bad_alloc&) {
            // Out of memory here: the walk makes this probe itself.
            result = DirectoryProbe();
            result.outcome = DirectoryProbe::LeftToWalk;
            children.clear();
        } catch (...) {
            failure = std::current_exception();
            children.clear();
        }
        const std::size_t bytes = result.Bytes();

        lock.lock();
        slot.result = std::move(result);
        slot.failure = failure;
        slot.state = State::Done;
        heldBytes_ += bytes;
        const std::size_t queued = QueueChildren(children);
        resultReady_.notify_all();
        WakeWorkers(queued);
    }
}
