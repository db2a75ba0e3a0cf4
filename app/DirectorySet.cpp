#include "DirectorySet.h"

std::size_t DirectorySet::Home(const Slot& slot) {
    platform::FileId id;
    id.device = slot.device;
    id.inode = slot.inode;
    return platform::FileIdHash()(id);
}

void DirectorySet::SetUsed(std::size_t index, bool used) {
    const uint64_t bit = uint64_t(1) << (index % 64);
    used_[index / 64] = used ? used_[index / 64] | bit : used_[index / 64] & ~bit;
}

bool DirectorySet::Insert(const platform::FileId& id) {
    const std::size_t index = Locate(id.device, id.inode);
    if (Used(index)) return false;
    slots_[index] = Slot{id.device, id.inode};
    SetUsed(index, true);
    if (++count_ * 2 > slots_.size()) Grow();
    return true;
}

bool DirectorySet::Contains(const platform::FileId& id) const {
    return Used(Locate(id.device, id.inode));
}

// Linear probing without tombstones: the entries after the freed slot that
// would no longer be found move back into it.
void DirectorySet::Erase(const platform::FileId& id) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Locate(id.device, id.inode);
    if (!Used(hole)) return;
    SetUsed(hole, false);
    --count_;
    for (std::size_t index = (hole + 1) & mask; Used(index); index = (index + 1) & mask) {
        const std::size_t home = Home(slots_[index]) & mask;
        // Moves back when its home does not lie in the cyclic range (hole, index].
        const bool reachable =
            hole <= index ? (home > hole && home <= index) : (home > hole || home <= index);
        if (reachable) continue;
        slots_[hole] = slots_[index];
        SetUsed(hole, true);
        SetUsed(index, false);
        hole = index;
    }
}

// The slot holding the identity, or the free slot where it would go.
std::size_t DirectorySet::Locate(uint64_t device, uint64_t inode) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = Home(Slot{device, inode}) & mask;; index = (index + 1) & mask) {
        if (!Used(index)) return index;
        const Slot& slot = slots_[index];
        if (slot.device == device && slot.inode == inode) return index;
    }
}

void DirectorySet::Grow() {
    std::vector<Slot> oldSlots(slots_.size() * 2);
    std::vector<uint64_t> oldUsed(used_.size() * 2);
    oldSlots.swap(slots_);
    oldUsed.swap(used_);
    for (std::size_t index = 0; index < oldSlots.size(); ++index) {
        if (!Bit(oldUsed, index)) continue;
        const Slot& slot = oldSlots[index];
        const std::size_t to = Locate(slot.device, slot.inode);
        slots_[to] = slot;
        SetUsed(to, true);
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
