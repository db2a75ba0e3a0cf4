// The arena the store keeps its records in: alignment, pieces that take a block
// of their own, many small pieces apart. The descriptor store: growth past the
// first table, replacement, values larger than a block; and the tool's reading
// of a descriptor the walk did not meet.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Arena.h"
#include "DriverSearchTool.h"
#include "DriverSetStore.h"
#include "ScratchDir.h"

namespace {

using Values = std::vector<std::string>;  // one per DriverSetInfo field

std::string_view Add(DriverSetStore& store, const std::string& path, const Values& values,
                     int index) {
    std::vector<std::string_view> views(values.begin(), values.end());
    return store.Add(path, views.data(), index);
}

void ExpectValues(const DriverSetInfo& info, const Values& values, int index) {
    for (int field = 0; field < DriverSetInfo::FieldCount; ++field) {
        EXPECT_EQ(info.Get(static_cast<DriverSetInfo::Field>(field)), values[field])
            << "field " << field;
    }
    EXPECT_EQ(info.WindowsVersionIndex(), index);
}

Values NumberedValues(int i) {
    const std::string n = std::to_string(i);
    return {"Win" + n, n + ",7340", n, "", "05 Mar 2009", "14:30:" + n, "B" + n};
}

bool Aligned(const char* piece, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(piece) % alignment == 0;
}

TEST(Arena, AlignsPiecesAndKeepsEachApart) {
    Arena arena;
    struct Piece {
        char* start;
        std::size_t bytes;
    };
    std::vector<Piece> pieces;
    const std::size_t alignments[] = {1, 2, 8, 16};
    for (std::size_t i = 0; i < 40000; ++i) {  // some 20 blocks
        const std::size_t bytes = 1 + i % 253, alignment = alignments[i % 4];
        char* start = arena.Allocate(bytes, alignment);
        ASSERT_TRUE(Aligned(start, alignment)) << i;
        std::memset(start, static_cast<int>(i % 251), bytes);
        pieces.push_back({start, bytes});
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        const std::string expected(piece.bytes, static_cast<char>(i % 251));
        ASSERT_EQ(std::string(piece.start, piece.bytes), expected) << i;
    }
}

TEST(Arena, LargePieceThatDoesNotFitTakesABlockOfItsOwn) {
    Arena arena;
    // The first block, filled up to less than a quarter of it.
    char* next = arena.Allocate(1, 1) + 1;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(arena.Allocate(Arena::kBlockBytes / 4, 1), next);
        next += Arena::kBlockBytes / 4;
    }
    // More than a quarter of a block, and more than a block: the first block
    // goes on after each.
    for (std::size_t bytes : {Arena::kBlockBytes / 4 + 1, 3 * Arena::kBlockBytes}) {
        char* large = arena.Allocate(bytes, 16);
        EXPECT_TRUE(Aligned(large, 16));
        std::memset(large, 'L', bytes);
        EXPECT_EQ(arena.Allocate(8, 1), next) << bytes;
        next += 8;
    }
    // A quarter of a block that does not fit starts the next block.
    char* quarter = arena.Allocate(Arena::kBlockBytes / 4, 8);
    EXPECT_EQ(arena.Allocate(1, 1), quarter + Arena::kBlockBytes / 4);
}

TEST(DriverSetInfo, GetsEachFieldAndEmptyDefaults) {
    const Values values = {"Win2008Server", "6123,7340", "", "2.1", "05 Mar 2009", "", "B17"};
    std::string joined;
    for (const std::string& value : values) joined += value + '\0';
    ExpectValues(DriverSetInfo(joined.c_str(), 5), values, 5);
    ExpectValues(DriverSetInfo(), Values(DriverSetInfo::FieldCount), 1);
}

