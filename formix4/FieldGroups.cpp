#include "FieldGroups.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/CodePage.h"

// ---- FormArena ------------------------------------------------------------------------

namespace {

constexpr size_t kFirstBlockSize = 64 * 1024;
constexpr size_t kMaxBlockSize = 8u << 20;
constexpr size_t kPoolBytes = 64u << 20;

size_t RoundUp(size_t inValue, size_t inTo) { return (inValue + inTo - 1) / inTo * inTo; }

size_t PowerOfTwoAtLeast(size_t inValue) {
    size_t theSize = kFirstBlockSize;
    while (theSize < inValue) theSize *= 2;
    return theSize;
}

// Blocks that forms gave back, kept for the next forms up to a bound shared
// by all threads: parses in a row, or side by side, do not map, fault in and
// unmap (with the flushes that costs every core) the same memory again and
// again. Beyond the bound a block goes back to the system at once. Taken
// once per block, never per field.
class BlockPool {
public:
    static BlockPool& Instance() {
        static BlockPool* thePool = new BlockPool;  // lives as long as the process's last form
        return *thePool;
    }

    void* take(size_t inSize) {
        {
            std::lock_guard<std::mutex> theLock(mLock);
            for (size_t i = mFree.size(); i-- > 0;)
                if (mFree[i].second == inSize) {
                    void* theBlock = mFree[i].first;
                    mFree.erase(mFree.begin() + static_cast<std::ptrdiff_t>(i));
                    mCached -= inSize;
                    return theBlock;
                }
        }
        void* theMemory = mmap(nullptr, inSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (theMemory == MAP_FAILED) throw std::bad_alloc();
        return theMemory;
    }

    void give(void* inBlock, size_t inSize) {
        {
            std::lock_guard<std::mutex> theLock(mLock);
            if (mCached + inSize <= kPoolBytes) {
                mFree.emplace_back(inBlock, inSize);
                mCached += inSize;
                return;
            }
        }
        munmap(inBlock, inSize);
    }

private:
    std::mutex mLock;
    std::vector<std::pair<void*, size_t>> mFree;
    size_t mCached = 0;
};

}  // namespace

void FormArena::addBlock(size_t inAtLeast) {
    // Sizes are powers of two, so that a block given back fits the next
    // form's request; pages never written are never backed by memory.
    const size_t theSize = PowerOfTwoAtLeast(std::max(mNextBlockSize, inAtLeast + sizeof(Block)));
    void* theMemory = BlockPool::Instance().take(theSize);
    auto* theBlock = static_cast<Block*>(theMemory);
    theBlock->previous = mLast;
    theBlock->size = theSize;
    mLast = theBlock;
    mNext = static_cast<char*>(theMemory) + sizeof(Block);
    mEnd = static_cast<char*>(theMemory) + theSize;
    mNextBlockSize = std::min(mNextBlockSize * 2, kMaxBlockSize);
}

void* FormArena::allocate(size_t inSize, size_t inAlign) {
    auto theAligned = [&] { return reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(mNext), inAlign)); };
    if (!mLast || inSize + inAlign > static_cast<size_t>(mEnd - theAligned())) addBlock(inSize + inAlign);
    char* theStart = theAligned();
    mNext = theStart + inSize;
    return theStart;
}

void FormArena::release() {
    while (mLast) {
        Block* thePrevious = mLast->previous;
        BlockPool::Instance().give(mLast, mLast->size);
        mLast = thePrevious;
    }
    mNext = mEnd = nullptr;
    mNextBlockSize = kFirstBlockSize;
}

// ---- FormText -------------------------------------------------------------------------

FormText FormText::Make(FormArena& inArena, std::u16string_view inText) {
    FormText theText;
    if (inText.empty()) return theText;
    auto* theLength = static_cast<uint32_t*>(
        inArena.allocate(sizeof(uint32_t) + (inText.size() + 1) * sizeof(char16_t), alignof(uint32_t)));
    *theLength = static_cast<uint32_t>(inText.size());
    auto* theUnits = reinterpret_cast<char16_t*>(theLength + 1);
    std::memcpy(theUnits, inText.data(), inText.size() * sizeof(char16_t));
    theUnits[inText.size()] = 0;
    theText.mText = theUnits;
    return theText;
}

