#include "DirectorySet.h"

bool DirectorySet::Insert(const platform::FileId& id) {
    Slot& slot = slots_[Locate(id.device, id.inode)];
    if (slot.used) return false;
    slot = {id.device, id.inode, true};
    if (++count_ * 2 > slots_.size()) Grow();
    return true;
}

bool DirectorySet::Contains(const platform::FileId& id) const {
    return slots_[Locate(id.device, id.inode)].used;
}

// Linear probing without tombstones: the entries after the freed slot that
// would no longer be found move back into it.
void DirectorySet::Erase(const platform::FileId& id) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Locate(id.device, id.inode);
    if (!slots_[hole].used) return;
    slots_[hole].used = false;
    --count_;
    for (std::size_t index = (hole + 1) & mask; slots_[index].used; index = (index + 1) & mask) {
        const std::size_t home = Hash(slots_[index].device, slots_[index].inode) & mask;
        // Moves back when its home does not lie in the cyclic range (hole, index].
        const bool reachable =
            hole <= index ? (home > hole && home <= index) : (home > hole || home <= index);
        if (reachable) continue;
        slots_[hole] = slots_[index];
        slots_[index].used = false;
        hole = index;
    }
}

std::size_t DirectorySet::Hash(uint64_t device, uint64_t inode) {
    uint64_t hash = (inode ^ (device * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}

// The slot holding the identity, or the empty slot where it would go.
std::size_t DirectorySet::Locate(uint64_t device, uint64_t inode) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = Hash(device, inode) & mask;; index = (index + 1) & mask) {
        const Slot& slot = slots_[index];
        if (!slot.used || (slot.device == device && slot.inode == inode)) return index;
    }
}

void DirectorySet::Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
        if (slot.used) slots_[Locate(slot.device, slot.inode)] = slot;
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
