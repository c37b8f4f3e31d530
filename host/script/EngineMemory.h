// The memory of one engine's heap. The interpreter makes and frees many
// small blocks (a page's environment alone is about a thousand); they come
// from free lists by size, carved out of 64 KB slabs, and larger blocks from
// malloc. An engine is used by one thread at a time, so no lock is taken,
// and no other thread's allocations contend with a page's.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace script {

class EngineMemory {
public:
    EngineMemory() = default;
    ~EngineMemory();
    EngineMemory(const EngineMemory&) = delete;
    EngineMemory& operator=(const EngineMemory&) = delete;

    void* allocate(size_t size);
    void* reallocate(void* block, size_t size);
    void release(void* block);

    // The bytes of the blocks in use, and of all the memory held.
    size_t liveBytes() const { return mLive; }
    size_t heldBytes() const { return mSlabs.size() * kSlabBytes + mLarge; }

private:
    static constexpr size_t kGranule = 16;
    static constexpr size_t kClasses = 64;  // small blocks: up to 1,024 bytes
    static constexpr size_t kSlabBytes = 64 * 1024;

    // Before each block: its size class (0 for a large block) and size.
    struct Header {
        size_t sizeClass;
        size_t size;
    };
    static_assert(sizeof(Header) == kGranule, "blocks stay 16-byte aligned");

    void* carve(size_t sizeClass);

    std::array<void*, kClasses + 1> mFree{};
    std::vector<void*> mSlabs;
    char* mCursor = nullptr;
    size_t mLeft = 0;
    size_t mLive = 0;
    size_t mLarge = 0;
};

}  // namespace script
