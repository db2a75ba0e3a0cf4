// TextFile: line reading and writing in the Windows runtime's text mode.

#include "TextFile.h"

#include "PathName.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

class TextScratchDir {
public:
    TextScratchDir() {
        static int counter = 0;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        do {
            path_ = fs::temp_directory_path() /
                    ("halvard_text_" + std::to_string(stamp) + "_" + std::to_string(++counter));
        } while (!fs::create_directory(path_));
    }
    ~TextScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    CString Join(const char* name) const { return CString((path_ / name).string().c_str()); }
    CString Write(const char* name, const std::string& bytes) const {
        std::ofstream((path_ / name).string(), std::ios::binary) << bytes;
        return Join(name);
    }
    std::string Read(const char* name) const {
        std::ifstream in((path_ / name).string(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    fs::path path_;
};

// Every line ReadLine gives until it returns false, each followed by "|".
std::string ReadAll(const CString& name) {
    TextFile file;
    EXPECT_TRUE(file.Open(name, "r"));
    std::string lines;
    CString line;
    while (!file.IsEOF() && file.ReadLine(line)) {
        lines += std::string(line.GetCharString()) + "|";
    }
    EXPECT_TRUE(file.Close());
    return lines;
}

}  // namespace

TEST(TextFileTest, LastLineWithoutLineFeedEndsAtOnce) {
    TextScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(dir.Write("ab", "a\nb"), "r"));
    CString line;
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("a\n"), line);
    EXPECT_FALSE(file.IsEOF());
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("b"), line);
    EXPECT_TRUE(file.IsEOF());
}

TEST(TextFileTest, FinalLineFeedNeedsOneMoreRead) {
    TextScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(PathName(dir.Write("a", "a\n")), "r"));
    CString line;
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("a\n"), line);
    EXPECT_FALSE(file.IsEOF());
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_TRUE(file.IsEOF());
}

TEST(TextFileTest, EmptyFileAndEmptyMode) {
    TextScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(dir.Write("empty", ""), ""));  // an empty mode reads
    CString line("stale");
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_TRUE(file.IsEOF());
}

TEST(TextFileTest, ReadsCrLfNulAndCtrlZAsTextMode) {
    TextScratchDir dir;
    EXPECT_EQ("one\n|\n|t\rwo\n|", ReadAll(dir.Write("crlf", "one\r\n\r\nt\rwo\r\n")));
    EXPECT_EQ("a\n|b|", ReadAll(dir.Write("ctrlz", "a\r\nb\x1A" "c\r\n")));
    EXPECT_EQ("ab\n|", ReadAll(dir.Write("zero", std::string("a\0b\n\0", 6))));
    EXPECT_EQ("", ReadAll(dir.Write("onlyz", "\x1A" "x\n")));
}

TEST(TextFileTest, ReadsVeryLongLinesWhole) {
    TextScratchDir dir;
    std::string longLine(100000, 'q');
    EXPECT_EQ(longLine + "\n|", ReadAll(dir.Write("long", longLine + "\r\n")));
}

TEST(TextFileTest, WritesCrLf) {
    TextScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(dir.Join("out.bat"), "w+"));
    EXPECT_TRUE(file.WriteLine("@echo off"));
    EXPECT_TRUE(file.WriteNewLine());
    EXPECT_TRUE(file.WriteLine(""));
    EXPECT_TRUE(file.WriteLine("SET QL_X=a\nb"));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ("@echo off\r\n\r\n\r\nSET QL_X=a\r\nb\r\n", dir.Read("out.bat"));
}

TEST(TextFileTest, ClosedObjectRefusesEverything) {
    TextFile file;
    CString line("stale");
    EXPECT_TRUE(file.IsEOF());
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_FALSE(file.WriteLine("x"));
    EXPECT_FALSE(file.WriteNewLine());
    EXPECT_FALSE(file.Close());
    EXPECT_FALSE(file.Open(CString(""), "r"));
}

TEST(TextFileTest, FailedOpensAndReopening) {
    TextScratchDir dir;
    TextFile file;
    EXPECT_FALSE(file.Open(dir.Join("missing"), "r"));
    EXPECT_TRUE(file.IsEOF());

    // A second open closes the first file even when it fails itself.
    ASSERT_TRUE(file.Open(dir.Join("first"), "w+"));
    EXPECT_TRUE(file.WriteLine("kept"));
    EXPECT_FALSE(file.Open(dir.Join("missing"), "r"));
    EXPECT_EQ("kept\r\n", dir.Read("first"));
    EXPECT_FALSE(file.Close());

    // An empty name changes nothing: the open stream stays open.
    ASSERT_TRUE(file.Open(dir.Join("first"), "r"));
    EXPECT_FALSE(file.Open(CString(""), "w+"));
    CString line;
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("kept\n"), line);
    EXPECT_TRUE(file.Close());
}

TEST(TextFileTest, DirectoryReadsAsNoLines) {
    TextScratchDir dir;
    CString name = dir.Join("sub");
    fs::create_directory(name.GetCharString());
    TextFile file;
    if (file.Open(name, "r")) {
        CString line;
        EXPECT_FALSE(file.ReadLine(line));
        EXPECT_TRUE(file.IsEOF());
    }
}

#ifndef _WIN32
TEST(TextFileTest, PosixFullDeviceFailsOnClose) {
    TextFile file;
    ASSERT_TRUE(file.Open(CString("/dev/full"), "w+"));
    file.WriteLine("SET QL_NOS_DDL_Count=1");
    EXPECT_FALSE(file.Close());
}

TEST(TextFileTest, PosixFifoDoesNotBlock) {
    TextScratchDir dir;
    CString fifo = dir.Join("pipe");
    ASSERT_EQ(0, mkfifo(fifo.GetCharString(), 0600));
    TextFile file;
    if (file.Open(fifo, "r")) {
        CString line;
        EXPECT_FALSE(file.ReadLine(line));
    }
}
#endif
