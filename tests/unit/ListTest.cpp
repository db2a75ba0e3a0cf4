// Unit tests of the delimited-list operations of CString and the counting,
// trimming, removal and replacement operations they are built on.
//
// Besides the edge cases, the list reads, inserts and sorts are compared with a
// plain, literal model of the list rules (every item read trims a copy of the
// whole list and counts overlapping delimiter matches; the sort is the
// insertion sort through GetItem and InsertItem) over thousands of random lists.
#include "CString.h"
#include "Platform.h"
#include "reference_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

std::string Text(const CString& s) { return std::string(s.GetCharString(), s.GetLength()); }

CString ListWithEmptyItem() {
    CString list;
    list.AddItem(CString(), CString(","));
    return list;
}

// ---- The literal model ----

// The list rules written out plainly (every item read trims a copy of the whole
// list; the sort goes through GetItem and InsertItem), shared with the fuzzers.
namespace literal = ref;

// ---- Random lists ----

class RandomLists {
public:
    // paths: items made of separators of both kinds and the bytes that sort
    // between them and around them, for the path order.
    explicit RandomLists(unsigned seed, bool paths = false) : state_(seed), paths_(paths) {}

    unsigned Next(unsigned bound) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>(state_ >> 33) % bound;
    }

    // An item of the test alphabet; plain items have no blank, tab or newline.
    std::string Item(bool plain) {
        static const char kAll[] = ", \t\naBz\xe9;:";
        static const char kPlain[] = "aBz\xe9";
        static const char kPathAll[] = ", \t/\\0R[a";
        static const char kPathPlain[] = "/\\0R[a";
        const std::string_view all = paths_ ? kPathAll : kAll;
        const std::string_view some = paths_ ? kPathPlain : kPlain;
        std::string item;
        for (unsigned n = Next(paths_ ? 6 : 4); n > 0; --n) {
            item += plain ? some[Next(some.size())] : all[Next(all.size())];
        }
        return item;
    }

    // A list in both forms: the model and the CString built by AddItem.
    void MakeList(const std::string& delimiter, literal::List& model, CString& list) {
        model = literal::List();
        list = CString();
        const bool plain = Next(2) == 0;
        if (Next(4) == 0) {
            const std::string text = Item(false) + Item(false) + Item(false);
            literal::Assign(model, text);
            list = text.c_str();
            return;
        }
        for (unsigned n = Next(9); n > 0; --n) {
            const std::string item = Item(plain);
            literal::AddItem(model, item, delimiter);
            list.AddItem(CString(item.c_str()), CString(delimiter.c_str()));
        }
    }

private:
    unsigned long long state_;
    bool paths_;
};

const char* const kDelimiters[] = {",", ";", " ", ":", "aa", ", ", "\t", "a,a"};

void ExpectSameList(const literal::List& model, const CString& list, const std::string& context) {
    EXPECT_EQ(model.text, Text(list)) << context;
    EXPECT_EQ(model.emptyItem, list.HasEmptyItemFlag()) << context;
}

// ---- Edge cases ----

TEST(ListCount, CountsOnTheWholeText) {
    const CString comma(",");
    EXPECT_EQ(0, CString().GetItemCount(comma));
    EXPECT_EQ(1, CString("a").GetItemCount(comma));
    EXPECT_EQ(3, CString("a,,b").GetItemCount(comma));
    EXPECT_EQ(2, CString("a,").GetItemCount(comma));
    EXPECT_EQ(1, CString("   ").GetItemCount(comma));
    EXPECT_EQ(1, ListWithEmptyItem().GetItemCount(comma));
    EXPECT_EQ(0, CString("a,b").GetItemCount(CString()));
    EXPECT_EQ(3, CString("aaaa").GetItemCount(CString("aa")));
}

