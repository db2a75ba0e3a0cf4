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

unsigned InFlightGrowth::Next(unsigned count, double rate, bool waited) {
    if (stopped_ || count >= bound_) {
        stopped_ = true;
        return count;
    }
    if (judging_) {
        judging_ = false;
        if (rate < rateBefore_ * gain_) {
            stopped_ = true;  // the last doubling did not pay: no more
            return count;
        }
    }
    if (!waited) return count;
    rateBefore_ = rate;
    judging_ = true;
    return std::min(count * 2, bound_);
}

ProbeEngine::ProbeEngine(ProbeFunction probe, ChildrenFunction children, const Options& options,
                         const DirectorySet* entered)
    : probe_(std::move(probe)),
      children_(std::move(children)),
      options_(options),
      entered_(entered),
      adaptive_(options.inFlight == 0),
      growth_(options.maxInFlight, options.growthGain) {
    if (options_.inFlight >= 2) StartWorkers(options_.inFlight, false);
}

ProbeEngine::~ProbeEngine() {
    StopWorkers();
    DropMemoryReserve();
}

std::size_t ProbeEngine::ReserveBytes(unsigned count, const Options& options) {
    // Stacks, reads in progress and results held, and the engine's own tables.
    return count * options.stackBytes + 2 * options.maxHeldBytes + (std::size_t(8) << 20);
}

void ProbeEngine::StartWorkers(unsigned count, bool mayGrow) {
    platform::ShareHeapBetweenThreads();
    while (count >= 2 && !HoldMemoryReserve(ReserveBytes(count, options_))) count /= 2;
    if (count < 2) return;  // no room to spare: the walk goes on alone
    // Each worker's share of the bytes held, for the most workers there may be:
    // set before any worker reads it, and never changed.
    const unsigned most = mayGrow ? std::max(count, options_.maxInFlight) : count;
    readLimit_ = std::max<std::size_t>(options_.maxHeldBytes / most, std::size_t(64) << 10);
    workers_.reserve(mayGrow ? most : count);
    AddWorkers(count);
    if (workers_.empty()) {
        DropMemoryReserve();
        return;
    }
    growing_ = mayGrow && Workers() < options_.maxInFlight;
    windowStart_ = options_.now();
}

bool ProbeEngine::AddWorkers(unsigned count) {
    while (workers_.size() < count) {
        auto worker = platform::StartThread(&ProbeEngine::WorkerMain, this, options_.stackBytes);
        if (!worker) return false;  // no more threads: go on with those there are
        workers_.push_back(std::move(worker));
        workerCount_ = static_cast<unsigned>(workers_.size());
    }
    return true;
}

void ProbeEngine::StopWorkers() {
    {
        MutexLock lock(mutex_);
        stopping_ = true;
    }
    workReady_.SignalAll();
    for (auto& worker : workers_) worker->Join();
    workers_.clear();
    workerCount_ = 0;
    adaptive_ = false;
    growing_ = false;
    // Nothing runs now: what was made or queued goes, and the walk makes the rest.
    MutexLock lock(mutex_);
    queue_.clear();
    slots_.clear();
    seen_ = DirectorySet();
    held_ = 0;
    heldBytes_ = 0;
}

void ProbeEngine::WorkerMain(void* engine) {
    ThrowOnAllocationFailure();
    static_cast<ProbeEngine*>(engine)->WorkerLoop();
}

void ProbeEngine::Take(const char* directory, const char* file, const platform::FileId& id,
                       const WalkOrder& order, DirectoryProbe& out) {
    if (!workers_.empty() && MemoryReserveReleased()) StopWorkers();
    if (workers_.empty()) {
        TakeAlone(directory, file, id, order, out);
    } else if (growing_) {
        TakeWhileGrowing(directory, file, id, order, out);
    } else {
        TakeFromWorkers(directory, file, id, order, out);
    }
}

void ProbeEngine::TakeWhileGrowing(const char* directory, const char* file,
                                   const platform::FileId& id, const WalkOrder& order,
                                   DirectoryProbe& out) {
    const Clock::time_point start = options_.now();
    if (TakeFromWorkers(directory, file, id, order, out)) windowWaited_ += options_.now() - start;
    NoteTaken();
}

