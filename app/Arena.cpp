#include "Arena.h"

#include <utility>

char* Arena::AllocateFallback(std::size_t bytes) {
    if (bytes > kBlockBytes / 4) return NewBlock(bytes);
    // What is left of the current block stays unused.
    free_ = NewBlock(kBlockBytes);
    left_ = kBlockBytes;
    char* piece = free_;
    free_ += bytes;
    left_ -= bytes;
    return piece;
}

char* Arena::NewBlock(std::size_t bytes) {
    std::unique_ptr<char[]> block(new char[bytes]);  // uninitialised: pages are touched as used
    char* start = block.get();
    blocks_.push_back(std::move(block));
    return start;
}