TEST(ListGetItem, ItemsOfTheTrimmedList) {
    const CString comma(",");
    const CString ab("a,b");
    EXPECT_EQ("a", Text(ab.GetItem(0, comma)));
    EXPECT_EQ("b", Text(ab.GetItem(1, comma)));
    EXPECT_EQ("", Text(ab.GetItem(2, comma)));
    for (int i = -1; i < 3; ++i) EXPECT_EQ("", Text(ab.GetItem(i, CString()))) << i;
    const CString padded(" a,b\n");
    EXPECT_EQ("a", Text(padded.GetItem(0, comma)));
    EXPECT_EQ("b", Text(padded.GetItem(1, comma)));
    EXPECT_EQ(" b", Text(CString("a, b").GetItem(1, comma)));
    EXPECT_EQ("c", Text(CString("a,b,c").GetItem(-1, comma)));
    EXPECT_EQ("", Text(CString("abc").GetItem(-1, comma)));
    EXPECT_EQ("b\r", Text(CString("a,b\r").GetItem(1, comma)));  // CR is not trimmed
    EXPECT_EQ("12", Text(CString("10:11:12").GetItem(2, CString(":"))));
    EXPECT_EQ("March", Text(CString("3 March 2008").GetItem(1, CString(" "))));
}

TEST(ListAddItem, EmptyItemFlag) {
    const CString comma(",");
    CString list = ListWithEmptyItem();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_TRUE(list.HasEmptyItemFlag());
    CString copy(list);
    EXPECT_FALSE(copy.HasEmptyItemFlag());
    EXPECT_EQ(0, copy.GetItemCount(comma));
    CString assigned("x");
    assigned = list;
    EXPECT_FALSE(assigned.HasEmptyItemFlag());
    list.AddItem(CString("x"), comma);
    EXPECT_EQ(",x", Text(list));
    EXPECT_EQ(2, list.GetItemCount(comma));
    EXPECT_FALSE(list.HasEmptyItemFlag());

    CString a("a");
    a.AddItem(CString(), comma);
    EXPECT_EQ("a,", Text(a));
    CString plain;
    plain.AddItem(CString("a"), CString());
    plain.AddItem(CString("b"), CString());
    EXPECT_EQ("ab", Text(plain));

    CString cleared = ListWithEmptyItem();
    cleared.Empty();
    EXPECT_FALSE(cleared.HasEmptyItemFlag());
    CString reassigned = ListWithEmptyItem();
    reassigned = "";
    EXPECT_FALSE(reassigned.HasEmptyItemFlag());
}

TEST(ListAddItem, ArgumentsMayBeTheListItself) {
    CString list("a,b");
    list.AddItem(list, CString(","));
    EXPECT_EQ("a,b,a,b", Text(list));
    CString self("x");
    self.AddItem(CString("y"), self);
    EXPECT_EQ("xxy", Text(self));
    CString both(";");
    both.AddItem(both, both);
    EXPECT_EQ(";;;", Text(both));
    CString inserted("a,c");
    EXPECT_EQ(2, inserted.InsertItem(inserted, CString("q"), CString(",")));
    EXPECT_EQ("a,c,a,c", Text(inserted));
}

TEST(ListInsertItem, PositionsAndResults) {
    const CString comma(",");
    CString list("a,c,d");
    EXPECT_EQ(1, list.InsertItem(CString("b"), CString("c"), comma));
    EXPECT_EQ("a,b,c,d", Text(list));
    list = "a,c";
    EXPECT_EQ(2, list.InsertItem(CString("z"), CString("q"), comma));
    EXPECT_EQ("a,c,z", Text(list));
    list = "a,c";
    EXPECT_EQ(0, list.InsertItem(CString("z"), CString(), comma));
    EXPECT_EQ("z,a,c", Text(list));
    list = "";
    EXPECT_EQ(0, list.InsertItem(CString("z"), CString("a"), comma));
    EXPECT_EQ("z", Text(list));
    list = " a,b\n";
    EXPECT_EQ(1, list.InsertItem(CString("x"), CString("b"), comma));
    EXPECT_EQ("a,x,b", Text(list));
    // The flag never survives into a text that is not empty.
    CString flagged = ListWithEmptyItem();
    EXPECT_EQ(0, flagged.InsertItem(CString("z"), CString(), comma));
    EXPECT_EQ("z,", Text(flagged));
    EXPECT_FALSE(flagged.HasEmptyItemFlag());
    EXPECT_EQ(2, flagged.GetItemCount(comma));
}

