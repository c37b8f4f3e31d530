#include "FieldGroups.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/CodePage.h"

// ---- FormArena ------------------------------------------------------------------------

namespace {

constexpr size_t kMaxBlockSize = 8u << 20;

size_t RoundUp(size_t inValue, size_t inTo) { return (inValue + inTo - 1) / inTo * inTo; }

}  // namespace

void FormArena::addBlock(size_t inAtLeast) {
    const size_t theSize = RoundUp(std::max(mNextBlockSize, inAtLeast + sizeof(Block)), 4096);
    void* theMemory = mmap(nullptr, theSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (theMemory == MAP_FAILED) throw std::bad_alloc();
    auto* theBlock = static_cast<Block*>(theMemory);
    theBlock->previous = mLast;
    theBlock->size = theSize;
    mLast = theBlock;
    mNext = static_cast<char*>(theMemory) + sizeof(Block);
    mEnd = static_cast<char*>(theMemory) + theSize;
    mReserved += theSize;
    mNextBlockSize = std::min(mNextBlockSize * 2, kMaxBlockSize);
}

void* FormArena::allocate(size_t inSize, size_t inAlign) {
    auto theAligned = [&] {
        return reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(mNext), inAlign));
    };
    if (!mLast || inSize + inAlign > static_cast<size_t>(mEnd - theAligned())) addBlock(inSize + inAlign);
    char* theStart = theAligned();
    mNext = theStart + inSize;
    return theStart;
}

