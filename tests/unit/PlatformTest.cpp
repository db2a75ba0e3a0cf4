// The platform layer: path forms, existence, listings, text-mode files, time.

#include "Platform.h"

#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Names(const std::vector<platform::DirEntry>& entries) {
    std::string names;
    for (const auto& entry : entries) {
        names += entry.name + (entry.isDirectory ? "/ " : " ");
    }
    return names;
}

std::string CurrentDirectory() { return fs::current_path().string(); }

}  // namespace

TEST(PlatformTest, FullPathResolvesRelativeAndFoldsDots) {
    std::string out;
    const std::string cwd = CurrentDirectory();
    const char sep = platform::PreferredSeparator();
    ASSERT_TRUE(platform::FullPath("name.ini", out));
    EXPECT_EQ(cwd + sep + "name.ini", out);
    ASSERT_TRUE(platform::FullPath("a\\.\\b\\..\\c", out));
    EXPECT_EQ(cwd + sep + "a" + sep + "c", out);
    ASSERT_TRUE(platform::FullPath("a\\b\\", out));  // the trailing separator stays
    EXPECT_EQ(cwd + sep + "a" + sep + "b" + sep, out);
    EXPECT_FALSE(platform::FullPath("", out));
    EXPECT_TRUE(out.empty());
}

TEST(PlatformTest, FullPathFailsWhenTooLong) {
    std::string out;
    const unsigned limit = platform::MaxPathLength();
    EXPECT_FALSE(platform::FullPath(std::string(limit, 'x').c_str(), out));
    EXPECT_TRUE(out.empty());
    // The limit counts the NUL: the longest text that fits is one shorter.
#ifdef _WIN32
    std::string root = "C:\\";
#else
    std::string root = "/";
#endif
    std::string longest = root + std::string(limit - 1 - root.size(), 'y');
    ASSERT_TRUE(platform::FullPath(longest.c_str(), out));
    EXPECT_EQ(longest, out);
    EXPECT_FALSE(platform::FullPath((longest + "y").c_str(), out));
}

#ifndef _WIN32
TEST(PlatformTest, PosixFullPathUsesSlashesAndStopsAtRoot) {
    std::string out;
    ASSERT_TRUE(platform::FullPath("/a/../../b//c/.", out));
    EXPECT_EQ("/b/c", out);
    ASSERT_TRUE(platform::FullPath("\\x\\y\\..\\", out));
    EXPECT_EQ("/x/", out);
    ASSERT_TRUE(platform::FullPath("/", out));
    EXPECT_EQ("/", out);
    ASSERT_TRUE(platform::FullPath("/..", out));
    EXPECT_EQ("/", out);
}
#endif

#ifndef _WIN32
// Folding "." and ".." as text, component by component, as a reference.
std::string ReferenceFold(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(path);
    while (std::getline(stream, part, '/')) {
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string result;
    for (const std::string& p : parts) result += "/" + p;
    if (result.empty() || path.back() == '/') result += "/";
    return result;
}

TEST(PlatformTest, PosixFullPathFoldsLikeTheReferenceOnRandomPaths) {
    const char* const pieces[] = {"a", "bb", ".", "..", "", "...", ".x", "x.", "..y"};
    std::mt19937 random(11);
    for (int round = 0; round < 5000; ++round) {
        std::string path;
        int count = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) path += std::string("/") + pieces[random() % 9];
        if (random() % 3 == 0) path += "/";
        std::string full;
        ASSERT_TRUE(platform::FullPath(path.c_str(), full)) << path;
        ASSERT_EQ(ReferenceFold(path), full) << path;
    }
}
#endif

