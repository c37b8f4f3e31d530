// The reference count of a heap object that implements COM interfaces: one
// AddRef and Release for all of them; the last Release deletes the object.
#pragma once

#include <atomic>

#include "platform/Com.h"

namespace platform {

template <class... Interfaces>
class RefCounted : public Interfaces... {
public:
    ULONG AddRef() override { return ++mRefs; }
    ULONG Release() override {
        const ULONG left = --mRefs;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~RefCounted() = default;

private:
    std::atomic<ULONG> mRefs{1};
};

}  // namespace platform
