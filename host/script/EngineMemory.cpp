#include "script/EngineMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace script {

EngineMemory::~EngineMemory() {
    for (void* slab : mSlabs) std::free(slab);
}

void* EngineMemory::carve(size_t sizeClass) {
    const size_t bytes = sizeof(Header) + sizeClass * kGranule;
    if (mLeft < bytes) {
        void* slab = std::malloc(kSlabBytes);
        if (!slab) return nullptr;
        mSlabs.push_back(slab);
        mCursor = static_cast<char*>(slab);
        mLeft = kSlabBytes;
    }
    void* block = mCursor;
    mCursor += bytes;
    mLeft -= bytes;
    return block;
}

void* EngineMemory::allocate(size_t size) {
    const size_t sizeClass = size == 0 ? 1 : (size + kGranule - 1) / kGranule;
    Header* header = nullptr;
    if (sizeClass <= kClasses) {
        if (void* free = mFree[sizeClass]) {
            std::memcpy(&mFree[sizeClass], static_cast<Header*>(free) + 1, sizeof(void*));
            header = static_cast<Header*>(free);
        } else {
            header = static_cast<Header*>(carve(sizeClass));
        }
        if (!header) return nullptr;
        *header = {sizeClass, sizeClass * kGranule};
    } else {
        header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
        if (!header) return nullptr;
        *header = {0, size};
        mLarge += size;
    }
    mLive += header->size;
    return header + 1;
}

void EngineMemory::release(void* block) {
    if (!block) return;
    Header* header = static_cast<Header*>(block) - 1;
    mLive -= header->size;
    if (header->sizeClass == 0) {
        mLarge -= header->size;
        std::free(header);
        return;
    }
    std::memcpy(block, &mFree[header->sizeClass], sizeof(void*));
    mFree[header->sizeClass] = header;
}

void* EngineMemory::reallocate(void* block, size_t size) {
    if (!block) return allocate(size);
    if (size == 0) {
        release(block);
        return nullptr;
    }
    const Header* header = static_cast<Header*>(block) - 1;
    if (header->sizeClass != 0 && size <= header->size) return block;  // it fits where it is
    void* moved = allocate(size);
    if (!moved) return nullptr;  // the old block stays, as realloc leaves it
    std::memcpy(moved, block, std::min(header->size, size));
    release(block);
    return moved;
}

}  // namespace script
