// PathName: text operations on Windows-style paths (the same on every build),
// the native forms on POSIX, the absolute form, existence and listings.

#include "PathName.h"
#include "Platform.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Split {
    CString drive, directory, name, extension;
};

Split SplitOf(const char* text) {
    Split s;
    EXPECT_TRUE(PathName(text).SplitPath(s.drive, s.directory, s.name, s.extension));
    return s;
}

void ExpectSplit(const char* text, const char* drive, const char* directory, const char* name,
                 const char* extension) {
    Split s = SplitOf(text);
    EXPECT_EQ(CString(drive), s.drive) << text;
    EXPECT_EQ(CString(directory), s.directory) << text;
    EXPECT_EQ(CString(name), s.name) << text;
    EXPECT_EQ(CString(extension), s.extension) << text;
}

// Append, checked against the directory-and-component constructor, which must
// give the same text.
CString Appended(const char* text, const char* component) {
    PathName path(text);
    CString result = path.Append(component);
    EXPECT_EQ(result, path.GetPath());
    EXPECT_EQ(result, PathName(PathName(text), component).GetPath()) << text << " + " << component;
    return result;
}

}  // namespace

TEST(PathNameTest, DirectoryAndFileNameOfWindowsTexts) {
    EXPECT_EQ(CString("C:\\dir"), PathName("C:\\dir\\file.ini").GetDirectory());
    EXPECT_EQ(CString("C:"), PathName("C:\\file.ini").GetDirectory());
    EXPECT_EQ(CString("C"), PathName("C:file").GetDirectory());
    EXPECT_EQ(CString(""), PathName("file").GetDirectory());
    EXPECT_EQ(CString(""), PathName("\\file").GetDirectory());
    EXPECT_EQ(CString("file.ini"), PathName("C:\\dir\\file.ini").GetFileName());
    EXPECT_EQ(CString("file"), PathName("C:file").GetFileName());
    EXPECT_EQ(CString("file"), PathName("file").GetFileName());
    EXPECT_EQ(CString(""), PathName("C:\\dir\\").GetFileName());
    // No trimming: blanks belong to the names.
    EXPECT_EQ(CString(" a "), PathName("x\\ a ").GetFileName());
}

TEST(PathNameTest, SplitPathOfWindowsTexts) {
    ExpectSplit("C:\\dir\\sub\\file.ini", "C:", "\\dir\\sub\\", "file", ".ini");
    ExpectSplit("\\\\srv\\share\\dir\\a.txt", "\\\\srv\\share\\", "dir\\", "a", ".txt");
    ExpectSplit("\\\\srv\\share", "", "\\\\srv\\", "share", "");
    ExpectSplit(" \tC:\\x\\DrvSet.ini\n", "C:", "\\x\\", "DrvSet", ".ini");
    ExpectSplit("file.html", "", "", "file.html", "");
    ExpectSplit("archive.tar.gz", "", "", "archive.tar", ".gz");
    ExpectSplit("name.", "", "", "name", ".");
    ExpectSplit(".ini", "", "", "", ".ini");
    ExpectSplit(".profile", "", "", ".profile", "");
    ExpectSplit("", "", "", "", "");
    EXPECT_EQ(CString("DrvSet"), PathName("C:\\x\\DrvSet.ini").GetBaseName());
    EXPECT_EQ(CString(".ini"), PathName("C:\\x\\DrvSet.ini").GetExtension());
    EXPECT_EQ(CString(""), PathName("C:\\x.y\\DrvSet").GetExtension());
}

TEST(PathNameTest, AppendJoinsWithOneSeparator) {
    EXPECT_EQ(CString("C:\\drv\\DrvSet.ini"), Appended("C:\\drv", "DrvSet.ini"));
    EXPECT_EQ(CString("C:\\drv\\DrvSet.ini"), Appended("C:\\drv\\", "\\DrvSet.ini"));
    EXPECT_EQ(CString("C:\\drv\\DrvSet.ini"), Appended("C:\\drv\\", "DrvSet.ini"));
    EXPECT_EQ(CString("C:\\drv\\\\x"), Appended("C:\\drv\\\\", "\\x"));
    EXPECT_EQ(CString("name"), Appended("", "name"));
    EXPECT_EQ(CString("C:\\drv"), Appended("C:\\drv", ""));
    std::string preferred(1, platform::PreferredSeparator());
    EXPECT_EQ(CString(("dir" + preferred + "file").c_str()), Appended("dir", "file"));
}