TEST(DriverSetStore, FindsEveryPathAfterGrowingPastTheFirstTable) {
    DriverSetStore store;
    const int count = 5000;  // the first table holds 512 before it grows
    const std::string prefix = "\\\\server\\share\\Drivers\\Family\\Group\\";
    Values big = NumberedValues(0);
    big[DriverSetInfo::SupportedSystems] = std::string(300 * 1024, '7');  // more than a block
    for (int i = 0; i < count; ++i) {
        std::string path = prefix + std::to_string(i) + "\\DrvSet.ini";
        std::string_view kept = Add(store, path, i == 3000 ? big : NumberedValues(i), i % 9);
        EXPECT_EQ(kept, path);
        EXPECT_NE(kept.data(), path.data());
    }
    for (int i = 0; i < count; ++i) {
        const DriverSetInfo* info = store.Find(prefix + std::to_string(i) + "\\DrvSet.ini");
        ASSERT_NE(info, nullptr) << i;
        ExpectValues(*info, i == 3000 ? big : NumberedValues(i), i % 9);
    }
    EXPECT_EQ(store.Find(prefix + "5000\\DrvSet.ini"), nullptr);
    EXPECT_EQ(store.Find(prefix + "1\\DrvSet.in"), nullptr);
    EXPECT_EQ(store.Find(""), nullptr);
}

TEST(DriverSetStore, AddingAPathAgainReplacesItsValuesAndKeepsItsText) {
    DriverSetStore store;
    std::string path = "C:\\Drivers\\a\\DrvSet.ini";
    std::string_view first = Add(store, path, NumberedValues(1), 5);
    Add(store, "C:\\Drivers\\b\\DrvSet.ini", NumberedValues(2), 6);
    Values longer = NumberedValues(3);
    longer[DriverSetInfo::BuildId] = std::string(1000, 'x');
    std::string_view second = Add(store, path, longer, 7);
    EXPECT_EQ(second.data(), first.data());
    path[0] = 'D';  // the store keeps its own copy of the text
    ASSERT_NE(store.Find("C:\\Drivers\\a\\DrvSet.ini"), nullptr);
    ExpectValues(*store.Find("C:\\Drivers\\a\\DrvSet.ini"), longer, 7);
    ExpectValues(*store.Find("C:\\Drivers\\b\\DrvSet.ini"), NumberedValues(2), 6);
    Add(store, "C:\\Drivers\\a\\DrvSet.ini", Values(DriverSetInfo::FieldCount), 1);
    ExpectValues(*store.Find("C:\\Drivers\\a\\DrvSet.ini"), Values(DriverSetInfo::FieldCount), 1);
}

TEST(DriverSearchTool, ReadsADescriptorTheWalkDidNotMeetOnce) {
    struct Case {
        const char* name;
        const char* contents;  // null: no file
        Values values;
        int index;
    };
    const Case cases[] = {
        {"full",
         "; set\r\n[Files]\r\nBuildID=wrong\r\n[main]\r\n windows version = win2008server\r\n"
         "Supported Systems=6123,7340\r\nKastrel Version=3.2\r\nQuillon Version=\r\n"
         "Creation Date=05 Mar 2009\r\nCreation Time=14:30:05\r\nBuildID=B17\r\n",
         {"win2008server", "6123,7340", "3.2", "", "05 Mar 2009", "14:30:05", "B17"},
         5},
        {"unknown",
         "[Main]\nWindows Version=Windows2003\n",
         {"Windows2003", "", "", "", "", "", ""},
         1},
        {"missing", nullptr, Values(DriverSetInfo::FieldCount), 1},
    };
    ScratchDir dir;
    DriverSearchTool tool;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Join(c.name);
        if (c.contents != nullptr) dir.Write(c.name, c.contents);
        ExpectValues(tool.GetDriverSetInfo(path), c.values, c.index);
        // Read once: what the file holds later does not change the answer.
        dir.Write(c.name, "[Main]\nWindows Version=WinXP\nBuildID=later\n");
        ExpectValues(tool.GetDriverSetInfo(path), c.values, c.index);
    }
}

}  // namespace