TEST(ListLocked, EmptyItemFlagDescribesOnlyAnEmptyBuffer) {
    const CString comma(",");
    for (bool release : {true, false}) {
        CString list = ListWithEmptyItem();
        char* buffer = list.GetBuffer(16);
        EXPECT_TRUE(list.HasEmptyItemFlag());  // nothing written yet: one empty item
        EXPECT_EQ(1, list.GetItemCount(comma));
        std::strcpy(buffer, "a,b");
        EXPECT_FALSE(list.HasEmptyItemFlag());
        EXPECT_EQ(2, list.GetItemCount(comma));
        EXPECT_EQ("b", Text(list.GetItem(1, comma)));
        EXPECT_EQ(2u, list.GetItems(comma).size());
        if (release) {
            EXPECT_TRUE(list.ReleaseBuffer());
        } else {
            list.GetBuffer(0);
        }
        EXPECT_EQ("a,b", Text(list));
        EXPECT_FALSE(list.HasEmptyItemFlag());
        EXPECT_EQ(2, list.GetItemCount(comma));
        list.AddItem(CString("c"), comma);
        EXPECT_EQ("a,b,c", Text(list));
    }
    // A locked list left empty keeps its one empty item.
    CString list = ListWithEmptyItem();
    list.GetBuffer(16);
    EXPECT_TRUE(list.ReleaseBuffer());
    EXPECT_TRUE(list.HasEmptyItemFlag());
    EXPECT_EQ(1, list.GetItemCount(comma));
}

TEST(ListSortItems, ByteOrderStable) {
    const CString comma(",");
    CString list("c,a,B,a");
    list.SortItems(comma);
    EXPECT_EQ("B,a,a,c", Text(list));
    CString empty;
    empty.SortItems(comma);
    EXPECT_TRUE(empty.IsEmpty());
    CString flagged = ListWithEmptyItem();
    flagged.SortItems(comma);
    EXPECT_TRUE(flagged.HasEmptyItemFlag());
    CString bytes("\xe9,z,Z,,a");
    bytes.SortItems(comma);
    EXPECT_EQ(",Z,a,z,\xe9", Text(bytes));
    CString padded(" b,a\n");  // the whole list is trimmed by the item reads
    padded.SortItems(comma);
    EXPECT_EQ("a,b", Text(padded));
    CString blanks("   ");  // one item that reads back empty: the list stays
    blanks.SortItems(comma);
    EXPECT_EQ("   ", Text(blanks));
    CString noDelimiter("b,a");
    noDelimiter.SortItems(CString());
    EXPECT_EQ("b,a", Text(noDelimiter));
}

TEST(ListSortPathItems, SeparatorsSortAsBackslashOnEveryBuild) {
    const CString comma(",");
    // "\\" (0x5C) sorts after "R" (0x52): Win2008R2 before Win2008 and what is in it.
    CString list("d\\Win2008\\x\\DrvSet.ini,d\\Win2008R2\\DrvSet.ini,d\\Win2008\\DrvSet.ini");
    list.SortPathItems(comma);
    EXPECT_EQ("d\\Win2008R2\\DrvSet.ini,d\\Win2008\\DrvSet.ini,d\\Win2008\\x\\DrvSet.ini",
              Text(list));
    CString plain("c,a,B,a");  // no separator: byte order, stable
    plain.SortPathItems(comma);
    EXPECT_EQ("B,a,a,c", Text(plain));
    CString flagged = ListWithEmptyItem();
    flagged.SortPathItems(comma);
    EXPECT_TRUE(flagged.HasEmptyItemFlag());
}

TEST(ListSortPathItems, SlashSortsAsBackslashWhereItSeparates) {
    const CString comma(",");
    CString list("d/Win2008/DrvSet.ini,d/Win2008R2/DrvSet.ini,d/Win2008_x/DrvSet.ini");
    list.SortPathItems(comma);
    if (platform::IsSeparator('/')) {
        // As the Windows build sorts d\Win2008\...: "R" < "\\" < "_".
        EXPECT_EQ("d/Win2008R2/DrvSet.ini,d/Win2008/DrvSet.ini,d/Win2008_x/DrvSet.ini", Text(list));
    } else {
        EXPECT_EQ("d/Win2008/DrvSet.ini,d/Win2008R2/DrvSet.ini,d/Win2008_x/DrvSet.ini", Text(list));
    }
    // Paths equal but for the kind of separator keep their order.
    CString mixed("a/b,a\\b,a/b");
    mixed.SortPathItems(comma);
    EXPECT_EQ(platform::IsSeparator('/') ? "a/b,a\\b,a/b" : "a/b,a/b,a\\b", Text(mixed));
}