TEST(PlatformTest, ExistsForFilesDirectoriesAndRoots) {
    ScratchDir dir;
    std::string file = dir.Write("file.txt", "x");
    std::string sub = dir.MakeDir("sub");
    const char sep = platform::PreferredSeparator();
    EXPECT_TRUE(platform::Exists(file.c_str()));
    EXPECT_TRUE(platform::Exists(sub.c_str()));
    EXPECT_TRUE(platform::Exists((sub + sep).c_str()));
    EXPECT_FALSE(platform::Exists((file + sep).c_str()));
    EXPECT_FALSE(platform::Exists(dir.Join("missing").c_str()));
    EXPECT_FALSE(platform::Exists(""));
#ifdef _WIN32
    EXPECT_TRUE(platform::Exists("C:\\"));
#else
    EXPECT_TRUE(platform::Exists("/"));
    EXPECT_TRUE(platform::Exists("\\"));
    EXPECT_TRUE(platform::Exists((dir.Path() + "\\sub\\").c_str()));
    EXPECT_FALSE(platform::Exists(dir.Join("*").c_str()));  // no wildcards on POSIX
    dir.Write("*", "");
    EXPECT_TRUE(platform::Exists(dir.Join("*").c_str()));
#endif
}

TEST(PlatformTest, ListDirectoryGivesNtfsOrderAndTypes) {
    ScratchDir dir;
    for (const char* name : {"b", "_x", "a1", "Z", "a"}) {
        dir.Write(name, "");
    }
    dir.MakeDir("dir");
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.Path().c_str(), entries));
    // Letters fold to upper case, so "_" comes after them (NTFS lists the same).
    EXPECT_EQ("a a1 b dir/ Z _x ", Names(entries));
}

#ifndef _WIN32
TEST(PlatformTest, PosixListingFoldsCaseThenBytesAndFollowsLinks) {
    ScratchDir dir;
    for (const char* name : {"b", "B", "a", "A", "\xE9", "~"}) {
        dir.Write(name, "");
    }
    std::string target = dir.MakeDir("target");
    fs::create_directory_symlink(target, dir.Join("link"));
    fs::create_symlink(dir.Join("nowhere"), dir.Join("dangling"));
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory((dir.Path() + "\\").c_str(), entries));
    EXPECT_EQ("A a B b dangling link/ target/ ~ \xE9 ", Names(entries));

    platform::FileId targetId = platform::GetFileId(target.c_str());
    ASSERT_TRUE(targetId.valid);
    for (const auto& entry : entries) {
        if (entry.name == "link" || entry.name == "target") {
            EXPECT_TRUE(entry.id == targetId) << entry.name;
        }
    }
}
#endif

// A listing that fails says why: nothing there, or no directory; IsDirectory agrees.
TEST(PlatformTest, ListDirectoryFailsOnMissingOrFileAndSaysWhy) {
    ScratchDir dir;
    const std::string file = dir.Write("f", "");
    const std::string empty = dir.MakeDir("empty");
    const struct {
        std::string path;
        bool lists;
        int error;
    } cases[] = {{dir.Join("missing"), false, ENOENT},
                 {file, false, ENOTDIR},
                 {empty, true, 0},
                 {empty + platform::PreferredSeparator(), true, 0}};
    for (const auto& c : cases) {
        std::vector<platform::DirEntry> entries;
        int error = 0;
        EXPECT_EQ(c.lists, platform::ListDirectory(c.path.c_str(), entries, {}, &error)) << c.path;
        EXPECT_EQ(c.error, error) << c.path;
        EXPECT_TRUE(entries.empty()) << c.path;
        EXPECT_EQ(c.lists, platform::IsDirectory(c.path.c_str())) << c.path;
    }
    EXPECT_FALSE(platform::IsDirectory(""));
}

TEST(PlatformTest, FileIdTellsDirectoriesApart) {
    ScratchDir dir;
    std::string one = dir.MakeDir("one");
    std::string two = dir.MakeDir("two");
    platform::FileId a = platform::GetFileId(one.c_str());
    EXPECT_TRUE(a.valid);
    EXPECT_TRUE(a == platform::GetFileId(one.c_str()));
    EXPECT_FALSE(a == platform::GetFileId(two.c_str()));
    EXPECT_FALSE(platform::GetFileId(dir.Join("missing").c_str()).valid);
}

