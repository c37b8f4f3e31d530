// The collections of the page objects, as pages use them: a name's values
// (Request.QueryString("a")), the named values of a request
// (Request.QueryString, Form, ServerVariables, Cookies), and the stores of
// values that outlive a request (Application, Session).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ComPtr.h"

namespace host {

// Names with their values, in the order they came; names compare without
// regard to case.
class NamedValues {
public:
    void add(const std::u16string& name, std::u16string value);
    // The values of a name (null when the name is absent).
    const std::vector<std::u16string>* find(const std::u16string& name) const;
    size_t size() const { return mEntries.size(); }
    const std::u16string& name(size_t index) const { return mEntries[index].first; }
    const std::vector<std::u16string>& values(size_t index) const { return mEntries[index].second; }

    // "a=1&b=2&a=3" as a query string or URL-encoded form has it, its
    // escaped bytes text of `codePage`.
    static NamedValues FromUrlEncoded(const std::string& text, UINT codePage = CP_UTF8);
    // The text the values were read from, as sent; none when they were not.
    const std::optional<std::u16string>& text() const { return mText; }

private:
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> mEntries;
    std::optional<std::u16string> mText;
};

// One name's values. Its default member Item(index) gives the index'th value
// (from 1); without an index, all values joined with ", ", or nothing
// (undefined) when there are none, as pages test with
// `Request.QueryString("a").Count` or compare the text.
IDispatch* CreateValueList(std::vector<std::u16string> values);
// A request's named values: Item(name) gives the name's value list (an
// empty one for an absent name), Item(number) the number'th name's;
// Count, Key(number), and enumeration over the names.
IDispatch* CreateNamedValuesObject(std::shared_ptr<const NamedValues> values);

// Values kept between requests, shared by the threads that serve them:
// texts, numbers, booleans, dates, null. Objects are refused, because an
// object belongs to the request that made it. A page may lock the store so
// that its reads and writes are not interleaved with another page's.
class ValueStore {
public:
    HRESULT get(const std::u16string& name, VARIANT* value);
    HRESULT put(const std::u16string& name, const VARIANT& value);
    void remove(const std::u16string& name);
    void removeAll();
    size_t count();
    std::u16string key(size_t index);  // "" past the end

    // The page lock: held by one thread at a time, taken again by the same
    // thread without waiting; Unlock releases one Lock.
    void lock();
    void unlock();
    bool lockedByThisThread();

private:
    // Waits while another thread holds the page lock.
    std::unique_lock<std::mutex> access();

    std::mutex mMutex;
    std::condition_variable mUnlocked;
    std::thread::id mOwner;
    int mDepth = 0;
    std::vector<std::pair<std::u16string, std::unique_ptr<platform::Variant>>> mValues;
};

}  // namespace host
