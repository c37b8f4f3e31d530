#include "classes/FileObject.h"

#include <new>

#include "classes/FileOperations.h"
#include "classes/FileSystemEntry.h"
#include "classes/TextStreamObject.h"

namespace classes {

namespace {

class FileObject final : public EntryMembers<FileObject> {
public:
    explicit FileObject(std::string path) : EntryMembers(std::move(path), false) {}

    const std::vector<host::Member<FileObject>>& members() const {
        using Self = FileObject;
        static const std::vector<host::Member<Self>> kMembers = Table({
            {u"Size", 11, host::kGet, 0, 0, &Self::size},
            {u"Delete", 12, host::kCall, 0, 1, &Self::remove},
            {u"Copy", 13, host::kCall, 1, 2, &Self::copy},
            {u"Move", 14, host::kCall, 1, 1, &Self::move},
            {u"OpenAsTextStream", 15, host::kCall, 0, 2, &Self::openAsTextStream},
        });
        return kMembers;
    }

private:
    HRESULT size(WORD, const host::MemberArgs&, VARIANT* result) {
        return guarded([&] { return ReturnNumber(result, static_cast<double>(mEntry.status().st_size)); });
    }
    HRESULT remove(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            DeleteOneFile(mEntry.path(), FlagArg(args[0], false));
            return S_OK;
        });
    }
    HRESULT copy(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            CopyFileTo(mEntry.path(), PathArg(args[0]), FlagArg(args[1], true));
            return S_OK;
        });
    }
    HRESULT move(WORD, const host::MemberArgs& args, VARIANT*) {
        return guarded([&] {
            mEntry.movedTo(MoveFileTo(mEntry.path(), PathArg(args[0])));
            return S_OK;
        });
    }
    HRESULT openAsTextStream(WORD, const host::MemberArgs& args, VARIANT* result) {
        return guarded([&] {
            mEntry.status();
            return host::ReturnObject(result, OpenTextStream(mEntry.path(), NumberArg(args[0], kForReading), false,
                                                             NumberArg(args[1], kTristateFalse)));
        });
    }
};

}  // namespace

IDispatch* CreateFileObject(const std::string& path) { return new (std::nothrow) FileObject(path); }

}  // namespace classes
