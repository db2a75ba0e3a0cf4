// The platform layer: path forms, existence, listings, text-mode files, time.

#include "Platform.h"

#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
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

// A link to a directory (a symbolic link; on Windows it may need a privilege),
// where the system lets the tests make one.
bool MakeDirectoryLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
    return CreateSymbolicLinkA(
               link.c_str(), target.c_str(),
               SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
           GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    std::error_code failed;
    fs::create_directory_symlink(target, link, failed);
    return !failed;
#endif
}

int OpenForWriting(const std::string& path) {
#ifdef _WIN32
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
#endif
}

void CloseDescriptor(int fd) {
#ifdef _WIN32
    _close(fd);
#else
    close(fd);
#endif
}

// In a child process: closes the given standard descriptors, secures them and
// opens a file; exits 0 when the file got a descriptor above 2 and a console
// line written after that did not reach it.
void CloseSecureAndOpen(const std::string& file, std::vector<int> closed) {
    for (int fd : closed) CloseDescriptor(fd);
    if (!platform::SecureStandardStreams()) std::_Exit(2);
    const int fd = OpenForWriting(file);
    if (fd <= 2) std::_Exit(3);
    platform::WriteStandardOutput("console line\n", 13);
    CloseDescriptor(fd);
    std::_Exit(ReadBytes(file).empty() ? 0 : 4);
}

}  // namespace