void ProbeEngine::NoteTaken() {
    const std::size_t length =
        std::max(options_.growthWindow, options_.growthRoundTrips * Workers());
    if (++windowTaken_ < length) return;
    const Clock::time_point now = options_.now();
    const Clock::duration window = now - windowStart_;
    const double seconds = std::max(std::chrono::duration<double>(window).count(), 1e-9);
    const unsigned count = Workers();
    // The rate of results made (by workers and the walk): the walk takes them in
    // bursts, all that lie ready after one it waited for. Waiting for half the
    // window or more: the results came no sooner than asked for.
    std::size_t made;
    {
        MutexLock lock(mutex_);
        made = made_ + madeHere_;
    }
    const unsigned next = growth_.Next(count, static_cast<double>(made - windowMade_) / seconds,
                                       windowWaited_ * 2 >= window);
    if (next > count) {
        // The reserve for the new number first; none added where it cannot be had.
        const bool grown = !MemoryReserveReleased() &&
                           options_.growReserve(ReserveBytes(next, options_)) && AddWorkers(next);
        if (!grown) growing_ = false;
    }
    if (growth_.Stopped()) growing_ = false;
    windowTaken_ = 0;
    windowMade_ = made;
    windowWaited_ = Clock::duration::zero();
    windowStart_ = options_.now();  // after the threads were made
}

void ProbeEngine::TakeAlone(const char* directory, const char* file, const platform::FileId& id,
                            const WalkOrder& order, DirectoryProbe& out) {
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
    StartAfterSlowProbes(directory, file, id, order, out);
}

void ProbeEngine::StartAfterSlowProbes(const char* directory, const char* file,
                                       const platform::FileId& id, const WalkOrder& order,
                                       DirectoryProbe& out) {
    adaptive_ = false;
    {
        // What the walk entered so far is never read ahead again.
        MutexLock lock(mutex_);
        if (entered_ != nullptr) seen_ = *entered_;
        if (id.valid) seen_.Insert(id);
    }
    StartWorkers(options_.adaptiveInFlight, true);
    if (workers_.empty()) return;
    // Read ahead from here on.
    QueueChildren(ProbeRequest{directory, file, id, order}, out);
}

bool ProbeEngine::TakeFromWorkers(const char* directory, const char* file,
                                  const platform::FileId& id, const WalkOrder& order,
                                  DirectoryProbe& out) {
    Claim claim = id.valid ? ClaimSlot(id, out) : Claim();
    if (claim.roomMade) WakeWorkers(1);
    // Two directories can share a listing's hint of identity (a mount point shows
    // the number of the one it covers): a result made from a hint is handed
    // over only for the path it was made for.
    const bool usable = claim.made && out.outcome != DirectoryProbe::LeftToWalk &&
                        (claim.node.mapped().request.directory == directory ||
                         (!claim.node.mapped().request.id.hint && !id.hint));
    if (!usable) {
        // Made here, into the caller's own buffers, with a result that is not used
        // freed first.
        if (claim.made) std::swap(out, claim.node.mapped().result);
        claim.node = SlotMap::node_type();
        ProbeHere(directory, file, id, order, out);
        return true;
    }
    if (claim.failure) std::rethrow_exception(claim.failure);
    return claim.waited;
}

ProbeEngine::Claim ProbeEngine::ClaimSlot(const platform::FileId& id, DirectoryProbe& out) {
    Claim claim;
    MutexLock lock(mutex_);
    auto found = slots_.find(id);
    if (found == slots_.end()) {
        seen_.Insert(id);  // made by the walk: never queued from now on
        return claim;
    }
    Slot& slot = found->second;
    if (slot.state == State::Queued) {
        // Needed now and not started: made here rather than waited for.
        queue_.erase(slot.request.order);
        claim.node = slots_.extract(found);
        return claim;
    }
    claim.made = true;
    claim.waited = slot.state != State::Done;
    awaited_ = &slot;
    while (slot.state != State::Done) resultReady_.Wait(mutex_);
    awaited_ = nullptr;
    // Workers wait for room only when the bound was reached: wake one then.
    const bool full = held_ >= options_.maxHeld || heldBytes_ >= options_.maxHeldBytes;
    std::swap(out, slot.result);
    claim.failure = std::move(slot.failure);
    --held_;
    heldBytes_ -= out.Bytes();
    claim.node = slots_.extract(found);
    claim.roomMade = full && WorkAvailable();
    return claim;
}

void ProbeEngine::ProbeHere(const char* directory, const char* file, const platform::FileId& id,
                            const WalkOrder& order, DirectoryProbe& out) {
    probe_(directory, file, id, SIZE_MAX, out);
    ++madeHere_;
    QueueChildren(ProbeRequest{directory, file, id, order}, out);
}

void ProbeEngine::QueueChildren(const ProbeRequest& parent, DirectoryProbe& probe) {
    std::vector<ProbeRequest> children;
    children_(parent, probe, children);
    Queue(children);
}

