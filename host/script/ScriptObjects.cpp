#include "script/ScriptObjects.h"

#include <duktape.h>

#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"
#include "platform/OleAuto.h"
#include "platform/RefCounted.h"
#include "script/ComBridge.h"

namespace script {

namespace {

constexpr const char* kKeptObjects = DUK_HIDDEN_SYMBOL("scriptObjects");
// The language's "Object doesn't support this property or method" (438).
constexpr HRESULT kNoSuchMember = static_cast<HRESULT>(0x800A01B6);

// Whether a run's objects may still be used.
struct Run {
    bool ended = false;
};

// The runs of this thread, by their context: a page runs on one thread.
std::unordered_map<duk_context*, std::shared_ptr<Run>>& Runs() {
    thread_local std::unordered_map<duk_context*, std::shared_ptr<Run>> runs;
    return runs;
}

class ScriptObject final : public platform::RefCounted<IDispatch> {
public:
    ScriptObject(duk_context* context, duk_uarridx_t slot, std::shared_ptr<Run> run)
        : mContext(context), mSlot(slot), mRun(std::move(run)), mThread(std::this_thread::get_id()) {}

    bool belongsTo(duk_context* context) const { return context == mContext && !mRun->ended; }
    // Pushes the object on `mContext`'s stack.
    void push() const {
        duk_push_thread_stash(mContext, mContext);
        duk_get_prop_string(mContext, -1, kKeptObjects);
        duk_get_prop_index(mContext, -1, mSlot);
        duk_remove(mContext, -2);
        duk_remove(mContext, -2);
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return count ? S_OK : E_INVALIDARG;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    // Every name is a member: a property the object does not have reads
    // as undefined, as the language reads it.
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        const std::u16string name = names[0];
        DISPID id = 0;
        for (size_t i = 0; i < mNames.size() && !id; ++i)
            if (mNames[i] == name) id = static_cast<DISPID>(i + 1);
        if (!id) {
            mNames.push_back(name);
            id = static_cast<DISPID>(mNames.size());
        }
        ids[0] = id;
        for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return S_OK;
    }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                   UINT*) override {
        // The page's engine runs on the page's thread only: a component that
        // calls back from a thread of its own is refused, not let in.
        if (std::this_thread::get_id() != mThread)
            return Raise(exception, "The script object can be used only on its page's thread.");
        if (mRun->ended) return Raise(exception, "The script object belongs to a page that has ended.");
        if (member != DISPID_VALUE && (member < 1 || static_cast<size_t>(member) > mNames.size()))
            return DISP_E_MEMBERNOTFOUND;
        Call call{this, member, flags, params, result, {}};
        if (duk_safe_call(mContext, &ScriptObject::Perform, &call, 0, 1) != DUK_EXEC_SUCCESS) {
            const std::string text = duk_safe_to_string(mContext, -1);
            duk_pop(mContext);
            return Raise(exception, text);
        }
        duk_pop(mContext);
        return call.hr;
    }

private:
    struct Call {
        ScriptObject* self;
        DISPID member;
        WORD flags;
        DISPPARAMS* params;
        VARIANT* result;
        HRESULT hr;
    };

    static HRESULT Raise(EXCEPINFO* exception, const std::string& text) {
        if (exception) {
            *exception = EXCEPINFO{};
            const std::u16string wide = platform::codepage::Utf8ToUtf16(text);
            exception->bstrDescription = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
            exception->bstrSource = SysAllocString(u"JScript");
            exception->scode = E_FAIL;
        }
        return DISP_E_EXCEPTION;
    }

    // Pushes the arguments of `params` in the order the caller wrote them.
    static duk_idx_t PushArguments(duk_context* context, const DISPPARAMS* params, UINT skipLast) {
        const UINT count = params ? params->cArgs - skipLast : 0;
        for (UINT i = 0; i < count; ++i) {
            platform::Variant copy;
            VariantCopyInd(&copy, &params->rgvarg[params->cArgs - 1 - i]);
            PushVariant(context, copy);
        }
        return static_cast<duk_idx_t>(count);
    }

    // The value on top of the stack as the call's result.
    static void Answer(duk_context* context, VARIANT* result) {
        if (!result) return;
        VARIANT lent;
        ToArgument(context, -1, &lent);
        VariantCopy(result, &lent);
        ClearArgument(&lent);
    }

    static duk_ret_t Perform(duk_context* context, void* data) {
        auto* call = static_cast<Call*>(data);
        const UINT args = call->params ? call->params->cArgs : 0;
        call->self->push();
        const duk_idx_t object = duk_normalize_index(context, -1);
        if (call->member == DISPID_VALUE) {
            if (duk_is_function(context, object) && (call->flags & DISPATCH_METHOD)) {
                duk_dup(context, object);
                duk_push_undefined(context);
                duk_call_method(context, PushArguments(context, call->params, 0));
            } else if (args == 0) {
                duk_dup(context, object);
                duk_to_string(context, -1);
            } else {
                call->hr = kNoSuchMember;
                return 0;
            }
            Answer(context, call->result);
            call->hr = S_OK;
            return 0;
        }
        const std::string name =
            platform::codepage::Utf16ToUtf8(call->self->mNames[static_cast<size_t>(call->member - 1)]);
        if (call->flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (args < 1) {
                call->hr = DISP_E_BADPARAMCOUNT;
                return 0;
            }
            platform::Variant copy;
            VariantCopyInd(&copy, &call->params->rgvarg[0]);
            PushVariant(context, copy);
            duk_put_prop_string(context, object, name.c_str());
            call->hr = S_OK;
            return 0;
        }
        duk_get_prop_string(context, object, name.c_str());
        if (duk_is_function(context, -1) && ((call->flags & DISPATCH_METHOD) || args > 0)) {
            duk_dup(context, object);
            duk_call_method(context, PushArguments(context, call->params, 0));
        }
        Answer(context, call->result);
        call->hr = S_OK;
        return 0;
    }

    duk_context* mContext;
    duk_uarridx_t mSlot;
    std::shared_ptr<Run> mRun;
    std::thread::id mThread;
    std::vector<std::u16string> mNames;
};

std::shared_ptr<Run> RunOf(duk_context* context) {
    std::shared_ptr<Run>& run = Runs()[context];
    if (!run) run = std::make_shared<Run>();
    return run;
}

}  // namespace

IDispatch* WrapScriptObject(duk_context* context, int index) {
    index = duk_normalize_index(context, index);
    duk_push_thread_stash(context, context);
    if (!duk_get_prop_string(context, -1, kKeptObjects)) {
        duk_pop(context);
        duk_push_array(context);
        duk_dup_top(context);
        duk_put_prop_string(context, -3, kKeptObjects);
    }
    const auto slot = static_cast<duk_uarridx_t>(duk_get_length(context, -1));
    duk_dup(context, index);
    duk_put_prop_index(context, -2, slot);
    duk_pop_2(context);
    return new ScriptObject(context, slot, RunOf(context));
}

bool PushWrappedScriptObject(duk_context* context, IDispatch* object) {
    auto* script = dynamic_cast<ScriptObject*>(object);
    if (!script || !script->belongsTo(context)) return false;
    script->push();
    return true;
}

void ForgetScriptObjects(duk_context* context) {
    const auto it = Runs().find(context);
    if (it == Runs().end()) return;
    it->second->ended = true;
    Runs().erase(it);
}

}  // namespace script
