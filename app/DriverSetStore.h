// DriverSetStore: the table the driver-set search fills for a whole run, the
// descriptor values of every set by path text (DirectorySet.h holds the
// directories the walk has entered).
//
// It and DirectorySet are open-addressing tables written for this use instead of
// std::unordered_map and std::unordered_set: each set's record, path and values
// lie in one piece of an arena (Arena.h), the directories in one flat array.
// What that saves, measured: bench/README.md, "Hand-written tables".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Arena.h"

// The values of a DrvSet.ini that the tool uses, read once per file: a light
// view of the values a DriverSetStore keeps for the whole run.
class DriverSetInfo {
public:
    enum Field {
        WindowsVersion,
        SupportedSystems,
        KastrelVersion,
        QuillonVersion,
        CreationDate,
        CreationTime,
        BuildId,
        FieldCount
    };

    DriverSetInfo() = default;
    // values: the field values in field order, each ended by a NUL.
    DriverSetInfo(const char* values, int windowsVersionIndex)
        : values_(values), windowsVersionIndex_(windowsVersionIndex) {}
    const char* Get(Field field) const;  // the value; "" when the key is missing
    int WindowsVersionIndex() const { return windowsVersionIndex_; }

private:
    const char* values_ = nullptr;
    int windowsVersionIndex_ = 1;
};

// The descriptor values of every set read in a run, by path text. Paths and
// values go into an arena's blocks and an open-addressing index of their hashes
// finds them: a handful of allocations in all, and few cache misses per lookup.
class DriverSetStore {
public:
    DriverSetStore();
    // The values stored for the path, or null.
    const DriverSetInfo* Find(std::string_view path) const;
    // Stores the values (FieldCount of them, none holding a NUL) for the path,
    // replacing any stored before. Returns the path as kept by the store; it
    // stays the same when the values are replaced.
    std::string_view Add(std::string_view path, const std::string_view* values,
                         int windowsVersionIndex);

private:
    // Each record sits in a block, followed by its path and its values.
    struct Record {
        uint64_t hash;
        std::size_t length;  // of the path
        DriverSetInfo info;
        const char* Path() const { return reinterpret_cast<const char*>(this + 1); }
    };
    static uint64_t Hash(std::string_view path);
    std::size_t SlotOf(std::string_view path, uint64_t hash) const;
    void Grow();

    Arena arena_;
    std::size_t count_ = 0;
    std::vector<Record*> slots_;  // null for an empty slot
};