void ProbeEngine::Queue(std::vector<ProbeRequest>& requests) {
    if (workers_.empty() || requests.empty()) return;
    std::vector<Staged>& staged = stager_.Stage(requests);
    std::size_t queued;
    {
        MutexLock lock(mutex_);
        queued = Enqueue(staged);
    }
    staged.clear();
    WakeWorkers(queued);
}

// Out of memory on a worker (the walk itself ends the run instead): none is
// queued, and the walk makes them when it comes to them.
std::vector<ProbeEngine::Staged>& ProbeEngine::Stager::Stage(std::vector<ProbeRequest>& requests) {
    staged_.clear();
    try {
        for (ProbeRequest& request : requests) {
            if (!request.id.valid) continue;
            Staged entry;
            auto slot = slots_.try_emplace(request.id).first;
            slot->second.request = std::move(request);
            entry.slot = slots_.extract(slot);
            entry.place = places_.extract(
                places_.try_emplace(entry.slot.mapped().request.order, nullptr).first);
            staged_.push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        slots_.clear();
        places_.clear();
        staged_.clear();
    }
    return staged_;
}

std::size_t ProbeEngine::Enqueue(std::vector<Staged>& staged) {
    std::size_t queued = 0;
    for (Staged& entry : staged) {
        ProbeRequest& request = entry.slot.mapped().request;
        if (seen_.Insert(request.id)) {
            Slot& slot = slots_.insert(std::move(entry.slot)).position->second;
            entry.place.mapped() = &slot;
            queue_.insert(std::move(entry.place));
            ++queued;
            continue;
        }
        // Met again, by another path: a place earlier in the walk moves it forward.
        auto found = slots_.find(request.id);
        if (found == slots_.end() || found->second.state != State::Queued ||
            !(request.order < found->second.request.order)) {
            continue;
        }
        Slot& slot = found->second;
        QueueMap::node_type old = queue_.extract(slot.request.order);
        std::swap(slot.request, request);  // the old request is freed with the entry
        entry.place.mapped() = &slot;
        queue_.insert(std::move(entry.place));
        entry.place = std::move(old);
    }
    return queued;
}

void ProbeEngine::WakeWorkers(std::size_t count) {
    if (count >= Workers()) {
        workReady_.SignalAll();
        return;
    }
    for (std::size_t i = 0; i < count; ++i) workReady_.Signal();
}

bool ProbeEngine::WorkAvailable() const {
    return !queue_.empty() && held_ < options_.maxHeld && heldBytes_ < options_.maxHeldBytes;
}

void ProbeEngine::WorkerLoop() {
    std::vector<ProbeRequest> children;  // emptied by staging; its room serves every probe
    Stager stager;
    MutexLock lock(mutex_);
    for (;;) {
        while (!stopping_ && !WorkAvailable()) workReady_.Wait(mutex_);
        if (stopping_) return;
        Slot& slot = *queue_.begin()->second;
        QueueMap::node_type place = queue_.extract(queue_.begin());
        slot.state = State::Running;
        ++held_;
        lock.Unlock();
        place = QueueMap::node_type();  // freed without the lock

        // A running slot is left alone by everyone else: its request can be read
        // without the lock.
        DirectoryProbe result;
        std::exception_ptr failure;
        children.clear();
        MakeResult(slot.request, result, failure, children);
        const std::size_t bytes = result.Bytes();
        std::vector<Staged>& staged = stager.Stage(children);

        lock.Lock();
        slot.result = std::move(result);
        slot.failure = failure;
        slot.state = State::Done;
        heldBytes_ += bytes;
        ++made_;
        std::size_t queued = 0;
        try {
            queued = Enqueue(staged);
        } catch (const std::bad_alloc&) {
            // A table could not grow: the requests not linked in are the walk's.
        }
        const bool awaited = awaited_ == &slot;  // the walk waits for this one
        // Woken after the lock is given up, so that those woken do not wait for it
        // at once; a waiter tests its condition again, so a late signal is harmless.
        lock.Unlock();
        staged.clear();
        if (awaited) resultReady_.Signal();
        WakeWorkers(queued);
        lock.Lock();
    }
}

void ProbeEngine::MakeResult(const ProbeRequest& request, DirectoryProbe& result,
                             std::exception_ptr& failure, std::vector<ProbeRequest>& children) {
    try {
        probe_(request.directory.c_str(), request.file.c_str(), request.id, readLimit_, result);
        children_(request, result, children);
    } catch (const std::bad_alloc&) {
        // Out of memory here: the walk makes this probe itself.
        result = DirectoryProbe();
        result.outcome = DirectoryProbe::LeftToWalk;
        children.clear();
    } catch (...) {
        failure = std::current_exception();
        children.clear();
    }
}
