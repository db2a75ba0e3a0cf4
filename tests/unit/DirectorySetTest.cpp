// The set of directory identities, and the walk's rule for a directory entered
// before: a hint from a listing never leaves a directory out on its own.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

#include "DirectorySet.h"

namespace {

platform::FileId Id(uint64_t device, uint64_t inode) { return {device, inode, true}; }

TEST(DirectorySet, InsertsEachIdentityOnceAfterGrowing) {
    DirectorySet set;
    std::vector<platform::FileId> ids;
    for (uint64_t inode = 0; inode < 3000; ++inode) {
        ids.push_back(Id(1, inode));
        ids.push_back(Id(2, inode));  // the same inode on another device
    }
    for (const platform::FileId& id : ids) EXPECT_TRUE(set.Insert(id)) << id.inode;
    for (const platform::FileId& id : ids) EXPECT_FALSE(set.Insert(id)) << id.inode;
    EXPECT_TRUE(set.Insert(Id(3, 0)));
}

// Inserts and erases at random over few distinct identities, so that probe runs
// collide and wrap; the set answers as std::set does throughout.
TEST(DirectorySet, EraseKeepsEveryOtherIdentityFindable) {
    std::mt19937 random(7);
    DirectorySet set;
    std::set<std::pair<uint64_t, uint64_t>> model;
    for (int step = 0; step < 200000; ++step) {
        const platform::FileId id = Id(random() % 3, random() % 700);
        const auto key = std::make_pair(id.device, id.inode);
        if (random() % 3 == 0) {
            set.Erase(id);
            model.erase(key);
        } else {
            ASSERT_EQ(model.insert(key).second, set.Insert(id)) << step;
        }
        const platform::FileId probe = Id(random() % 3, random() % 700);
        ASSERT_EQ(model.count({probe.device, probe.inode}) == 1, set.Contains(probe)) << step;
    }
}

// A file system seen through the walk's eyes: what the listing hints and what
// each directory's own identity is.
struct Directory {
    platform::FileId hint;  // as the parent's listing gives it
    platform::FileId own;   // as the directory itself tells it
};

// Admits a directory as the walk does: decide, enter, then confirm once opened.
// Returns whether it was walked, and counts the queries of its own identity.
bool Walk(EnteredDirectories& entered, const Directory& directory, int& queries) {
    platform::FileId id = directory.hint;
    if (!entered.IsNew(id, [&] {
            ++queries;
            return directory.own;
        })) {
        return false;
    }
    entered.Enter(id);
    return entered.Confirm(id, directory.own);
}

TEST(EnteredDirectories, HintsLeaveOutOnlyWhatTheFileSystemSaysIsTheSame) {
    const platform::FileId unknown;  // no number in the listing (FUSE, FAT)
    struct Case {
        const char* name;
        std::vector<Directory> walk;  // in walk order
        std::vector<bool> walked;
        int queries;  // of a directory's own identity
    };
    const Case cases[] = {
        {"a local disk: right hints, no query at all",
         {{Id(1, 10), Id(1, 10)}, {Id(1, 11), Id(1, 11)}, {Id(1, 12), Id(1, 12)}},
         {true, true, true},
         0},
        {"no numbers in listings: each directory asked, none lost",
         {{unknown, Id(5, 100)}, {unknown, Id(5, 101)}, {unknown, Id(5, 102)}},
         {true, true, true},
         3},
        {"no numbers at all (a FUSE client's stat fails too): every directory new",
         {{unknown, unknown}, {unknown, unknown}},
         {true, true},
         2},
        {"two mounts whose points share the parent's hint: both walked",
         {{Id(1, 50), Id(7, 1)}, {Id(1, 50), Id(8, 1)}},
         {true, true},
         0},
        {"a mount reached directly, then through a link: once",
         {{Id(1, 50), Id(7, 1)}, {Id(7, 1), Id(7, 1)}},
         {true, false},
         1},
        {"a mount reached through a link, then directly: once",
         {{Id(7, 1), Id(7, 1)}, {Id(1, 50), Id(7, 1)}},
         {true, false},
         0},
        {"a link back to a directory entered: left out after one query",
         {{Id(1, 10), Id(1, 10)}, {Id(1, 10), Id(1, 10)}},
         {true, false},
         1},
        {"the directory a mount covers, reached another way, after the mount",
         {{Id(1, 50), Id(7, 1)}, {Id(1, 50), Id(1, 50)}},
         {true, true},
         0},
    };
    for (const Case& c : cases) {
        EnteredDirectories entered;
        int queries = 0;
        std::vector<bool> walked;
        for (const Directory& directory : c.walk)
            walked.push_back(Walk(entered, directory, queries));
        EXPECT_EQ(c.walked, walked) << c.name;
        EXPECT_EQ(c.queries, queries) << c.name;
    }
}

}  // namespace
