// A client in another module creates the component's classes by ProgID and
// calls them through their dual interfaces and late binding.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Formix4.h"
#include "TestSupport.h"
#include "platform/ComPtr.h"

using namespace testing_support;
using platform::Bstr;
using platform::ComPtr;
using platform::Variant;

namespace {

class Activation : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string command = std::string(REGSVR_PATH) + " " + FORMIX4_MODULE + " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    ComPtr<IDispatch> Create(const char16_t* progId) {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        ComPtr<IDispatch> object;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.putVoid()), S_OK);
        return object;
    }

    static DISPID IdOf(IDispatch* object, const char16_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 12345;
        EXPECT_EQ(object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK) << Narrow(name);
        return id;
    }

    struct Call {
        HRESULT hr = S_OK;
        EXCEPINFO exception{};
        UINT argError = 999;
        Call() = default;
        Call(const Call&) = delete;
        ~Call() {
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
        }
    };

    // Invokes with arguments given in script order, and frees them.
    static void Invoke(Call& call, IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> args,
                       VARIANT* result = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &putId;
            params.cNamedArgs = 1;
        }
        call.hr = object->Invoke(id, GUID_NULL, 0, flags, &params, result, &call.exception, &call.argError);
        for (VARIANT& arg : reversed) VariantClear(&arg);
    }

    struct Result {
        HRESULT hr;
        SCODE scode;
    };
    // The outcome of a call whose exception texts are not needed.
    static Result Outcome(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> args) {
        Call call;
        Invoke(call, object, id, flags, std::move(args));
        return {call.hr, call.exception.scode};
    }

    static VARIANT Text(const char16_t* text) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        return v;
    }

    static VARIANT Long(LONG value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        return v;
    }

    TempRegistry mRegistry;
};

}  // namespace

