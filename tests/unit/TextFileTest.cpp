// TextFile: line reading and writing in the Windows runtime's text mode.

#include "TextFile.h"

#include "PathName.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

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
    ScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(dir.CWrite("ab", "a\nb"), "r"));
    CString line;
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("a\n"), line);
    EXPECT_FALSE(file.IsEOF());
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("b"), line);
    EXPECT_TRUE(file.IsEOF());
}

TEST(TextFileTest, FinalLineFeedNeedsOneMoreRead) {
    ScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(PathName(dir.CWrite("a", "a\n")), "r"));
    CString line;
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("a\n"), line);
    EXPECT_FALSE(file.IsEOF());
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_TRUE(file.IsEOF());
}

TEST(TextFileTest, EmptyFileAndEmptyMode) {
    ScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(dir.CWrite("empty", ""), ""));  // an empty mode reads
    CString line("stale");
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_TRUE(line.IsEmpty());
    EXPECT_TRUE(file.IsEOF());
}

TEST(TextFileTest, ReadsCrLfNulAndCtrlZAsTextMode) {
    ScratchDir dir;
    EXPECT_EQ("one\n|\n|t\rwo\n|", ReadAll(dir.CWrite("crlf", "one\r\n\r\nt\rwo\r\n")));
    EXPECT_EQ("a\n|b|", ReadAll(dir.CWrite("ctrlz",
                                           "a\r\nb\x1A"
                                           "c\r\n")));
    EXPECT_EQ("ab\n|", ReadAll(dir.CWrite("zero", std::string("a\0b\n\0", 6))));
    EXPECT_EQ("", ReadAll(dir.CWrite("onlyz",
                                     "\x1A"
                                     "x\n")));
}

TEST(TextFileTest, ReadsVeryLongLinesWhole) {
    ScratchDir dir;
    std::string longLine(100000, 'q');
    EXPECT_EQ(longLine + "\n|", ReadAll(dir.CWrite("long", longLine + "\r\n")));
}

TEST(TextFileTest, WritesCrLf) {
    ScratchDir dir;
    TextFile file;
    ASSERT_TRUE(file.Open(dir.CJoin("out.bat"), "w+"));
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
    ScratchDir dir;
    TextFile file;
    EXPECT_FALSE(file.Open(dir.CJoin("missing"), "r"));
    EXPECT_TRUE(file.IsEOF());

    // A second open closes the first file even when it fails itself.
    ASSERT_TRUE(file.Open(dir.CJoin("first"), "w+"));
    EXPECT_TRUE(file.WriteLine("kept"));
    EXPECT_FALSE(file.Open(dir.CJoin("missing"), "r"));
    EXPECT_EQ("kept\r\n", dir.Read("first"));
    EXPECT_FALSE(file.Close());

    // An empty name changes nothing: the open stream stays open.
    ASSERT_TRUE(file.Open(dir.CJoin("first"), "r"));
    EXPECT_FALSE(file.Open(CString(""), "w+"));
    CString line;
    EXPECT_TRUE(file.ReadLine(line));
    EXPECT_EQ(CString("kept\n"), line);
    EXPECT_TRUE(file.Close());
}

TEST(TextFileTest, DirectoryReadsAsNoLines) {
    ScratchDir dir;
    CString name = dir.CJoin("sub");
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
    ScratchDir dir;
    CString fifo = dir.CJoin("pipe");
    ASSERT_EQ(0, mkfifo(fifo.GetCharString(), 0600));
    TextFile file;
    if (file.Open(fifo, "r")) {
        CString line;
        EXPECT_FALSE(file.ReadLine(line));
    }
}
#endif