TEST(ListSetItems, AsAddItemOfEach) {
    const CString comma(",");
    CString list("old");
    list.SetItems(std::vector<CString>{CString("a"), CString(), CString("b")}, comma);
    EXPECT_EQ("a,,b", Text(list));
    list.SetItems(std::vector<CString>{CString()}, comma);
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_TRUE(list.HasEmptyItemFlag());
    list.SetItems(std::vector<std::string_view>{}, comma);
    EXPECT_FALSE(list.HasEmptyItemFlag());
    EXPECT_EQ(0, list.GetItemCount(comma));
    std::vector<CString> items = {CString("x"), CString("y")};
    items[0].SetItems(items, CString(";"));
    EXPECT_EQ("x;y", Text(items[0]));
    // Reordered from views of its own text, as the latest choice does.
    CString own("alpha,beta,gamma");
    std::vector<std::string_view> views = own.GetItemViews(comma);
    std::swap(views[0], views[2]);
    own.SetItems(views, comma);
    EXPECT_EQ("gamma,beta,alpha", Text(own));
}

TEST(ListTextOperations, CountTrimRemoveReplace) {
    EXPECT_EQ(2, CString("aaaa").CountOccurrences(CString("aa")));
    EXPECT_EQ(0, CString("aaaa").CountOccurrences(CString()));
    EXPECT_EQ(0, CString().CountOccurrences(CString("a")));

    CString padded("\t a b \n");
    EXPECT_STREQ("a b", padded.Trim(CString(" \t\n")));
    CString unchanged(" a ");
    EXPECT_STREQ(" a ", unchanged.Trim(CString()));
    CString left("xxaxx");
    EXPECT_STREQ("axx", left.TrimLeft(CString("x")));
    EXPECT_STREQ("a", left.TrimRight(CString("x")));
    CString all("xyx");
    EXPECT_STREQ("", all.Trim(all));

    CString path("\\dir\\x");
    EXPECT_TRUE(path.RemoveFirst(CString("\\")));
    EXPECT_EQ("dir\\x", Text(path));
    EXPECT_FALSE(path.RemoveFirst(CString("q")));
    EXPECT_FALSE(path.RemoveFirst(CString()));
    EXPECT_TRUE(path.RemoveFirst(path));
    EXPECT_TRUE(path.IsEmpty());

    CString list("a,b,c");
    EXPECT_TRUE(list.ReplaceAll(CString(","), CString(" ")));
    EXPECT_EQ("a b c", Text(list));
    CString grow("aba");
    EXPECT_TRUE(grow.ReplaceAll(CString("a"), CString("aa")));
    EXPECT_EQ("aabaa", Text(grow));
    EXPECT_FALSE(grow.ReplaceAll(CString(), CString("x")));
    EXPECT_EQ("aabaa", Text(grow));
    CString overlap("aaaaa");
    EXPECT_TRUE(overlap.ReplaceAll(CString("aa"), CString("b")));
    EXPECT_EQ("bba", Text(overlap));
    CString self("ab");
    EXPECT_TRUE(self.ReplaceAll(CString("b"), self));
    EXPECT_EQ("aab", Text(self));
}

// ---- Differential checks against the literal model ----

// Calls check(random, delimiter, separator, model, list) for 1,500 random lists of each
// delimiter, the model and the CString holding the same list.
template <typename Check>
void ForEachRandomList(unsigned seed, Check check, bool paths = false) {
    RandomLists random(seed, paths);
    for (const char* delimiterText : kDelimiters) {
        const std::string delimiter = delimiterText;
        const CString separator(delimiterText);
        for (int round = 0; round < 1500; ++round) {
            literal::List model;
            CString list;
            random.MakeList(delimiter, model, list);
            check(random, delimiter, separator, model, list);
        }
    }
}

