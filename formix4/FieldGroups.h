// The records of a parsed form: field groups and their items, kept in one
// arena per form so that a field costs no allocation of its own and the
// whole form goes back to the system at once when it is cleared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Memory of one form, taken in blocks (mapped, never from the heap, so that
// a worker thread does not keep the largest form it ever saw) and given back
// all at once: to a pool of at most 64 MB that the next forms draw on, and
// beyond it to the system.
class FormArena {
public:
    FormArena() = default;
    ~FormArena() { release(); }
    FormArena(const FormArena&) = delete;
    FormArena& operator=(const FormArena&) = delete;

    // Throws std::bad_alloc when the system has no memory to give.
    void* allocate(size_t inSize, size_t inAlign);
    template <class T>
    T* allocateArray(size_t inCount) {
        return static_cast<T*>(allocate(inCount * sizeof(T), alignof(T)));
    }
    void release();

private:
    struct Block {
        Block* previous;
        size_t size;
    };
    void addBlock(size_t inAtLeast);

    Block* mLast = nullptr;
    char* mNext = nullptr;
    char* mEnd = nullptr;
    size_t mNextBlockSize = 64 * 1024;
};

// A UTF-16 text of a parsed form, NUL-terminated, kept in the form's arena
// with its length. Copying it copies a pointer.
class FormText {
public:
    FormText() = default;
    static FormText Make(FormArena& inArena, std::u16string_view inText);

    const char16_t* c_str() const { return mText ? mText : u""; }
    size_t size() const;
    bool empty() const { return size() == 0; }
    std::u16string_view view() const { return {c_str(), size()}; }
    operator std::u16string_view() const { return view(); }
    bool operator==(std::u16string_view inOther) const { return view() == inOther; }

private:
    const char16_t* mText = nullptr;  // preceded by its length (uint32_t)
};

// One part of a multipart body, or one URL-encoded pair.
struct MultipartItem {
    FormText rawPath;
    FormText safeName;
    FormText urlSafeName;
    FormText contentType;
    const uint8_t* data = nullptr;  // inside the raw block or the URL-encoded copy
    int32_t length = 0;
};

// The items of one field name, in body order.
class FieldGroup {
public:
    int count() const { return mCount; }
    const MultipartItem* itemAt(int inNumber) const;
    // The name as raw bytes from the body, at most 259 of them.
    const char* name() const { return mName; }

protected:
    ~FieldGroup() = default;  // kept in the form's arena, never deleted

private:
    friend class FieldGroups;
    FieldGroup(const char* inName, uint32_t inNameLength, const char16_t* inKey, uint32_t inKeyLength, uint32_t inHash)
        : mName(inName), mKey(inKey), mNameLength(inNameLength), mKeyLength(inKeyLength), mHash(inHash) {}
    bool HasKey(const char16_t* inKey, uint32_t inKeyLength) const;

    const char* mName;
    const char16_t* mKey;  // the folded name; null when it is the name's ASCII folded
    uint32_t mNameLength;
    uint32_t mKeyLength;
    uint32_t mHash;
    int32_t mCount = 0;
    int32_t mNumbered = 0;  // items placed in mItems by the last Seal
    const MultipartItem* mFirst = nullptr;
    const MultipartItem** mItems = nullptr;  // by number from the second on, once sealed
};

// The groups of one form in order of first appearance, found by name with
// letter case ignored in the form's ANSI code page. Nothing is removed until
// Clear.
class FieldGroups {
public:
    static constexpr size_t kMaxName = 259;

    explicit FieldGroups(uint32_t inAnsiCodePage = 65001) : mAnsiCodePage(inAnsiCodePage) {}
    ~FieldGroups() { ReleaseTable(); }
    FieldGroups(const FieldGroups&) = delete;
    FieldGroups& operator=(const FieldGroups&) = delete;

    // The code page names compare in; set before the first item.
    void SetAnsiCodePage(uint32_t inCodePage) { mAnsiCodePage = inCodePage; }
    FormArena& Arena() { return mArena; }

    // Appends an item to the first group of that name (cut at 259 bytes),
    // making the group when there is none.
    void Append(const char* inName, const MultipartItem& inItem);
    // Numbers every group's items; called when the parse is over. An item
    // appended later numbers them again at once.
    void Seal();
    int Find(const char* inName) const;
    // The first group whose name, shown as text in the code page (bytes that
    // are no text in it as replacement characters), is this text with letter
    // case ignored; -1 when none is.
    int FindShown(std::u16string_view inText) const;
    FieldGroup* At(int inNumber) const;
    int Count() const { return static_cast<int>(mCount); }
    void Clear();

private:
    static constexpr uint32_t kChunkShift = 10;  // groups listed in chunks of 1,024

    // Items in body order, in runs that the arena keeps, each item beside
    // the number of its group.
    struct ItemRun {
        MultipartItem* items;
        uint32_t* groups;
        uint32_t count;
        uint32_t capacity;
    };

    int Lookup(const char16_t* inKey, uint32_t inKeyLength, uint32_t inHash) const;
    FieldGroup* NewGroup(const char* inName, size_t inNameLength, bool inText, const char16_t* inKey,
                         uint32_t inKeyLength, uint32_t inHash);
    void GrowTable();
    void ReleaseTable();
    // The folded shown text of a group's name.
    std::u16string ShownKey(const FieldGroup& inGroup) const;

    uint32_t mAnsiCodePage;
    FormArena mArena;
    // The group list: chunks of pointers in the arena, so that it never moves.
    std::vector<FieldGroup**> mChunks;
    uint32_t mCount = 0;
    // Open addressing by hash: group number + 1, 0 when empty; at most half
    // full. A block of its own, so that an outgrown table is given back.
    uint32_t* mSlots = nullptr;
    uint32_t mSlotCount = 0;
    std::vector<ItemRun> mItemRuns;
    bool mSealed = false;
    // Groups whose names are no text in the code page, by number, and the
    // first of them under each folded shown text, indexed when first asked
    // (FindShown is called under the form's lock, which orders the index's
    // growth).
    std::vector<uint32_t> mRawGroups;
    mutable std::unordered_map<std::u16string, uint32_t> mRawShown;
    mutable size_t mRawShownCount = 0;
};

// The key under which a group name compares, into outKey (room for 260
// units): the name's text in the code page, folded. In a name that is not
// wholly text, the characters that are text are folded too and each byte
// that is none stands as the lone surrogate 0xDC00 + byte, which no text
// converts to. Returns the key's length; outText, when given, tells whether
// the whole name was text.
uint32_t GroupKey(const char* inName, size_t inLength, uint32_t inCodePage, char16_t* outKey, bool* outText = nullptr);