void FormArena::release() {
    while (mLast) {
        Block* thePrevious = mLast->previous;
        munmap(mLast, mLast->size);
        mLast = thePrevious;
    }
    mNext = mEnd = nullptr;
    mReserved = 0;
    mNextBlockSize = 64 * 1024;
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
    if (mItems) return mItems[inNumber];
    const Node* theNode = mFirst;
    for (int i = 0; i < inNumber; ++i) theNode = theNode->next;
    return &theNode->item;
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

uint32_t GroupKey(const char* inName, size_t inLength, uint32_t inCodePage, char16_t* outKey) {
    const auto* theBytes = reinterpret_cast<const unsigned char*>(inName);
    if (AsciiCompatible(inCodePage)) {
        size_t i = 0;
        for (; i < inLength && theBytes[i] < 0x80; ++i)
            outKey[i] = static_cast<char16_t>(theBytes[i] >= 'A' && theBytes[i] <= 'Z' ? theBytes[i] + 32 : theBytes[i]);
        if (i == inLength) return static_cast<uint32_t>(inLength);
    }
    const int theUnits = inLength ? MultiByteToWideChar(inCodePage, MB_ERR_INVALID_CHARS, inName,
                                                        static_cast<int>(inLength), outKey, static_cast<int>(inLength))
                                  : 0;
    if (inLength && theUnits <= 0) {
        // Bytes that are no text in the code page compare as they are.
        outKey[0] = u'\x01';
        for (size_t i = 0; i < inLength; ++i) outKey[i + 1] = theBytes[i];
        return static_cast<uint32_t>(inLength + 1);
    }
    for (int i = 0; i < theUnits; ++i) outKey[i] = platform::codepage::FoldUnit(outKey[i]);
    return static_cast<uint32_t>(theUnits);
}

int FieldGroups::Lookup(const char16_t* inKey, uint32_t inKeyLength, uint32_t inHash) const {
    if (!mSlotMask) return -1;
    for (uint32_t i = inHash & mSlotMask;; i = (i + 1) & mSlotMask) {
        const Slot& theSlot = mSlots[i];
        if (theSlot.group < 0) return -1;
        const FieldGroup* theGroup = mGroups[theSlot.group];
        if (theSlot.hash == inHash && theGroup->mKeyLength == inKeyLength &&
            std::memcmp(theGroup->mKey, inKey, inKeyLength * sizeof(char16_t)) == 0)
            return theSlot.group;
    }
}

void FieldGroups::Grow() {
    // The group list and the table double together; the table stays at most
    // half full. Outgrown arrays stay in the arena until the form goes.
    const uint32_t theCapacity = mCapacity ? mCapacity * 2 : 8;
    auto** theGroups = mArena.allocateArray<FieldGroup*>(theCapacity);
    if (mCount) std::memcpy(theGroups, mGroups, mCount * sizeof(FieldGroup*));
    mGroups = theGroups;
    mCapacity = theCapacity;
    const uint32_t theSlots = theCapacity * 2;
    mSlots = mArena.allocateArray<Slot>(theSlots);
    std::fill(mSlots, mSlots + theSlots, Slot{0, -1});
    mSlotMask = theSlots - 1;
    for (uint32_t g = 0; g < mCount; ++g) {
        uint32_t i = mGroups[g]->mHash & mSlotMask;
        while (mSlots[i].group >= 0) i = (i + 1) & mSlotMask;
        mSlots[i] = Slot{mGroups[g]->mHash, static_cast<int32_t>(g)};
    }
}

FieldGroup* FieldGroups::NewGroup(const char* inName, size_t inNameLength, const char16_t* inKey, uint32_t inKeyLength,
                                  uint32_t inHash) {
    if (mCount == mCapacity) Grow();
    char* theName = mArena.allocateArray<char>(inNameLength + 1);
    std::memcpy(theName, inName, inNameLength);
    theName[inNameLength] = 0;
    auto* theKey = mArena.allocateArray<char16_t>(inKeyLength ? inKeyLength : 1);
    std::memcpy(theKey, inKey, inKeyLength * sizeof(char16_t));
    auto* theGroup = new (mArena.allocate(sizeof(FieldGroup), alignof(FieldGroup)))
        FieldGroup(theName, theKey, inKeyLength, inHash);
    uint32_t i = inHash & mSlotMask;
    while (mSlots[i].group >= 0) i = (i + 1) & mSlotMask;
    mSlots[i] = Slot{inHash, static_cast<int32_t>(mCount)};
    mGroups[mCount++] = theGroup;
    return theGroup;
}

void FieldGroups::Append(const char* inName, const MultipartItem& inItem) {
    const size_t theNameLength = inName ? strnlen(inName, kMaxName) : 0;
    char16_t theKey[kMaxName + 1];
    const uint32_t theKeyLength = GroupKey(inName, theNameLength, mAnsiCodePage, theKey);
    const uint32_t theHash = HashKey(theKey, theKeyLength);
    const int theNumber = Lookup(theKey, theKeyLength, theHash);
    FieldGroup* theGroup =
        theNumber >= 0 ? mGroups[theNumber] : NewGroup(inName, theNameLength, theKey, theKeyLength, theHash);
    auto* theNode = new (mArena.allocate(sizeof(FieldGroup::Node), alignof(FieldGroup::Node)))
        FieldGroup::Node{inItem, nullptr};
    if (theGroup->mLast) theGroup->mLast->next = theNode;
    else theGroup->mFirst = theNode;
    theGroup->mLast = theNode;
    ++theGroup->mCount;
    if (mSealed) theGroup->mItems = nullptr;  // numbered again at the next Seal
}

void FieldGroups::Seal() {
    for (uint32_t g = 0; g < mCount; ++g) {
        FieldGroup* theGroup = mGroups[g];
        if (theGroup->mItems || theGroup->mCount < 2) continue;  // one item is its own list
        theGroup->mItems = mArena.allocateArray<const MultipartItem*>(static_cast<size_t>(theGroup->mCount));
        int i = 0;
        for (const FieldGroup::Node* theNode = theGroup->mFirst; theNode; theNode = theNode->next)
            theGroup->mItems[i++] = &theNode->item;
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

FieldGroup* FieldGroups::At(int inNumber) const {
    return inNumber >= 0 && static_cast<uint32_t>(inNumber) < mCount ? mGroups[inNumber] : nullptr;
}

void FieldGroups::Clear() {
    mArena.release();
    mGroups = nullptr;
    mSlots = nullptr;
    mCount = mCapacity = mSlotMask = 0;
    mSealed = false;
}
