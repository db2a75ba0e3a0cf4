// Directories told apart by identity: DirectorySet, a flat open-addressing set
// of identities, and EnteredDirectories, the tree walk's rule for when a
// directory counts as entered before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Platform.h"

// Identities (device and file number), as a flat open-addressing set: one
// array of numbers and a bitmap of the slots in use, no node per directory. A
// walk enters every directory it meets, so the table is as large as the tree:
// sixteen bytes a slot.
class DirectorySet {
public:
    DirectorySet() : slots_(1024), used_(1024 / 64) {}

    // False when the identity was there already.
    bool Insert(const platform::FileId& id);
    bool Contains(const platform::FileId& id) const;
    void Erase(const platform::FileId& id);

private:
    struct Slot {
        uint64_t device;
        uint64_t inode;
    };
    static std::size_t Home(const Slot& slot);
    static bool Bit(const std::vector<uint64_t>& bits, std::size_t index) {
        return (bits[index / 64] >> (index % 64)) & 1;
    }
    bool Used(std::size_t index) const { return Bit(used_, index); }
    void SetUsed(std::size_t index, bool used);
    std::size_t Locate(uint64_t device, uint64_t inode) const;
    void Grow();

    // An identity is looked up by its numbers alone, whatever its flags.
    std::vector<Slot> slots_;
    std::vector<uint64_t> used_;
    std::size_t count_ = 0;
};

// The directories a walk has entered. A directory is left out as entered before
// only when the file system says it is the same directory as one entered:
// - An identity from a listing is a hint. One that matches no directory
//   entered is taken as it is (no query: the common case on a local disk).
//   One that matches is checked against the directory's own identity first.
// - An unknown identity (a file system that gives no numbers) is asked of the
//   directory itself; where that cannot tell either, the directory is new.
// - Once the walk has opened a directory it may learn its own identity; a hint
//   that proves wrong (a mount point shows the number of the directory it
//   covers, on the parent's device) is replaced by it, and a directory whose
//   own identity was entered before is left out then.
class EnteredDirectories {
public:
    // Whether the directory with this identity (a hint, or invalid) is new to
    // the walk; ownId() gives its own identity and is called only when the hint
    // cannot settle it. On true, id is the identity to enter it under (Enter).
    template <class OwnId>
    bool IsNew(platform::FileId& id, OwnId ownId) const {
        if (id.valid && !entered_.Contains(id)) return true;
        const platform::FileId own = ownId();
        if (own.valid && entered_.Contains(own)) return false;
        id = own;
        return true;
    }

    // Records a directory the walk enters (an invalid identity records nothing).
    void Enter(const platform::FileId& id);

    // The directory entered as id has the identity own (invalid: not learned).
    // False when that is a directory entered before: the walk leaves it.
    bool Confirm(const platform::FileId& id, const platform::FileId& own);

    const DirectorySet& Set() const { return entered_; }

private:
    DirectorySet entered_;
};