size_t FormText::size() const {
    return mText ? *reinterpret_cast<const uint32_t*>(reinterpret_cast<const char*>(mText) - sizeof(uint32_t)) : 0;
}

// ---- FieldGroup -----------------------------------------------------------------------

const MultipartItem* FieldGroup::itemAt(int inNumber) const {
    if (inNumber < 0 || inNumber >= mCount) return nullptr;
    return inNumber == 0 ? mFirst : mItems[inNumber - 1];
}

// ---- FieldGroups ----------------------------------------------------------------------

namespace {

// Code pages whose bytes below 0x80 are ASCII, one byte each: the pages the
// platform converts by its own tables.
bool AsciiCompatible(uint32_t inCodePage) {
    return inCodePage == CP_UTF8 || (inCodePage >= 1250 && inCodePage <= 1258);
}

uint32_t HashKey(const char16_t* inKey, uint32_t inLength) {
    uint64_t theHash = 0xcbf29ce484222325ull;
    for (uint32_t i = 0; i < inLength; ++i) theHash = (theHash ^ inKey[i]) * 0x100000001b3ull;
    return static_cast<uint32_t>(theHash ^ (theHash >> 32));
}

}  // namespace

namespace {

// The longest character of any code page the platform converts, in bytes.
const int kLongestCharacter = 4;

// The key of a name that is not wholly text: each character that converts
// on its own is folded, each byte that starts none is escaped.
uint32_t MixedKey(const unsigned char* inBytes, size_t inLength, uint32_t inCodePage, char16_t* outKey) {
    uint32_t theUnits = 0;
    for (size_t i = 0; i < inLength;) {
        int theConverted = 0, theTaken = 1;
        for (; theTaken <= kLongestCharacter && i + theTaken <= inLength; ++theTaken) {
            theConverted =
                MultiByteToWideChar(inCodePage, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(inBytes + i),
                                    theTaken, outKey + theUnits, 2);
            if (theConverted > 0) break;
        }
        if (theConverted > 0) {
            for (int u = 0; u < theConverted; ++u)
                outKey[theUnits + u] = platform::codepage::FoldUnit(outKey[theUnits + u]);
            theUnits += static_cast<uint32_t>(theConverted);
            i += static_cast<size_t>(theTaken);
        } else {
            outKey[theUnits++] = static_cast<char16_t>(0xDC00 + inBytes[i++]);
        }
    }
    return theUnits;
}

}  // namespace

