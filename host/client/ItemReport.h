// One item of a form's report: its members in report order, held as the
// JSON the report writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a report value, held as JSON, reads as: a string's characters, ""
// for null, a digest {"Length", "SHA256"} as "n bytes, SHA-256 ...", an
// error {"HRESULT", "Source", "Description"} as its description, and a
// number or a boolean as written.
std::string ReportText(std::string_view json);

// One item's members in report order, held as the JSON the report writes
// (`"Name": "a", "Content": "...", ...`) with where each value lies: a form
// of 10,000 fields holds one block per item, not a text per member, and the
// document is made by copying these blocks.
class ItemReport {
public:
    // `name` is a static text (a member name); `json` the value's JSON.
    void add(const char* name, std::string_view json);
    // A text member, written as a JSON string straight into the item.
    void addText(const char* name, std::u16string_view text);
    // A member whose JSON `write` appends to the text it is given (the item's own).
    template <class Write>
    void addWritten(const char* name, Write&& write) {
        startMember(name);
        write(mJson);
        mMembers.back().length = mJson.size() - mMembers.back().start;
    }
    // Gives a member added before its value.
    void set(const char* name, std::string_view json);
    // The member's value as JSON; "" when absent.
    std::string_view value(const char* name) const;
    // The member's plain text; "" when absent.
    std::string text(const char* name) const { return ReportText(value(name)); }
    // The members, without the braces around them.
    const std::string& json() const { return mJson; }
    // Makes room for the members of an item and a text of `textUnits`
    // characters, so that the item's block is made once.
    void reserve(size_t textUnits = 0) { mJson.reserve(kMembersBytes + kNameBytes + textUnits); }

private:
    // About what the standard members of an item take without its texts.
    static constexpr size_t kMembersBytes = 768;
    // About what the members before a text take (its name among them).
    static constexpr size_t kNameBytes = 128;
    struct Member {
        const char* name;
        size_t start;  // of the value in mJson
        size_t length;
    };
    void startMember(const char* name);
    const Member* find(const char* name) const;

    std::string mJson;
    std::vector<Member> mMembers;
};