TEST(ListDifferential, ReadsMatchTheLiteralRules) {
    ForEachRandomList(1, [](RandomLists&, const std::string& delimiter, const CString& separator,
                            literal::List& model, CString& list) {
        const std::string context = "[" + model.text + "] by [" + delimiter + "]";
        ExpectSameList(model, list, context);
        const int count = literal::GetItemCount(model, delimiter);
        ASSERT_EQ(count, list.GetItemCount(separator)) << context;
        const std::vector<CString> items = list.GetItems(separator);
        const std::vector<std::string_view> views = list.GetItemViews(separator);
        ASSERT_EQ(static_cast<size_t>(count), items.size()) << context;
        ASSERT_EQ(static_cast<size_t>(count), views.size()) << context;
        for (int i = -2; i <= count + 1; ++i) {
            const std::string expected = literal::GetItem(model, i, delimiter);
            EXPECT_EQ(expected, Text(list.GetItem(i, separator))) << context << " #" << i;
            if (i >= 0 && i < count) {
                EXPECT_EQ(expected, Text(items[i])) << context << " #" << i;
                EXPECT_EQ(expected, views[i]) << context << " #" << i;
            }
        }
    });
}

TEST(ListDifferential, InsertAndAddMatchTheLiteralRules) {
    ForEachRandomList(2, [](RandomLists& random, const std::string& delimiter,
                            const CString& separator, literal::List& model, CString& list) {
        const int count = literal::GetItemCount(model, delimiter);
        std::string before = random.Item(false);
        if (count > 0 && random.Next(2) == 0) {
            before = literal::GetItem(model, static_cast<int>(random.Next(count)), delimiter);
        }
        const std::string item = random.Item(false);
        const std::string context = "[" + model.text + "] insert [" + item + "] before [" + before +
                                    "] by [" + delimiter + "]";
        const int expected = literal::InsertItem(model, item, before, delimiter);
        EXPECT_EQ(expected,
                  list.InsertItem(CString(item.c_str()), CString(before.c_str()), separator))
            << context;
        ExpectSameList(model, list, context);
        const std::string added = random.Item(false);
        literal::AddItem(model, added, delimiter);
        list.AddItem(CString(added.c_str()), separator);
        ExpectSameList(model, list, context + " add [" + added + "]");
        // An item read from the list itself, added back as a view of its text.
        const std::vector<std::string_view> views = list.GetItemViews(separator);
        if (!views.empty()) {
            const std::string_view again = views[random.Next(views.size())];
            const std::string copy(again);  // the view dies with the list's old text
            literal::AddItem(model, copy, delimiter);
            list.AddItem(again, separator);
            ExpectSameList(model, list, context + " add again [" + copy + "]");
        }
    });
}

TEST(ListDifferential, SortMatchesTheInsertionSort) {
    ForEachRandomList(3, [](RandomLists&, const std::string& delimiter, const CString& separator,
                            literal::List& model, CString& list) {
        const std::string context = "[" + model.text + "] by [" + delimiter + "]";
        literal::SortItems(model, delimiter);
        list.SortItems(separator);
        ExpectSameList(model, list, context);
    });
}

TEST(ListDifferential, PathSortMatchesTheInsertionSortInPathOrder) {
    ForEachRandomList(
        7,
        [](RandomLists&, const std::string& delimiter, const CString& separator,
           literal::List& model, CString& list) {
            const std::string context = "[" + model.text + "] by [" + delimiter + "]";
            literal::SortPathItems(model, delimiter, platform::IsSeparator);
            list.SortPathItems(separator);
            ExpectSameList(model, list, context);
        },
        true);
}

