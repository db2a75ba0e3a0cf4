// Arena: memory for many small pieces that all live as long as their owner,
// cut from blocks of 256 KiB and given back together when the arena goes.
// A piece larger than a quarter of a block gets a block of its own, so that
// the current block goes on serving the small ones and little is left unused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class Arena {
public:
    static constexpr std::size_t kBlockBytes = std::size_t(256) << 10;

    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Room for bytes (at least one), at an address that is a multiple of
    // alignment (a power of two, at most alignof(std::max_align_t)). Throws
    // std::bad_alloc when no block can be had.
    char* Allocate(std::size_t bytes, std::size_t alignment) {
        // The bytes skipped up to the next multiple of alignment.
        const std::size_t slop = -reinterpret_cast<std::uintptr_t>(free_) & (alignment - 1);
        if (left_ < slop || left_ - slop < bytes) return AllocateFallback(bytes);
        char* piece = free_ + slop;
        free_ += bytes + slop;
        left_ -= bytes + slop;
        return piece;
    }

private:
    // bytes that do not fit in the current block (a new block's start is
    // aligned for anything).
    char* AllocateFallback(std::size_t bytes);
    char* NewBlock(std::size_t bytes);

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // the rest of the current block
    std::size_t left_ = 0;
};