#ifndef _WIN32
TEST(PathNameTest, PosixTextsUseBothSeparators) {
    EXPECT_EQ(CString("/srv/drivers"), PathName("/srv/drivers/DrvSet.ini").GetDirectory());
    EXPECT_EQ(CString("DrvSet.ini"), PathName("/srv/drivers/DrvSet.ini").GetFileName());
    EXPECT_EQ(CString("C:\\dir"), PathName("C:\\dir/file").GetDirectory());
    EXPECT_EQ(CString("file"), PathName("C:\\dir/file").GetFileName());
    ExpectSplit("/srv/a/b.txt", "", "/srv/a/", "b", ".txt");
    ExpectSplit("//srv/share/dir/a.txt", "//srv/share/", "dir/", "a", ".txt");
    EXPECT_EQ(CString("/srv/a/b"), Appended("/srv/a", "b"));
    EXPECT_EQ(CString("/srv/a/b"), Appended("/srv/a/", "/b"));
    EXPECT_EQ(CString("/srv\\a\\b"), Appended("/srv\\a", "b"));  // the text's own separator
    EXPECT_EQ(CString("/srv\\b"), Appended("/srv/", "\\b"));
}
#endif

TEST(PathNameTest, FullPathOfRelativeEmptyAndTooLong) {
    const std::string cwd = fs::current_path().string();
    const char sep = platform::PreferredSeparator();
    EXPECT_EQ(CString((cwd + sep + "DrvSet.ini").c_str()), PathName("DrvSet.ini").GetFullPath());
    EXPECT_EQ(CString((cwd + sep + "b").c_str()), PathName("a\\..\\b").GetFullPath());
    EXPECT_EQ(CString(""), PathName("").GetFullPath());

    PathName tooLong(CString('x', platform::MaxPathLength()));
    EXPECT_EQ(CString(""), tooLong.GetFullPath());
    EXPECT_EQ(CString(""), tooLong.MakeFullPath());
    EXPECT_TRUE(tooLong.IsEmpty());

    PathName relative("sub");
    EXPECT_EQ(CString((cwd + sep + "sub").c_str()), relative.MakeFullPath());
    EXPECT_EQ(CString((cwd + sep + "sub").c_str()), relative.GetPath());
}

TEST(PathNameTest, ExistsForDirectoriesFilesAndTrailingSeparators) {
    ScratchDir dir;
    dir.Write("DrvSet.ini", "");
    dir.MakeDir("sub");
    PathName sub(dir.CJoin("sub"));
    EXPECT_TRUE(sub.Exists());
    EXPECT_TRUE(Exists(PathName(sub.GetPath() + CString(platform::PreferredSeparator(), 1))));
    EXPECT_TRUE(Exists(PathName(dir.CJoin("DrvSet.ini"))));
    EXPECT_FALSE(Exists(PathName(dir.CJoin("missing.ini"))));
    EXPECT_FALSE(PathName().Exists());
}

TEST(PathNameTest, ListSubdirectoriesAndEntries) {
    ScratchDir dir;
    dir.MakeDir("b");
    dir.MakeDir("A");
    dir.MakeDir("x,y");
    dir.Write("file.ini", "");
    dir.Write("other.txt", "");
    CString list("stale");
    ASSERT_TRUE(ListSubdirectories(PathName(dir.Path().c_str()), list));
    EXPECT_EQ(4, list.GetItemCount(","));  // the comma splits one name in two
    EXPECT_EQ(CString("A,b,x,y"), list);
    ASSERT_TRUE(ListEntries(PathName(dir.Path().c_str()), 0, list));
    EXPECT_EQ(2, list.GetItemCount(","));
    EXPECT_EQ(CString("file.ini,other.txt"), list);
}

TEST(PathNameTest, ListingOfEmptyOrMissingDirectories) {
    ScratchDir dir;
    dir.MakeDir("empty");
    dir.Write("file", "");
    CString list("stale");
    EXPECT_TRUE(ListSubdirectories(PathName(dir.CJoin("empty")), list));
    EXPECT_TRUE(list.IsEmpty());
    list = "stale";
    EXPECT_FALSE(ListSubdirectories(PathName(dir.CJoin("file")), list));
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_FALSE(ListSubdirectories(PathName(dir.CJoin("missing")), list));
    EXPECT_TRUE(list.IsEmpty());
}
