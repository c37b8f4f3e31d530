// The form's records beyond the sizes a small form reaches: group lists over
// several chunks, a lookup table grown many times, items over several runs.
#include <gtest/gtest.h>

#include <string>

#include "FieldGroups.h"

namespace {

MultipartItem ItemOf(const std::string& text) {
    MultipartItem item;
    item.data = reinterpret_cast<const uint8_t*>(text.data());
    item.length = static_cast<int32_t>(text.size());
    return item;
}

}  // namespace

TEST(FieldGroupsTest, ManyGroupsAndItemsKeepTheirOrder) {
    FieldGroups groups;
    const std::string data = "0123456789";
    // 3,000 names, each given five times in turns: 15,000 items.
    for (int round = 0; round < 5; ++round)
        for (int n = 0; n < 3000; ++n) {
            MultipartItem item = ItemOf(data);
            item.length = round;
            const std::string name = (round % 2 ? "NAME" : "name") + std::to_string(n);
            groups.Append(name.c_str(), item);
        }
    groups.Seal();
    ASSERT_EQ(groups.Count(), 3000);
    for (int n = 0; n < 3000; n += 97) {
        const FieldGroup* group = groups.At(n);
        EXPECT_EQ(std::string(group->name()), "name" + std::to_string(n));  // named as first seen
        EXPECT_EQ(groups.Find(("Name" + std::to_string(n)).c_str()), n);
        ASSERT_EQ(group->count(), 5);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(group->itemAt(i)->length, i);
        EXPECT_EQ(group->itemAt(5), nullptr);
        EXPECT_EQ(group->itemAt(-1), nullptr);
    }
    EXPECT_EQ(groups.Find("name3000"), -1);
    EXPECT_EQ(groups.At(3000), nullptr);
}

TEST(FieldGroupsTest, NamesAreCutAsGroupsAreMadeAndItemsAddedLaterAreNumbered) {
    FieldGroups groups;
    const std::string data = "x";
    const std::string longName(300, 'n');
    groups.Append(longName.c_str(), ItemOf(data));
    groups.Append("only", ItemOf(data));
    groups.Seal();
    EXPECT_EQ(std::string(groups.At(0)->name()), longName.substr(0, 259));
    // Names are cut when groups are made, not when they are looked up.
    EXPECT_EQ(groups.Find(longName.substr(0, 259).c_str()), 0);
    EXPECT_EQ(groups.Find(longName.c_str()), -1);
    // The same name again after the parse: found under the first group.
    groups.Append(std::string(259, 'N').c_str(), ItemOf(data));
    groups.Append("ONLY", ItemOf(data));
    ASSERT_EQ(groups.Count(), 2);
    EXPECT_EQ(groups.At(0)->count(), 2);
    EXPECT_NE(groups.At(1)->itemAt(1), nullptr);
    groups.Clear();
    EXPECT_EQ(groups.Count(), 0);
    EXPECT_EQ(groups.Find("only"), -1);
}

TEST(FieldGroupsTest, NamesCompareAsFoldedTextOrAsBytes) {
    FieldGroups groups(65001);
    const std::string data = "x";
    groups.Append("caf\xc3\xa9", ItemOf(data));  // café
    groups.Append("CAF\xc3\x89", ItemOf(data));  // CAFÉ: the same group
    groups.Append("\xff", ItemOf(data));         // no UTF-8: the byte compares as it is
    groups.Append("\xff", ItemOf(data));
    groups.Append("\xfe", ItemOf(data));
    // The text around bytes that are none is still folded.
    groups.Append("A\xff\xc3\x89", ItemOf(data));  // "A", a byte, "É"
    groups.Append("a\xff\xc3\xa9", ItemOf(data));  // "a", the same byte, "é": the same group
    // A byte that is no text never meets the character of the same number.
    groups.Append("\x01\xc3\xa9", ItemOf(data));  // "\x01é"
    groups.Append("\x01\xe9", ItemOf(data));      // "\x01" and the byte 0xE9
    groups.Seal();
    ASSERT_EQ(groups.Count(), 6);
    EXPECT_EQ(groups.At(0)->count(), 2);
    EXPECT_EQ(groups.At(1)->count(), 2);
    EXPECT_EQ(groups.At(3)->count(), 2);
    EXPECT_EQ(groups.Find("A\xff\xc3\xa9"), 3);
    // In Windows-1252 the same bytes are other letters, still folded.
    FieldGroups western(1252);
    western.Append("\xc9t\xc9", ItemOf(data));  // ÉtÉ
    western.Append("\xe9t\xe9", ItemOf(data));  // été
    EXPECT_EQ(western.Count(), 1);
}

// The text a name is shown as finds its group, whether the name's bytes are
// text in the code page or not; of two names shown alike the first wins.
TEST(FieldGroupsTest, NamesAreFoundByTheirShownText) {
    FieldGroups groups;
    const std::string data = "x";
    groups.Append("Caf\xE9", ItemOf(data));          // no text in UTF-8: shown "Caf\uFFFD"
    groups.Append("caf\xEF\xBF\xBD", ItemOf(data));  // the text "caf\uFFFD"
    groups.Append("\xEF\xBF\xBDz", ItemOf(data));    // the text "\uFFFDz"
    groups.Append("\xFFZ", ItemOf(data));            // no text, shown "\uFFFDZ": after the text
    groups.Seal();
    ASSERT_EQ(groups.Count(), 4);
    EXPECT_EQ(groups.FindShown(u"CAF\uFFFD"), 0);
    EXPECT_EQ(groups.FindShown(u"\uFFFDZ"), 2);
    EXPECT_EQ(groups.FindShown(u"caf"), -1);
    // A group made after the first lookup is found too.
    groups.Append("\xFEq", ItemOf(data));
    EXPECT_EQ(groups.FindShown(u"\uFFFDQ"), 4);
}