TEST(PlatformTest, DecodeTextModeDropsCrBeforeLfAndStopsAtCtrlZ) {
    std::string bytes("a\r\nb\rc\r\r\nd\x1A" "after", 13);
    platform::DecodeTextMode(bytes);
    EXPECT_EQ("a\nb\rc\r\nd", bytes);
    std::string nul("x\0y\r", 4);
    platform::DecodeTextMode(nul);
    EXPECT_EQ(std::string("x\0y\r", 4), nul);
}

TEST(PlatformTest, ReadTextFileTellsMissingFromEmpty) {
    ScratchDir dir;
    std::string content = "stale";
    EXPECT_EQ(platform::ReadStatus::Missing,
              platform::ReadTextFile(dir.Join("missing").c_str(), content));
    EXPECT_TRUE(content.empty());
    std::string file = dir.Write("f.ini", "[Main]\r\nKey=1\r\n\x1Ajunk");
    EXPECT_EQ(platform::ReadStatus::Read, platform::ReadTextFile(file.c_str(), content));
    EXPECT_EQ("[Main]\nKey=1\n", content);
    EXPECT_EQ(platform::ReadStatus::Missing,
              platform::ReadTextFile((file + platform::PreferredSeparator()).c_str(), content));
    content = "stale";
    EXPECT_EQ(platform::ReadStatus::Read, platform::ReadTextFile(dir.Path().c_str(), content));
    EXPECT_TRUE(content.empty());
}

// Reading and opening say why they failed with the system's error number, and
// 0 when they did not.
TEST(PlatformTest, ReadingAndOpeningGiveTheErrorNumber) {
    ScratchDir dir;
    const std::string file = dir.Write("f.ini", "x");
    const std::string missing = dir.Join("missing");
    const struct {
        std::string path;
        platform::ReadStatus status;
        int error;
    } reads[] = {{missing, platform::ReadStatus::Missing, ENOENT},
                 {file, platform::ReadStatus::Read, 0},
                 {"", platform::ReadStatus::Missing, ENOENT}};
    for (const auto& c : reads) {
        std::string bytes;
        int error = -1;
        EXPECT_EQ(c.status, platform::ReadFileBytes(c.path.c_str(), bytes, &error)) << c.path;
        EXPECT_EQ(c.error, error) << c.path;
    }
    // Below a file: ENOTDIR on POSIX, ENOENT on Windows; missing either way.
    std::string bytes;
    int error = 0;
    const std::string below = file + platform::PreferredSeparator() + "x";
    EXPECT_EQ(platform::ReadStatus::Missing, platform::ReadFileBytes(below.c_str(), bytes, &error));
    EXPECT_NE(0, error);

    const struct {
        std::string path;
        const char* mode;
        int error;  // 0: the stream opens
    } opens[] = {{missing, "r", ENOENT}, {file, "r", 0}, {file, "q", EINVAL}, {"", "r", ENOENT}};
    for (const auto& c : opens) {
        error = -1;
        auto stream = platform::OpenTextStream(c.path.c_str(), c.mode, &error);
        EXPECT_EQ(c.error == 0, stream != nullptr) << c.path << " " << c.mode;
        EXPECT_EQ(c.error, error) << c.path << " " << c.mode;
    }
}

TEST(PlatformTest, ReadTextFileReadsLargeFilesWhole) {
    ScratchDir dir;
    std::string line(99, 'x');
    std::string bytes;
    for (int i = 0; i < 3000; ++i) {
        bytes += line + "\r\n";
    }
    std::string content;
    ASSERT_EQ(platform::ReadStatus::Read,
              platform::ReadTextFile(dir.Write("big", bytes).c_str(), content));
    EXPECT_EQ(3000u * 100u, content.size());
}

