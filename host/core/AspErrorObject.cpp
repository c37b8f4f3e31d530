#include "core/AspErrorObject.h"

#include <new>

#include "core/NamedMembers.h"

namespace {

class AspErrorObject final : public host::NamedMembers<AspErrorObject, IDispatch> {
public:
    explicit AspErrorObject(AspErrorInfo info) : mInfo(std::move(info)) {}

    const std::vector<host::Member<AspErrorObject>>& members() const {
        static const std::vector<host::Member<AspErrorObject>> kMembers = {
            {u"ASPCode", 1, host::kGet, 0, 0, &AspErrorObject::aspCode},
            {u"Number", 2, host::kGet, 0, 0, &AspErrorObject::number},
            {u"Source", 3, host::kGet, 0, 0, &AspErrorObject::source},
            {u"Category", 4, host::kGet, 0, 0, &AspErrorObject::category},
            {u"File", 5, host::kGet, 0, 0, &AspErrorObject::file},
            {u"Line", 6, host::kGet, 0, 0, &AspErrorObject::line},
            {u"Column", 7, host::kGet, 0, 0, &AspErrorObject::column},
            {u"Description", 8, host::kGet, 0, 0, &AspErrorObject::description},
            {u"ASPDescription", 9, host::kGet, 0, 0, &AspErrorObject::aspDescription},
        };
        return kMembers;
    }

private:
    static HRESULT Long(VARIANT* result, long value) {
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(value);
        return S_OK;
    }
    HRESULT aspCode(WORD, const host::MemberArgs&, VARIANT* result) { return host::ReturnText(result, mInfo.aspCode); }
    HRESULT number(WORD, const host::MemberArgs&, VARIANT* result) { return Long(result, mInfo.number); }
    HRESULT source(WORD, const host::MemberArgs&, VARIANT* result) { return host::ReturnText(result, mInfo.source); }
    HRESULT category(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, mInfo.category);
    }
    HRESULT file(WORD, const host::MemberArgs&, VARIANT* result) { return host::ReturnText(result, mInfo.file); }
    HRESULT line(WORD, const host::MemberArgs&, VARIANT* result) { return Long(result, mInfo.line); }
    HRESULT column(WORD, const host::MemberArgs&, VARIANT* result) { return Long(result, mInfo.column); }
    HRESULT description(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, mInfo.description);
    }
    HRESULT aspDescription(WORD, const host::MemberArgs&, VARIANT* result) {
        return host::ReturnText(result, mInfo.aspDescription);
    }

    AspErrorInfo mInfo;
};

}  // namespace

IDispatch* CreateAspErrorObject(AspErrorInfo info) { return new (std::nothrow) AspErrorObject(std::move(info)); }
