#include "DirectorySet.h"

bool DirectorySet::Insert(const platform::FileId& id) {
    platform::FileId& slot = slots_[Locate(id)];
    if (slot.valid) return false;
    slot = platform::FileId{id.device, id.inode, true};
    if (++count_ * 2 > slots_.size()) Grow();
    return true;
}

bool DirectorySet::Contains(const platform::FileId& id) const { return slots_[Locate(id)].valid; }

// Linear probing without tombstones: the entries after the freed slot that
// would no longer be found move back into it.
void DirectorySet::Erase(const platform::FileId& id) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Locate(id);
    if (!slots_[hole].valid) return;
    slots_[hole].valid = false;
    --count_;
    for (std::size_t index = (hole + 1) & mask; slots_[index].valid; index = (index + 1) & mask) {
        const std::size_t home = platform::FileIdHash()(slots_[index]) & mask;
        // Moves back when its home does not lie in the cyclic range (hole, index].
        const bool reachable =
            hole <= index ? (home > hole && home <= index) : (home > hole || home <= index);
        if (reachable) continue;
        slots_[hole] = slots_[index];
        slots_[index].valid = false;
        hole = index;
    }
}

// The slot holding the identity, or the empty slot where it would go.
std::size_t DirectorySet::Locate(const platform::FileId& id) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = platform::FileIdHash()(id) & mask;; index = (index + 1) & mask) {
        const platform::FileId& slot = slots_[index];
        if (!slot.valid || platform::FileIdEqual()(slot, id)) return index;
    }
}

void DirectorySet::Grow() {
    std::vector<platform::FileId> old(slots_.size() * 2);
    old.swap(slots_);
    for (const platform::FileId& slot : old) {
        if (slot.valid) slots_[Locate(slot)] = slot;
    }
}

void EnteredDirectories::Enter(const platform::FileId& id) {
    if (id.valid) entered_.Insert(id);
}

bool EnteredDirectories::Confirm(const platform::FileId& id, const platform::FileId& own) {
    if (!own.valid || own == id) return true;
    entered_.Erase(id);
    return entered_.Insert(own);
}