TEST_F(Activation, EveryClassByBothProgIds) {
    const std::vector<std::pair<const char16_t*, CLSID>> classes = {{u"Formix4.XForm", CLSID_XForm},
                                                                    {u"Formix4.XField", CLSID_XField},
                                                                    {u"Formix4.XFields", CLSID_XFields},
                                                                    {u"Formix4.XProgress", CLSID_XProgress}};
    for (const auto& [progId, expected] : classes) {
        CLSID independent{}, versioned{};
        ASSERT_EQ(CLSIDFromProgID(progId, &independent), S_OK);
        ASSERT_EQ(CLSIDFromProgID((std::u16string(progId) + u".4").c_str(), &versioned), S_OK);
        EXPECT_EQ(independent, expected);
        EXPECT_EQ(versioned, expected);
        LPOLESTR registered = nullptr;
        ASSERT_EQ(ProgIDFromCLSID(expected, &registered), S_OK);
        EXPECT_EQ(std::u16string(registered), std::u16string(progId) + u".4");
        CoTaskMemFree(registered);
        EXPECT_TRUE(Create(progId));
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Formix4.Nothing", &clsid), CO_E_CLASSSTRING);
}

TEST_F(Activation, DispatchIdsFollowTheTypeLibrary) {
    auto form = Create(u"Formix4.XForm");
    const std::vector<std::pair<const char16_t*, DISPID>> formIds = {
        {u"_NewEnum", -4}, {u"Item", 0},          {u"Count", 1},    {u"ID", 2},     {u"AbsolutePath", 3},
        {u"Overwrite", 4}, {u"MaxUploadSize", 5}, {u"User", 6},     {u"Domain", 7}, {u"CodePage", 8},
        {u"Streams", 9},   {u"Multipart", 10},    {u"SetUser", 11}, {u"Read", 12},  {u"Save", 13}};
    for (const auto& [name, id] : formIds) EXPECT_EQ(IdOf(form.get(), name), id) << Narrow(name);
    EXPECT_EQ(IdOf(form.get(), u"multipart"), 10);  // names ignore case

    auto field = Create(u"Formix4.XField");
    const char16_t* fieldNames[] = {u"Content",  u"Name",        u"Length",      u"FileExists",  u"SafeFileName",
                                    u"FileType", u"FileName",    u"MIMEType",    u"MacBinary",   u"Data",
                                    u"Resource", u"RawFilePath", u"RawFileName", u"RawFileType", u"RawLength",
                                    u"RawData",  u"ImageType",   u"ImageWidth",  u"ImageHeight", u"Save"};
    for (DISPID id = 0; id < 20; ++id) EXPECT_EQ(IdOf(field.get(), fieldNames[id]), id);

    auto progress = Create(u"Formix4.XProgress");
    const char16_t* progressNames[] = {
        u"ID",          u"Note",           u"Started",     u"BytesTotal",    u"BytesDone",
        u"PercentDone", u"ElapsedSeconds", u"SecondsLeft", u"BytesPerSecond"};
    for (DISPID id = 1; id <= 9; ++id) EXPECT_EQ(IdOf(progress.get(), progressNames[id - 1]), id);

    auto fields = Create(u"Formix4.XFields");
    EXPECT_EQ(IdOf(fields.get(), u"_NewEnum"), -4);
    EXPECT_EQ(IdOf(fields.get(), u"Item"), 0);
    EXPECT_EQ(IdOf(fields.get(), u"Count"), 1);

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"Upload")};
    DISPID id = 0;
    EXPECT_EQ(form->GetIDsOfNames(GUID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    LPOLESTR withParams[] = {const_cast<LPOLESTR>(u"SetUser"), const_cast<LPOLESTR>(u"inDomain"),
                             const_cast<LPOLESTR>(u"inColour")};
    DISPID ids[3];
    EXPECT_EQ(form->GetIDsOfNames(GUID_NULL, withParams, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 11);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
}

TEST_F(Activation, TypeInformationDescribesMembers) {
    auto form = Create(u"Formix4.XForm");
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(form->GetTypeInfo(0, 0, info.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, IID_IXForm);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_EQ(attr->cFuncs, 21);
    info->ReleaseTypeAttr(attr);

    Bstr doc;
    ASSERT_EQ(info->GetDocumentation(1, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(doc.str(), u"The number of items in the field");
    FUNCDESC* newEnum = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &newEnum), S_OK);
    EXPECT_EQ(newEnum->memid, DISPID_NEWENUM);
    EXPECT_TRUE(newEnum->wFuncFlags & FUNCFLAG_FRESTRICTED);
    info->ReleaseFuncDesc(newEnum);

    FUNCDESC* setUser = nullptr;
    ASSERT_EQ(info->GetFuncDesc(18, &setUser), S_OK);
    EXPECT_EQ(setUser->memid, 11);
    ASSERT_EQ(setUser->cParams, 3);
    EXPECT_EQ(setUser->cParamsOpt, 1);
    const PARAMDESC& domain = setUser->lprgelemdescParam[2].paramdesc;
    EXPECT_EQ(domain.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
    ASSERT_NE(domain.pparamdescex, nullptr);
    EXPECT_EQ(std::u16string(domain.pparamdescex->varDefaultValue.bstrVal), u".");
    info->ReleaseFuncDesc(setUser);

    // The interface view shows the retval parameters with their names and slots.
    HREFTYPE href = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(info->GetRefTypeInfo(href, vtable.put()), S_OK);
    BSTR names[4] = {};
    UINT count = 0;
    ASSERT_EQ(vtable->GetNames(1, names, 4, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::u16string(names[0]), u"Count");
    EXPECT_EQ(std::u16string(names[1]), u"outCount");
    for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
    FUNCDESC* count2 = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(2, &count2), S_OK);
    EXPECT_EQ(count2->oVft, static_cast<SHORT>((7 + 2) * sizeof(void*)));
    EXPECT_EQ(count2->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    vtable->ReleaseFuncDesc(count2);

    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);
    Bstr libraryName, libraryDoc;
    library->GetDocumentation(-1, libraryName.put(), libraryDoc.put(), nullptr, nullptr);
    EXPECT_EQ(libraryName.str(), u"Formix4");
    EXPECT_EQ(libraryDoc.str(), u"Formix ASP Extension");
}

TEST_F(Activation, FailingMembersReportThroughErrorInformation) {
    auto form = Create(u"Formix4.XForm");
    ComPtr<IXForm> typed;
    ASSERT_EQ(form->QueryInterface(IID_IXForm, typed.putVoid()), S_OK);
    Bstr name(u"someone"), password(u"secret"), domain(u".");
    EXPECT_EQ(typed->SetUser(name.get(), password.get(), domain.get()), E_FAIL);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr source, description;
    info->GetSource(source.put());
    info->GetDescription(description.put());
    EXPECT_EQ(source.str(), u"Formix4.XForm.4");
    EXPECT_EQ(description.str(), u"Formix impersonation is not enabled via registry");
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(form->QueryInterface(IID_ISupportErrorInfo, support.putVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IXForm), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(typed->get_Count(nullptr), E_POINTER);

    // Late bound, with the optional domain left out.
    Call call;
    Invoke(call, form.get(), 11, DISPATCH_METHOD, {Text(u"someone"), Text(u"secret")});
    EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(call.exception.scode, E_FAIL);
    EXPECT_EQ(Narrow(call.exception.bstrSource), "Formix4.XForm.4");
    EXPECT_EQ(Narrow(call.exception.bstrDescription), "Formix impersonation is not enabled via registry");
}

TEST_F(Activation, DispatchErrorsForBadCalls) {
    auto form = Create(u"Formix4.XForm");
    EXPECT_EQ(Outcome(form.get(), 11, DISPATCH_METHOD, {}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Outcome(form.get(), 11, DISPATCH_METHOD, {Text(u"a"), Text(u"b"), Text(u"c"), Text(u"d")}).hr,
              DISP_E_BADPARAMCOUNT);
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    Call mismatch;
    Invoke(mismatch, form.get(), 11, DISPATCH_METHOD, {Text(u"a"), null});
    EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(mismatch.argError, 0u);  // rgvarg index of the second argument
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(Outcome(form.get(), 11, DISPATCH_METHOD, {missing, Text(u"b")}).hr, DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(Outcome(form.get(), 77, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Outcome(form.get(), 1, DISPATCH_PROPERTYPUT, {Long(3)}).hr, DISP_E_MEMBERNOTFOUND);  // Count is read-only
    Variant result;
    EXPECT_EQ(form->Invoke(0, IID_IXForm, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);

    // A put reaches the put accessor.
    EXPECT_EQ(Outcome(form.get(), 2, DISPATCH_PROPERTYPUT, {Long(5)}).hr, S_OK);
    Variant id;
    Call get;
    Invoke(get, form.get(), 2, DISPATCH_PROPERTYGET, {}, &id);
    EXPECT_EQ(id.vt, VT_I4);
    EXPECT_EQ(id.lVal, 5);
    // Item is the default member, reached with an index or with none; outside a
    // web request it reports that the form has no object context.
    Call item;
    Invoke(item, form.get(), DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Text(u"comment")});
    EXPECT_EQ(item.exception.scode, E_FAIL);
    EXPECT_EQ(Narrow(item.exception.bstrDescription).rfind("Unable to get Object Context.", 0), 0u);
    EXPECT_EQ(Outcome(form.get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {}).scode, E_FAIL);
    // A text argument converts to a declared long.
    EXPECT_EQ(Outcome(form.get(), 5, DISPATCH_PROPERTYPUT, {Text(u"1000")}).hr, S_OK);
    Variant limit;
    Call getLimit;
    Invoke(getLimit, form.get(), 5, DISPATCH_PROPERTYGET, {}, &limit);
    EXPECT_EQ(limit.lVal, 1000);
    EXPECT_EQ(Outcome(form.get(), 5, DISPATCH_PROPERTYPUT, {Text(u"lots")}).hr, DISP_E_TYPEMISMATCH);
}

TEST_F(Activation, MarshalerAggregationAndUnloading) {
    void* module = dlopen(FORMIX4_MODULE, RTLD_NOW | RTLD_NOLOAD);
    auto canUnload = module ? reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(module, "DllCanUnloadNow")) : nullptr;
    {
        auto progress = Create(u"Formix4.XProgress");
        if (!canUnload) {
            module = dlopen(FORMIX4_MODULE, RTLD_NOW | RTLD_NOLOAD);
            ASSERT_NE(module, nullptr);
            canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(module, "DllCanUnloadNow"));
        }
        ComPtr<IMarshal> marshal;
        ASSERT_EQ(progress->QueryInterface(IID_IMarshal, marshal.putVoid()), S_OK);
        CLSID unmarshaler{};
        EXPECT_EQ(marshal->GetUnmarshalClass(IID_IDispatch, progress.get(), MSHCTX_INPROC, nullptr, 0, &unmarshaler),
                  S_OK);
        EXPECT_EQ(unmarshaler, CLSID_FreeThreadedMarshaler);
        // IMarshal belongs to the object: asking it for IUnknown gives the object's identity.
        ComPtr<IUnknown> fromMarshal, fromObject;
        marshal->QueryInterface(IID_IUnknown, fromMarshal.putVoid());
        progress->QueryInterface(IID_IUnknown, fromObject.putVoid());
        EXPECT_EQ(fromMarshal.get(), fromObject.get());
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);

    // Aggregated: only IUnknown may be asked for at creation.
    struct Outer : IUnknown {
        HRESULT QueryInterface(REFIID, void** ppv) override {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ULONG AddRef() override { return ++refs; }
        ULONG Release() override { return --refs; }
        ULONG refs = 1;
    } outer;
    ComPtr<IUnknown> inner;
    IDispatch* refused = nullptr;
    EXPECT_EQ(
        CoCreateInstance(CLSID_XForm, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&refused)),
        CLASS_E_NOAGGREGATION);
    ASSERT_EQ(CoCreateInstance(CLSID_XForm, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.putVoid()), S_OK);
    ComPtr<IXForm> form;
    ASSERT_EQ(inner->QueryInterface(IID_IXForm, form.putVoid()), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the inner object's interfaces count on the outer object
    form.reset();
    EXPECT_EQ(outer.refs, 1u);
    inner.reset();
    EXPECT_EQ(canUnload(), S_OK);
}
