// The descriptor store of the driver-set search; see DriverSetStore.h for why it
// is written here.
#include "DriverSetStore.h"

#include <cstring>
#include <new>

const char* DriverSetInfo::Get(Field field) const {
    if (values_ == nullptr) return "";
    const char* value = values_;
    for (int skipped = 0; skipped < field; ++skipped) value += std::strlen(value) + 1;
    return value;
}

DriverSetStore::DriverSetStore() : slots_(1024, nullptr) {}

// Eight bytes at a time, multiplied and folded: paths share long prefixes, so
// every byte must count, and tens of thousands of lookups must stay cheap.
uint64_t DriverSetStore::Hash(std::string_view path) {
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ path.size();
    const char* bytes = path.data();
    std::size_t left = path.size();
    for (; left >= 8; left -= 8, bytes += 8) {
        uint64_t word;
        std::memcpy(&word, bytes, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
    }
    uint64_t tail = 0;
    if (left > 0) std::memcpy(&tail, bytes, left);
    hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 29);
}

// The slot holding the path, or the empty slot where it would go.
std::size_t DriverSetStore::SlotOf(std::string_view path, uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const Record* record = slots_[slot];
        if (record == nullptr) return slot;
        if (record->hash == hash && std::string_view(record->Path(), record->length) == path) {
            return slot;
        }
    }
}

const DriverSetInfo* DriverSetStore::Find(std::string_view path) const {
    const Record* record = slots_[SlotOf(path, Hash(path))];
    return record == nullptr ? nullptr : &record->info;
}

void DriverSetStore::Grow() {
    std::vector<Record*> old(slots_.size() * 2, nullptr);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (Record* record : old) {
        if (record == nullptr) continue;
        std::size_t slot = record->hash & mask;
        while (slots_[slot] != nullptr) slot = (slot + 1) & mask;
        slots_[slot] = record;
    }
}

std::string_view DriverSetStore::Add(std::string_view path, const std::string_view* values,
                                     int windowsVersionIndex) {
    const uint64_t hash = Hash(path);
    const std::size_t slot = SlotOf(path, hash);
    Record* record = slots_[slot];
    std::size_t size = 0;
    for (int field = 0; field < DriverSetInfo::FieldCount; ++field) {
        size += values[field].size() + 1;
    }
    char* kept;
    if (record != nullptr) {
        kept = arena_.Allocate(size, 1);
    } else {
        char* piece = arena_.Allocate(sizeof(Record) + path.size() + size, alignof(Record));
        record = new (piece) Record{hash, path.size(), {}};
        std::memcpy(record + 1, path.data(), path.size());
        kept = reinterpret_cast<char*>(record + 1) + path.size();
        slots_[slot] = record;
        if (++count_ * 2 > slots_.size()) Grow();
    }
    record->info = DriverSetInfo(kept, windowsVersionIndex);
    for (int field = 0; field < DriverSetInfo::FieldCount; ++field) {
        if (!values[field].empty()) std::memcpy(kept, values[field].data(), values[field].size());
        kept += values[field].size();
        *kept++ = '\0';
    }
    return std::string_view(record->Path(), record->length);
}