// The shape a walk gives: long lists in path order but for a few places (a
// run moved, a pair swapped), sorted once and then again, as views and as a list.
TEST(ListDifferential, NearlySortedPathListsSortAsTheModel) {
    std::mt19937 random(11);
    const char* const names[] = {"a", "B", "b_", "Win2008", "Win2008R2", "x", "_y"};
    const char* const separators[] = {"/", "\\"};
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> paths;
        for (int n = 0; n < 40 + round * 3; ++n) {
            std::string path = "d";
            for (int depth = 1 + random() % 3; depth > 0; --depth) {
                path += separators[random() % 2];
                path += names[random() % 7];
            }
            paths.push_back(path);
        }
        std::sort(paths.begin(), paths.end());
        for (int swaps = random() % 4; swaps > 0; --swaps) {
            const std::size_t at = random() % (paths.size() - 1);
            std::swap(paths[at], paths[at + random() % (paths.size() - at)]);
        }
        ref::List model;
        CString list;
        for (const std::string& path : paths) {
            ref::AddItem(model, path, ",");
            list.AddItem(CString(path.c_str()), CString(","));
        }
        CString copy(list);
        std::vector<std::string_view> views = copy.GetItemViews(CString(","));
        CString::SortPathViews(views);
        ref::SortPathItems(model, ",", platform::IsSeparator);
        list.SortPathItems(CString(","));
        ExpectSameList(model, list, "round " + std::to_string(round));
        CString fromViews;
        for (std::string_view view : views) fromViews.AddItem(view, CString(","));
        EXPECT_EQ(model.text, Text(fromViews)) << "round " << round;
        list.SortPathItems(CString(","));  // in order already: left as it is
        ExpectSameList(model, list, "again, round " + std::to_string(round));
    }
}

TEST(ListDifferential, SetItemsEqualsAddingEachItem) {
    RandomLists random(4);
    for (const char* delimiterText : kDelimiters) {
        for (int round = 0; round < 300; ++round) {
            literal::List model;
            std::vector<CString> items;
            for (unsigned n = random.Next(5); n > 0; --n) {
                const std::string item = random.Item(random.Next(2) == 0);
                literal::AddItem(model, item, delimiterText);
                items.emplace_back(item.c_str());
            }
            CString list("previous");
            list.SetItems(items, CString(delimiterText));
            ExpectSameList(model, list, model.text);
        }
    }
}

// ---- Long lists stay fast: every operation here is linear or n log n ----

TEST(ListScale, LongListsAreReadSortedAndEditedInOnePass) {
    const int kItems = 200000;
    std::vector<CString> items;
    items.reserve(kItems);
    for (int i = 0; i < kItems; ++i) items.emplace_back((kItems - i) * 7919 % 1000003);
    CString list;
    list.SetItems(items, CString(","));
    ASSERT_EQ(kItems, list.GetItemCount(CString(",")));
    const std::vector<CString> read = list.GetItems(CString(","));
    ASSERT_EQ(items.size(), read.size());
    EXPECT_TRUE(read[kItems - 1] == items[kItems - 1]);
    EXPECT_TRUE(list.GetItem(kItems - 1, CString(",")) == items[kItems - 1]);
    EXPECT_EQ(kItems, list.InsertItem(CString("x"), CString("none"), CString(",")));
    list.SortItems(CString(","));
    const std::vector<CString> sorted = list.GetItems(CString(","));
    ASSERT_EQ(static_cast<size_t>(kItems + 1), sorted.size());
    for (size_t i = 1; i < sorted.size(); ++i) ASSERT_LE(sorted[i - 1].Compare(sorted[i]), 0);
    EXPECT_TRUE(list.ReplaceAll(CString(","), CString(", ")));
    EXPECT_EQ(kItems, list.CountOccurrences(CString(", ")));
}

TEST(ListScale, ItemsWithEdgeBlanksSortWithoutRebuildingTheText) {
    // Every path begins with a blank (a driver path typed with a leading blank):
    // the insertion sort then puts each later item in front, and the item it
    // displaces is rebuilt as read, without its blank.
    const int kItems = 20000;
    CString list;
    for (int i = 0; i < kItems; ++i) {
        list.AddItem(" C:\\drivers\\" + CString(i) + "\\DrvSet.ini", CString(","));
    }
    list.SortItems(CString(","));
    ASSERT_EQ(kItems, list.GetItemCount(CString(",")));
    EXPECT_EQ("C:\\drivers\\19999\\DrvSet.ini", Text(list.GetItem(0, CString(","))));
    EXPECT_EQ(0, std::string(list.GetCharString()).find(" C:\\drivers\\19999\\DrvSet.ini,C:"));
    EXPECT_EQ("C:\\drivers\\19998\\DrvSet.ini", Text(list.GetItems(CString(","))[1]));
    EXPECT_EQ("C:\\drivers\\0\\DrvSet.ini", Text(list.GetItem(kItems - 1, CString(","))));
}

}  // namespace