#ifndef _WIN32
TEST(PlatformTest, PosixFifoReadsAsEmptyWithoutBlocking) {
    ScratchDir dir;
    std::string fifo = dir.Join("pipe");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::string content = "stale";
    EXPECT_EQ(platform::ReadStatus::Read, platform::ReadTextFile(fifo.c_str(), content));
    EXPECT_TRUE(content.empty());
    std::unique_ptr<platform::TextStream> stream(platform::OpenTextStream(fifo.c_str(), "r"));
    if (stream) {
        EXPECT_EQ(EOF, stream->ReadChar());
        EXPECT_TRUE(stream->Close());
    }
}

TEST(PlatformTest, PosixUnreadableFileExistsButReadsEmpty) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not apply to root";
    }
    ScratchDir dir;
    std::string file = dir.Write("secret", "x=1\n");
    chmod(file.c_str(), 0);
    std::string content = "stale";
    int error = 0;
    EXPECT_EQ(platform::ReadStatus::Read, platform::ReadTextFile(file.c_str(), content, &error));
    EXPECT_TRUE(content.empty());
    EXPECT_EQ(EACCES, error);
}

TEST(PlatformTest, PosixCloseReportsAFullDevice) {
    std::unique_ptr<platform::TextStream> stream(platform::OpenTextStream("/dev/full", "w"));
    ASSERT_TRUE(stream);
    stream->WriteText("a line\n");  // buffered: the failure shows at the latest on close
    EXPECT_FALSE(stream->Close());
}
#endif

TEST(PlatformTest, TextStreamWritesCrLfAndReadsItBack) {
    ScratchDir dir;
    std::string file = dir.Join("out.txt");
    std::unique_ptr<platform::TextStream> out(platform::OpenTextStream(file.c_str(), "w+"));
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->WriteText("one\ntwo\n\nend"));
    EXPECT_TRUE(out->Close());
    EXPECT_EQ("one\r\ntwo\r\n\r\nend", ReadBytes(file));

    dir.Write("in.txt", "a\r\nb\rc\r\x1A" "d");
    std::string input = dir.Join("in.txt");
    std::unique_ptr<platform::TextStream> in(platform::OpenTextStream(input.c_str(), "r"));
    ASSERT_TRUE(in);
    std::string read;
    for (int c = in->ReadChar(); c != EOF; c = in->ReadChar()) {
        read += static_cast<char>(c);
    }
    EXPECT_EQ("a\nb\rc\r", read);
    EXPECT_TRUE(in->AtEnd());
    EXPECT_TRUE(in->Close());
    EXPECT_EQ(nullptr, platform::OpenTextStream(dir.Join("missing").c_str(), "r"));
}

namespace {

std::tm Date(int year, int month, int day, int hour, int minute, int second) {
    std::tm time = {};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_isdst = 1;  // MakeTime leaves daylight saving to the library
    return time;
}

}  // namespace

TEST(PlatformTest, MakeTimeKeepsTheWindowsRange) {
    std::tm inside = Date(2008, 5, 17, 13, 45, 10);
    long long seconds = platform::MakeTime(&inside);
    ASSERT_NE(-1, seconds);
    std::time_t back = static_cast<std::time_t>(seconds);
    std::tm local = *std::localtime(&back);
    EXPECT_EQ(108, local.tm_year);
    EXPECT_EQ(13, local.tm_hour);

    std::tm before = Date(1969, 12, 30, 0, 0, 0);
    EXPECT_EQ(-1, platform::MakeTime(&before));
    std::tm early = Date(1970, 1, 3, 0, 0, 0);
    EXPECT_GT(platform::MakeTime(&early), 0);
    std::tm late = Date(3000, 12, 30, 12, 0, 0);
    EXPECT_GT(platform::MakeTime(&late), 0);
    std::tm after = Date(3001, 1, 2, 0, 0, 0);
    EXPECT_EQ(-1, platform::MakeTime(&after));
}