TEST(PlatformStartupDeathTest, ClosedStandardDescriptorsAreTakenByTheNullDevice) {
    ScratchDir dir;
    const std::string file = dir.Join("opened.txt");
    EXPECT_EXIT(CloseSecureAndOpen(file, {1}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(CloseSecureAndOpen(file, {0, 1}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(CloseSecureAndOpen(file, {0}), testing::ExitedWithCode(0), "");
}

TEST(PlatformStartupDeathTest, OpenStandardDescriptorsStayAsTheyAre) {
    ScratchDir dir;
    const std::string file = dir.Join("stdout.txt");
    // Standard output on a file: it keeps receiving the console lines.
    EXPECT_EXIT(
        {
            CloseDescriptor(1);
            if (OpenForWriting(file) != 1) std::_Exit(2);
            if (!platform::SecureStandardStreams()) std::_Exit(3);
            platform::WriteStandardOutput("kept\n", 5);
            CloseDescriptor(1);
            const std::string text = ReadBytes(file);
            std::_Exit(text == "kept\n" || text == "kept\r\n" ? 0 : 4);
        },
        testing::ExitedWithCode(0), "");
}

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

TEST(PlatformTest, ShareRootsAreToldFromPathsBelowThem) {
    const std::string s(1, platform::PreferredSeparator());
    const struct {
        std::string path;
        bool root;
    } cases[] = {{s + s + "server" + s + "share", true},
                 {s + s + "server" + s + "share" + s, true},
                 {s + s + "server" + s + "share" + s + "sub", false},
                 {s + s + "server" + s + "share" + s + s, false},
                 {s + s + "server", false},
                 {s + s + "server" + s, false},
                 {s + s + s + "share", false},
                 {s + "server" + s + "share", false},
                 {"C:" + s, false},
                 {"", false}};
    for (const auto& c : cases) EXPECT_EQ(platform::IsShareRoot(c.path.c_str()), c.root) << c.path;
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

// Every subdirectory a listing gives carries the identity GetFileId gives its
// path, whether the caller knows the listed directory's identity or not; a link
// carries the identity of the directory it leads to.
TEST(PlatformTest, ListDirectoryGivesSubdirectoriesTheirIdentities) {
    ScratchDir dir;
    dir.Write("file", "");
    const std::string one = dir.MakeDir("one");
    dir.MakeDir("two");
    const bool linked = MakeDirectoryLink(one, dir.Join("link"));
    const platform::FileId listed = platform::GetFileId(dir.Path().c_str());
    for (const platform::FileId& known : {platform::FileId(), listed}) {
        std::vector<platform::DirEntry> entries;
        ASSERT_TRUE(platform::ListDirectory(dir.Path().c_str(), entries, known));
        EXPECT_EQ(linked ? "file link/ one/ two/ " : "file one/ two/ ", Names(entries));
        for (const auto& entry : entries) {
            if (!entry.isDirectory) continue;
            EXPECT_TRUE(entry.id.valid) << entry.name;
            EXPECT_TRUE(entry.id == platform::GetFileId(dir.Join(entry.name).c_str()))
                << entry.name;
        }
        EXPECT_FALSE(entries[entries.size() - 1].id == entries[entries.size() - 2].id);
        if (linked) {
            EXPECT_TRUE(entries[1].id == platform::GetFileId(one.c_str()));
        }
    }
}

#ifdef _WIN32
// Names, their order and the directory flag are those the runtime's own search
// gives, names outside ASCII included (in the code page of the file functions).
TEST(PlatformTest, WindowsListingMatchesTheRuntimeSearch) {
    ScratchDir dir;
    for (const wchar_t* name : {L"b", L"A", L"_x", L"caf\u00e9", L"\u0100ber", L"\u4e2d",
                                L"name with spaces.ini", L".hidden"}) {
        std::ofstream(fs::path(dir.Path()) / name) << "";
    }
    fs::create_directory(fs::path(dir.Path()) / L"Sub\u00e9");
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.Path().c_str(), entries));

    std::vector<platform::DirEntry> searched;
    struct _finddata_t data;
    intptr_t search = _findfirst((dir.Path() + "\\*").c_str(), &data);
    ASSERT_NE(-1, search);
    do {
        if (std::string(data.name) == "." || std::string(data.name) == "..") continue;
        platform::DirEntry entry;
        entry.name = data.name;
        entry.isDirectory = (data.attrib & _A_SUBDIR) != 0;
        searched.push_back(entry);
    } while (_findnext(search, &data) == 0);
    _findclose(search);
    EXPECT_EQ(Names(searched), Names(entries));
    EXPECT_EQ(9u, entries.size());
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
    std::string bytes(
        "a\r\nb\rc\r\r\nd\x1A"
        "after",
        13);
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

// Threads that list and read at once each see what one thread alone sees.
// The kinds of error the walk tells apart, entry by entry: what is not there,
// what this account may not read, and requests that failed (the network's).
TEST(PlatformTest, ErrorKindsEntryByEntry) {
    using platform::ErrorKind;
    const struct {
        int error;
        ErrorKind kind;
    } errors[] = {{0, ErrorKind::None},
                  {ENOENT, ErrorKind::Missing},
                  {ENOTDIR, ErrorKind::Missing},
                  {EACCES, ErrorKind::Denied},
                  {EPERM, ErrorKind::Denied},
                  {EIO, ErrorKind::Failed},
                  {ETIMEDOUT, ErrorKind::Failed},
                  {ECONNRESET, ErrorKind::Failed},
                  {ENOTCONN, ErrorKind::Failed},
                  {ENETDOWN, ErrorKind::Failed},
                  {ENETUNREACH, ErrorKind::Failed},
                  {EMFILE, ErrorKind::Failed},
                  {ENFILE, ErrorKind::Failed},
                  {ENOMEM, ErrorKind::Failed}};
    for (const auto& e : errors) {
        EXPECT_EQ(platform::KindOfError(e.error), e.kind) << e.error;
        if (e.error != 0) {
            EXPECT_FALSE(platform::ErrorText(e.error).empty()) << e.error;
        }
    }
#ifdef _WIN32
    const struct {
        DWORD code;
        ErrorKind kind;
    } codes[] = {{ERROR_FILE_NOT_FOUND, ErrorKind::Missing},
                 {ERROR_PATH_NOT_FOUND, ErrorKind::Missing},
                 {ERROR_INVALID_NAME, ErrorKind::Missing},
                 {ERROR_BAD_PATHNAME, ErrorKind::Missing},
                 {ERROR_DIRECTORY, ErrorKind::Missing},
                 {ERROR_ACCESS_DENIED, ErrorKind::Denied},
                 {ERROR_SHARING_VIOLATION, ErrorKind::Denied},
                 {ERROR_NETWORK_ACCESS_DENIED, ErrorKind::Denied},
                 {ERROR_NETNAME_DELETED, ErrorKind::Failed},
                 {ERROR_UNEXP_NET_ERR, ErrorKind::Failed},
                 {ERROR_SEM_TIMEOUT, ErrorKind::Failed},
                 {ERROR_BAD_NETPATH, ErrorKind::Failed},
                 {ERROR_NETWORK_BUSY, ErrorKind::Failed},
                 {ERROR_DEV_NOT_EXIST, ErrorKind::Failed},
                 {ERROR_IO_DEVICE, ErrorKind::Failed},
                 {ERROR_TOO_MANY_OPEN_FILES, ErrorKind::Failed},
                 {ERROR_NOT_ENOUGH_MEMORY, ErrorKind::Failed},
                 {ERROR_CONNECTION_ABORTED, ErrorKind::Failed}};
    for (const auto& c : codes) {
        const int error = platform::ErrorOfSystemCode(c.code);
        EXPECT_EQ(platform::KindOfError(error), c.kind) << c.code;
        EXPECT_FALSE(platform::ErrorText(error).empty()) << c.code;
    }
    // The system's own words (Wine words them its own way).
    EXPECT_EQ(
        platform::ErrorText(platform::ErrorOfSystemCode(ERROR_NETNAME_DELETED)).find("system"),
        std::string::npos);
#else
    EXPECT_EQ(platform::KindOfError(ESTALE), ErrorKind::Failed);
    EXPECT_EQ(platform::KindOfError(EHOSTDOWN), ErrorKind::Failed);
    EXPECT_EQ(platform::ErrorOfSystemCode(EIO), EIO);
#endif
}

TEST(PlatformTest, ListingAndReadingFromSeveralThreadsAtOnce) {
    ScratchDir dir;
    for (int i = 0; i < 10; ++i) {
        dir.MakeDir("d" + std::to_string(i));
        dir.Write("f" + std::to_string(i), std::string(i * 1000, 'x'));
    }
    auto describe = [](const std::vector<platform::DirEntry>& entries) {
        std::string text = Names(entries);
        for (const auto& entry : entries) text += std::to_string(entry.id.inode) + " ";
        return text;
    };
    std::vector<platform::DirEntry> expected;
    ASSERT_TRUE(platform::ListDirectory(dir.Path().c_str(), expected));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 10; ++round) {
                std::vector<platform::DirEntry> entries;
                if (!platform::ListDirectory(dir.Path().c_str(), entries) ||
                    describe(entries) != describe(expected)) {
                    ++mismatches;
                }
                for (int i = 0; i < 10; ++i) {
                    std::string bytes;
                    platform::ReadFileBytes(dir.Join("f" + std::to_string(i)).c_str(), bytes);
                    if (bytes.size() != static_cast<size_t>(i) * 1000) ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, mismatches.load());
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

    dir.Write("in.txt",
              "a\r\nb\rc\r\x1A"
              "d");
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
    time.tm_isdst = 1;  // not used: MakeTime reads every time one way
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

namespace {

// A zone one hour east of UTC, two hours from 2009-03-29 01:00 UTC to
// 2009-10-25 01:00 UTC, as Berlin's: 02:00 to 03:00 on 29 March never happens,
// 02:00 to 03:00 on 25 October happens twice.
const long long kSummerStarts = 1238288400;
const long long kSummerEnds = 1256432400;

long long FakeOffset(long long seconds) {
    return seconds >= kSummerStarts && seconds < kSummerEnds ? 7200 : 3600;
}

bool FakeToFields(long long seconds, std::tm* fields) {
    const std::time_t shifted = static_cast<std::time_t>(seconds + FakeOffset(seconds));
    const std::tm* utc = std::gmtime(&shifted);
    if (utc == nullptr) return false;
    *fields = *utc;
    fields->tm_isdst = FakeOffset(seconds) == 7200 ? 1 : 0;
    return true;
}

// The wall-clock fields the tests convert, as seconds on the wall clock.
struct WallTime {
    std::tm fields;
    long long wall;
};

std::vector<WallTime> FakeWallTimes() {
    return {{Date(2009, 10, 25, 2, 30, 0), 1256437800}, {Date(2009, 3, 29, 2, 30, 0), 1238293800},
            {Date(2009, 1, 15, 12, 0, 0), 1232020800},  {Date(2009, 7, 15, 12, 0, 0), 1247659200},
            {Date(2009, 3, 31, 12, 0, 0), 1238500800},  {Date(2009, 4, 0, 12, 0, 0), 1238500800}};
}

// A runtime whose mktime answers from its last call, as glibc's does: each
// call reads the time with the other of the zone's two offsets.
long long FakeToSeconds(std::tm* fields) {
    static bool summer = false;
    summer = !summer;
    for (const WallTime& known : FakeWallTimes()) {
        const std::tm& f = known.fields;
        if (f.tm_year == fields->tm_year && f.tm_mon == fields->tm_mon &&
            f.tm_mday == fields->tm_mday && f.tm_hour == fields->tm_hour &&
            f.tm_min == fields->tm_min && f.tm_sec == fields->tm_sec) {
            const long long seconds = known.wall - (summer ? 7200 : 3600);
            FakeToFields(seconds, fields);  // as mktime, the local fields of its answer
            return seconds;
        }
    }
    return -1;
}

// A time zone for one test, through the runtime's own TZ (on Windows in the
// runtime's format, whose daylight-saving rules are the United States').
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        Set(zone);
    }
    ~ScopedTimeZone() { Set(had_ ? old_.c_str() : nullptr); }

private:
    static void Set(const char* zone) {
#ifdef _WIN32
        _putenv_s("TZ", zone != nullptr ? zone : "");
        _tzset();
#else
        if (zone != nullptr) {
            setenv("TZ", zone, 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
#endif
    }
    bool had_ = false;
    std::string old_;
};

long long MakeTimeOf(std::tm fields) { return platform::MakeTime(&fields); }

}  // namespace

TEST(PlatformTest, ReadLocalTimeReadsRepeatedAndSkippedTimesOneWay) {
    const platform::LocalClock clock = {FakeToSeconds, FakeToFields};
    const std::vector<WallTime> times = FakeWallTimes();
    // Repeated: the earlier instant (summer time); skipped: the winter offset in
    // force before the change; the rest as they are; a day 0 as the day before.
    const long long expected[] = {1256437800 - 7200, 1238293800 - 3600, 1232020800 - 3600,
                                  1247659200 - 7200, 1238500800 - 7200, 1238500800 - 7200};
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < times.size(); ++i) {
            std::tm fields = times[i].fields;
            EXPECT_EQ(expected[i], platform::ReadLocalTime(&fields, clock)) << i << " " << round;
            // The fields become those of the instant read: 02:30 skipped is 03:30.
            EXPECT_EQ(i == 1 ? 3 : times[i].fields.tm_hour, fields.tm_hour) << i;
        }
    }
}

struct ZoneCase {
    std::tm fields;
    long long seconds;
};

// In a child process, so that the zone is the runtime's first (the Windows
// runtime keeps what it worked out for a year across a change of zone): each
// case converted after a winter time, a summer time and itself; exits with the
// number of wrong readings, each named on standard error.
void CheckZoneReadings(const char* zone, const std::vector<ZoneCase>& cases) {
    ScopedTimeZone scoped(zone);
    const std::tm winter = Date(2009, 1, 15, 12, 0, 0);
    const std::tm summer = Date(2009, 7, 15, 12, 0, 0);
    int wrong = 0;
    for (const ZoneCase& c : cases) {
        for (const std::tm& before : {winter, summer, c.fields}) {
            MakeTimeOf(before);
            const long long seconds = MakeTimeOf(c.fields);
            if (seconds != c.seconds) {
                std::fprintf(stderr, "%s %02d/%02d %02d:%02d after month %d: %lld, not %lld\n",
                             zone, c.fields.tm_mday, c.fields.tm_mon + 1, c.fields.tm_hour,
                             c.fields.tm_min, before.tm_mon + 1, seconds, c.seconds);
                ++wrong;
            }
        }
    }
    std::fflush(stderr);
    std::_Exit(wrong);
}

TEST(PlatformTimeDeathTest, MakeTimeReadsTheHoursDaylightSavingChangesOneWay) {
    // The Windows runtime reads TZ in its own format, with the United States'
    // daylight-saving rules only: there New York is EST5EDT, and Berlin is
    // tested through the rule's own test above and end to end.
#ifdef _WIN32
    const char* newYork = "EST5EDT";
    const bool berlin = false;
#else
    const char* newYork = "America/New_York";
    const bool berlin = true;
#endif
    EXPECT_EXIT(
        CheckZoneReadings(newYork, {{Date(2009, 11, 1, 1, 20, 0), 1257052800},  // repeated: EDT
                                    {Date(2009, 11, 1, 1, 40, 0), 1257054000},
                                    {Date(2009, 3, 8, 2, 30, 0), 1236497400},  // skipped: EST
                                    {Date(2009, 1, 15, 12, 0, 0), 1232038800},
                                    {Date(2009, 7, 15, 12, 0, 0), 1247673600}}),
        testing::ExitedWithCode(0), "");
    if (berlin) {
        EXPECT_EXIT(
            CheckZoneReadings("Europe/Berlin", {{Date(2009, 10, 25, 2, 30, 0), 1256430600},  // CEST
                                                {Date(2009, 3, 29, 2, 30, 0), 1238290200},   // CET
                                                {Date(2009, 1, 15, 12, 0, 0), 1232017200},
                                                {Date(2009, 7, 15, 12, 0, 0), 1247652000}}),
            testing::ExitedWithCode(0), "");
    }
}