uint32_t GroupKey(const char* inName, size_t inLength, uint32_t inCodePage, char16_t* outKey, bool* outText) {
    if (outText) *outText = true;
    const auto* theBytes = reinterpret_cast<const unsigned char*>(inName);
    if (AsciiCompatible(inCodePage)) {
        size_t i = 0;
        for (; i < inLength && theBytes[i] < 0x80; ++i) {
            const unsigned char c = theBytes[i];
            outKey[i] = static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        if (i == inLength) return static_cast<uint32_t>(inLength);
    }
    const int theUnits = inLength ? MultiByteToWideChar(inCodePage, MB_ERR_INVALID_CHARS, inName,
                                                        static_cast<int>(inLength), outKey, static_cast<int>(inLength))
                                  : 0;
    if (inLength && theUnits <= 0) {
        if (outText) *outText = false;
        return MixedKey(theBytes, inLength, inCodePage, outKey);
    }
    for (int i = 0; i < theUnits; ++i) outKey[i] = platform::codepage::FoldUnit(outKey[i]);
    return static_cast<uint32_t>(theUnits);
}

bool FieldGroup::HasKey(const char16_t* inKey, uint32_t inKeyLength) const {
    if (inKeyLength != mKeyLength) return false;
    if (mKey) return std::memcmp(mKey, inKey, inKeyLength * sizeof(char16_t)) == 0;
    for (uint32_t i = 0; i < inKeyLength; ++i) {
        const auto c = static_cast<unsigned char>(mName[i]);
        if (inKey[i] != (c >= 'A' && c <= 'Z' ? c + 32 : c)) return false;
    }
    return true;
}

int FieldGroups::Lookup(const char16_t* inKey, uint32_t inKeyLength, uint32_t inHash) const {
    if (!mSlotCount) return -1;
    const uint32_t theMask = mSlotCount - 1;
    for (uint32_t i = inHash & theMask;; i = (i + 1) & theMask) {
        if (!mSlots[i]) return -1;
        const FieldGroup* theGroup = At(static_cast<int>(mSlots[i] - 1));
        if (theGroup->mHash == inHash && theGroup->HasKey(inKey, inKeyLength)) return static_cast<int>(mSlots[i] - 1);
    }
}

void FieldGroups::GrowTable() {
    const uint32_t theCount = mSlotCount ? mSlotCount * 2 : 16;
    void* theMemory = BlockPool::Instance().take(PowerOfTwoAtLeast(theCount * sizeof(uint32_t)));
    std::memset(theMemory, 0, theCount * sizeof(uint32_t));  // zero: empty
    ReleaseTable();
    mSlots = static_cast<uint32_t*>(theMemory);
    mSlotCount = theCount;
    for (uint32_t g = 0; g < mCount; ++g) {
        uint32_t i = At(static_cast<int>(g))->mHash & (theCount - 1);
        while (mSlots[i]) i = (i + 1) & (theCount - 1);
        mSlots[i] = g + 1;
    }
}

void FieldGroups::ReleaseTable() {
    if (mSlots) BlockPool::Instance().give(mSlots, PowerOfTwoAtLeast(mSlotCount * sizeof(uint32_t)));
    mSlots = nullptr;
    mSlotCount = 0;
}

FieldGroup* FieldGroups::NewGroup(const char* inName, size_t inNameLength, bool inText, const char16_t* inKey,
                                  uint32_t inKeyLength, uint32_t inHash) {
    if ((mCount + 1) * 2 > mSlotCount) GrowTable();
    const uint32_t theChunkSize = 1u << kChunkShift;
    if (mCount % theChunkSize == 0) mChunks.push_back(mArena.allocateArray<FieldGroup*>(theChunkSize));
    char* theName = mArena.allocateArray<char>(inNameLength + 1);
    std::memcpy(theName, inName, inNameLength);
    theName[inNameLength] = 0;
    // A name whose key is its ASCII letters folded needs no key of its own.
    bool theAsciiKey = inKeyLength == inNameLength;
    for (uint32_t i = 0; theAsciiKey && i < inKeyLength; ++i) {
        const auto c = static_cast<unsigned char>(inName[i]);
        theAsciiKey = inKey[i] == (c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    char16_t* theKey = nullptr;
    if (!theAsciiKey) {
        theKey = mArena.allocateArray<char16_t>(inKeyLength ? inKeyLength : 1);
        std::memcpy(theKey, inKey, inKeyLength * sizeof(char16_t));
    }
    auto* theGroup = new (mArena.allocate(sizeof(FieldGroup), alignof(FieldGroup)))
        FieldGroup(theName, static_cast<uint32_t>(inNameLength), theKey, inKeyLength, inHash);
    uint32_t i = inHash & (mSlotCount - 1);
    while (mSlots[i]) i = (i + 1) & (mSlotCount - 1);
    mSlots[i] = mCount + 1;
    mChunks.back()[mCount % theChunkSize] = theGroup;
    if (!inText) mRawGroups.push_back(mCount);
    ++mCount;
    return theGroup;
}

void FieldGroups::Append(const char* inName, const MultipartItem& inItem) {
    const size_t theNameLength = inName ? strnlen(inName, kMaxName) : 0;
    char16_t theKey[kMaxName + 1];
    bool theText = true;
    const uint32_t theKeyLength = GroupKey(inName, theNameLength, mAnsiCodePage, theKey, &theText);
    const uint32_t theHash = HashKey(theKey, theKeyLength);
    const int theNumber = Lookup(theKey, theKeyLength, theHash);
    FieldGroup* theGroup =
        theNumber >= 0 ? At(theNumber) : NewGroup(inName, theNameLength, theText, theKey, theKeyLength, theHash);
    if (mItemRuns.empty() || mItemRuns.back().count == mItemRuns.back().capacity) {
        // Runs grow from 64 items to 4,096, so that a small form stays small.
        const uint32_t theCapacity = mItemRuns.empty() ? 64 : std::min(mItemRuns.back().capacity * 2, 4096u);
        mItemRuns.push_back(ItemRun{mArena.allocateArray<MultipartItem>(theCapacity),
                                    mArena.allocateArray<uint32_t>(theCapacity), 0, theCapacity});
    }
    ItemRun& theRun = mItemRuns.back();
    MultipartItem* theItem = new (&theRun.items[theRun.count]) MultipartItem(inItem);
    theRun.groups[theRun.count++] = static_cast<uint32_t>(theNumber >= 0 ? theNumber : static_cast<int>(mCount) - 1);
    if (!theGroup->mFirst) theGroup->mFirst = theItem;
    ++theGroup->mCount;
    if (mSealed) {
        mSealed = false;
        Seal();
    }
}

void FieldGroups::Seal() {
    if (mSealed) return;
    // Each group of several items gets its array, filled in one pass over
    // the items in body order.
    for (uint32_t g = 0; g < mCount; ++g) {
        FieldGroup* theGroup = At(static_cast<int>(g));
        theGroup->mNumbered = 0;
        theGroup->mItems = theGroup->mCount > 1
                               ? mArena.allocateArray<const MultipartItem*>(static_cast<size_t>(theGroup->mCount - 1))
                               : nullptr;
    }
    for (const ItemRun& theRun : mItemRuns)
        for (uint32_t i = 0; i < theRun.count; ++i) {
            FieldGroup* theGroup = At(static_cast<int>(theRun.groups[i]));
            if (theGroup->mNumbered++ > 0) theGroup->mItems[theGroup->mNumbered - 2] = &theRun.items[i];
        }
    mSealed = true;
}

int FieldGroups::Find(const char* inName) const {
    // A name longer than any group's is no group's name: names are cut as
    // groups are made, not as they are looked up.
    const size_t theNameLength = inName ? strnlen(inName, kMaxName + 1) : 0;
    if (theNameLength > kMaxName) return -1;
    char16_t theKey[kMaxName + 1];
    const uint32_t theKeyLength = GroupKey(inName, theNameLength, mAnsiCodePage, theKey);
    return Lookup(theKey, theKeyLength, HashKey(theKey, theKeyLength));
}

std::u16string FieldGroups::ShownKey(const FieldGroup& inGroup) const {
    std::u16string theShown =
        platform::codepage::ToUtf16(std::string_view(inGroup.mName, inGroup.mNameLength), mAnsiCodePage);
    for (char16_t& c : theShown) c = platform::codepage::FoldUnit(c);
    return theShown;
}

int FieldGroups::FindShown(std::u16string_view inText) const {
    std::u16string theKey(inText);
    for (char16_t& c : theKey) c = platform::codepage::FoldUnit(c);
    // A name that is text is shown as that text, and its key is the text
    // folded: the hash table finds it. The key of a name that is no text
    // may look like a text's, so the group found must show this text.
    int theFound = -1;
    if (theKey.size() <= kMaxName) {
        const auto theLength = static_cast<uint32_t>(theKey.size());
        theFound = Lookup(theKey.data(), theLength, HashKey(theKey.data(), theLength));
        if (theFound >= 0 && ShownKey(*At(theFound)) != theKey) theFound = -1;
    }
    for (; mRawShownCount < mRawGroups.size(); ++mRawShownCount) {
        const uint32_t theNumber = mRawGroups[mRawShownCount];
        mRawShown.emplace(ShownKey(*At(static_cast<int>(theNumber))), theNumber);  // the first stays
    }
    const auto theRaw = mRawShown.find(theKey);
    if (theRaw != mRawShown.end() && (theFound < 0 || theRaw->second < static_cast<uint32_t>(theFound)))
        theFound = static_cast<int>(theRaw->second);
    return theFound;
}

FieldGroup* FieldGroups::At(int inNumber) const {
    if (inNumber < 0 || static_cast<uint32_t>(inNumber) >= mCount) return nullptr;
    const auto theNumber = static_cast<uint32_t>(inNumber);
    return mChunks[theNumber >> kChunkShift][theNumber & ((1u << kChunkShift) - 1)];
}

void FieldGroups::Clear() {
    mArena.release();
    ReleaseTable();
    mChunks.clear();
    mChunks.shrink_to_fit();
    mItemRuns.clear();
    mItemRuns.shrink_to_fit();
    mRawGroups.clear();
    mRawGroups.shrink_to_fit();
    mRawShown.clear();
    mRawShownCount = 0;
    mCount = 0;
    mSealed = false;
}
