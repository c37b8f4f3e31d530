// The engine's own memory: blocks keep their bytes through reallocation,
// freed blocks are used again, and what is in use is counted right.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "script/EngineMemory.h"

TEST(EngineMemory, BlocksKeepTheirBytesAndAreUsedAgain) {
    script::EngineMemory memory;
    std::vector<std::pair<unsigned char*, size_t>> blocks;
    for (size_t size : {0u, 1u, 15u, 16u, 17u, 500u, 1024u, 1025u, 70000u}) {
        auto* block = static_cast<unsigned char*>(memory.allocate(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << size;
        std::memset(block, static_cast<int>(size & 0xFF), size);
        blocks.emplace_back(block, size);
    }
    // Grown across size classes and into a large block, shrunk back: the
    // bytes that fit stay.
    auto* grown = static_cast<unsigned char*>(memory.reallocate(blocks[5].first, 3000));
    for (size_t i = 0; i < 500; ++i) ASSERT_EQ(grown[i], 500 & 0xFF) << i;
    blocks[5].first = grown;
    blocks[5].second = 500;
    for (auto& [block, size] : blocks)
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(block[i], size & 0xFF) << size;
    for (auto& [block, size] : blocks) memory.release(block);
    EXPECT_EQ(memory.liveBytes(), 0u);
    // A freed small block of a class is the next one of that class.
    void* first = memory.allocate(40);
    memory.release(first);
    EXPECT_EQ(memory.allocate(33), first);
    EXPECT_EQ(memory.reallocate(first, 0), nullptr);
    EXPECT_EQ(memory.liveBytes(), 0u);
}
