// What File and Folder objects share: an absolute path, read afresh at each
// use (another page may have changed it), and the members that apply to
// both. Linux has no attribute bits: ReadOnly is "no write permission for
// anyone", Hidden a name starting with ".", Alias a symbolic link.
#pragma once

#include <sys/stat.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "classes/FileSystemErrors.h"
#include "classes/FileSystemPaths.h"

namespace classes {

enum FileAttribute : LONG {
    kReadOnly = 1,
    kHidden = 2,
    kDirectory = 16,
    kAlias = 1024,
};

// The members shared by File and Folder, for their tables.
class EntryCommon {
public:
    EntryCommon(std::string path, bool folder) : mPath(std::move(path)), mFolder(folder) {}

    const std::string& path() const { return mPath; }
    // The entry's status; a file or folder gone since is kFileNotFound or
    // kPathNotFound.
    struct stat status() const;
    LONG attributes() const;
    void setAttributes(LONG attributes) const;
    std::string typeName() const;
    // Renames the entry within its folder.
    void rename(const std::string& newName);
    // The entry has moved to `path`.
    void movedTo(std::string path) { mPath = std::move(path); }
    // The time of creation when the file system keeps it, else of the last
    // change of the entry itself.
    struct timespec created() const;
    IDispatch* parentFolder() const;  // null for the root
    IDispatch* drive() const;

private:
    std::string mPath;
    bool mFolder;
};

// The member functions File and Folder list under the same names.
template <class Self>
class EntryMembers : public FileSystemMembers<Self> {
protected:
    EntryMembers(std::string path, bool folder) : mEntry(std::move(path), folder) {}

    // The members of both, then `own` (Size, Delete, Copy, Move and the
    // rest, which differ), from dispid 10.
    static std::vector<host::Member<Self>> Table(std::initializer_list<host::Member<Self>> own) {
        using Base = EntryMembers<Self>;
        std::vector<host::Member<Self>> table = {
            {u"Path", DISPID_VALUE, host::kGet, 0, 0, &Base::path},
            {u"Name", 1, host::kGet | host::kPut, 0, 0, &Base::name},
            {u"ShortPath", 2, host::kGet, 0, 0, &Base::path},
            {u"ShortName", 3, host::kGet, 0, 0, &Base::name},
            {u"Drive", 4, host::kGet, 0, 0, &Base::drive},
            {u"ParentFolder", 5, host::kGet, 0, 0, &Base::parentFolder},
            {u"Attributes", 6, host::kGet | host::kPut, 0, 0, &Base::attributes},
            {u"DateCreated", 7, host::kGet, 0, 0, &Base::dateCreated},
            {u"DateLastModified", 8, host::kGet, 0, 0, &Base::dateLastModified},
            {u"DateLastAccessed", 9, host::kGet, 0, 0, &Base::dateLastAccessed},
            {u"Type", 10, host::kGet, 0, 0, &Base::type},
        };
        table.insert(table.end(), own);
        return table;
    }

    HRESULT name(WORD use, const host::MemberArgs& args, VARIANT* result) {
        return this->guarded([&] {
            if (use == host::kPut) {
                mEntry.rename(PathArg(args.back()));
                return S_OK;
            }
            mEntry.status();
            return host::ReturnText(result, NameOf(mEntry.path()));
        });
    }
    HRESULT path(WORD, const host::MemberArgs&, VARIANT* result) { return host::ReturnText(result, mEntry.path()); }
    HRESULT attributes(WORD use, const host::MemberArgs& args, VARIANT* result) {
        return this->guarded([&] {
            if (use == host::kPut) {
                mEntry.setAttributes(NumberArg(args.back(), 0));
                return S_OK;
            }
            return ReturnLong(result, mEntry.attributes());
        });
    }
    HRESULT type(WORD, const host::MemberArgs&, VARIANT* result) {
        return this->guarded([&] { return host::ReturnText(result, mEntry.typeName()); });
    }
    HRESULT dateCreated(WORD, const host::MemberArgs&, VARIANT* result) {
        return this->guarded([&] { return ReturnDate(result, mEntry.created()); });
    }
    HRESULT dateLastModified(WORD, const host::MemberArgs&, VARIANT* result) {
        return this->guarded([&] { return ReturnDate(result, mEntry.status().st_mtim); });
    }
    HRESULT dateLastAccessed(WORD, const host::MemberArgs&, VARIANT* result) {
        return this->guarded([&] { return ReturnDate(result, mEntry.status().st_atim); });
    }
    HRESULT parentFolder(WORD, const host::MemberArgs&, VARIANT* result) {
        return this->guarded([&] {
            IDispatch* parent = mEntry.parentFolder();
            if (!parent) {
                result->vt = VT_DISPATCH;  // Nothing: the root has no parent
                result->pdispVal = nullptr;
                return S_OK;
            }
            return host::ReturnObject(result, parent);
        });
    }
    HRESULT drive(WORD, const host::MemberArgs&, VARIANT* result) {
        return this->guarded([&] { return host::ReturnObject(result, mEntry.drive()); });
    }

    EntryCommon mEntry;
};

}  // namespace classes
