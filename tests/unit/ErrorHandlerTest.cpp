// Unit tests of the error reporter's texts and modes, and of the console line.
#include "CString.h"
#include "ErrorHandler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

std::string ReportText(int kind, const char* source) {
    testing::internal::CaptureStderr();
    ErrorHandler().Report(ErrorHandler::ReportAndReturn, kind, source);
    return testing::internal::GetCapturedStderr();
}

TEST(ErrorHandlerTexts, TitledKinds) {
    EXPECT_EQ("\n\nGeneral System Error\n\nsrc\n",
              ReportText(ErrorHandler::GeneralSystemError, "src"));
    EXPECT_EQ("\n\nGeneral Program Error\n\nsrc\n",
              ReportText(ErrorHandler::GeneralProgramError, "src"));
    EXPECT_EQ("\n\nsrc\n", ReportText(ErrorHandler::MessageOnly, "src"));
    EXPECT_EQ("\n\nFile Open Error\n\nUnable to open file...\n\nf.ini\n",
              ReportText(ErrorHandler::FileOpenError, "f.ini"));
    EXPECT_EQ("\n\nFile Read Error\n\nUnable to read from file...\n\nf\n",
              ReportText(ErrorHandler::FileReadError, "f"));
    EXPECT_EQ("\n\nFile Write Error\n\nUnable to write to file...\n\nf\n",
              ReportText(ErrorHandler::FileWriteError, "f"));
    EXPECT_EQ("\n\nFile Close Error\n\nUnable to close file...\n\n\n",
              ReportText(ErrorHandler::FileCloseError, ""));
    EXPECT_EQ("\n\nTCP/IP Error\n\nsrc\n", ReportText(ErrorHandler::TcpIpError, "src"));
}

TEST(ErrorHandlerTexts, MemoryAllocationReport) {
    EXPECT_EQ(
        "\n\nMemory Allocation Error\n\n"
        "Not enough memory is available for this application.\n\n"
        "Please close some programs to free up memory and try running\n"
        "this application again.\n\n"
        "IniFile.AddLine()\n",
        ReportText(ErrorHandler::MemoryAllocationError, "IniFile.AddLine()"));
}

TEST(ErrorHandlerTexts, ParseErrorWithAndWithoutSource) {
    const std::string closing =
        "The data file may not be in the correct format or it may be corrupt.\n\n\n";
    EXPECT_EQ("\n\nParse Error\n\nUnable to parse data file...\n\ndata.ini\n\n" + closing,
              ReportText(ErrorHandler::ParseError, "data.ini"));
    EXPECT_EQ("\n\nParse Error\n\nUnable to parse data file...\n\n" + closing,
              ReportText(ErrorHandler::ParseError, ""));
    EXPECT_EQ("\n\nParse Error\n\nUnable to parse data file...\n\n" + closing,
              ReportText(ErrorHandler::ParseError, nullptr));
}

TEST(ErrorHandlerTexts, UnknownKindAndLongMessage) {
    EXPECT_EQ("\n\n\n", ReportText(0, "ignored"));
    EXPECT_EQ("\n\n\n", ReportText(11, "ignored"));
    const std::string source(2000, 's');
    const std::string text = ReportText(ErrorHandler::MessageOnly, source.c_str());
    // "\n", then the message cut to 511 characters, then "\n".
    EXPECT_EQ("\n\n" + std::string(510, 's') + "\n", text);
}

TEST(ErrorHandlerModes, OtherModesReturn) {
    testing::internal::CaptureStderr();
    ErrorHandler().Report(ErrorHandler::ReportAndReturn, ErrorHandler::MessageOnly, "a");
    ErrorHandler().Report(7, ErrorHandler::MessageOnly, "b");
    EXPECT_EQ("\n\na\n\n\nb\n", testing::internal::GetCapturedStderr());
}

TEST(ErrorHandlerModesDeathTest, ReportAndExitEndsWithStatusOne) {
    EXPECT_EXIT(
        ErrorHandler().Report(ErrorHandler::ReportAndExit, ErrorHandler::MessageOnly, "stopping"),
        testing::ExitedWithCode(1), "stopping");
    EXPECT_EXIT(
        ErrorHandler().Report(ErrorHandler::ReportAndExit, ErrorHandler::MemoryAllocationError,
                              "CString::CreateCharString"),
        testing::ExitedWithCode(1), "Memory Allocation Error");
}

const char kAnswerFile[] = "halvard_error_handler_answer.txt";

// Answers the question from a file: the report either returns (the child then
// exits with 7) or ends the process with status 1.
void AskWithAnswer(const char* answer) {
    const char* name = kAnswerFile;
    std::FILE* file = std::fopen(name, "w");
    if (file == nullptr) std::exit(3);
    std::fputs(answer, file);
    std::fclose(file);
    if (std::freopen(name, "r", stdin) == nullptr) std::exit(4);
    ErrorHandler().Report(ErrorHandler::ReportAndAsk, ErrorHandler::MessageOnly, "question");
    std::exit(7);
}

TEST(ErrorHandlerModesDeathTest, ReportAndAskReadsTwoCharacters) {
    EXPECT_EXIT(AskWithAnswer("yes\n"), testing::ExitedWithCode(7), "Continue anyway\\? ");
    EXPECT_EXIT(AskWithAnswer("Y\n\n  n\n"), testing::ExitedWithCode(7), "question");
    EXPECT_EXIT(AskWithAnswer("no\n"), testing::ExitedWithCode(1), "Continue anyway\\? ");
    EXPECT_EXIT(AskWithAnswer(" n y\n"), testing::ExitedWithCode(1), "question");
    // The input ends before a second character: no answer counts as no.
    EXPECT_EXIT(AskWithAnswer("y\n"), testing::ExitedWithCode(1), "question");
    EXPECT_EXIT(AskWithAnswer(""), testing::ExitedWithCode(1), "question");
    std::remove(kAnswerFile);
}

TEST(ConsoleLine, TextNewlineAndFlush) {
    testing::internal::CaptureStdout();
    WriteConsoleLine(CString("\nHalvard Started..."));
    WriteConsoleLine(CString());
    WriteConsoleLine(CString('x', 1000));
    FlushConsoleLines();
    EXPECT_EQ("\nHalvard Started...\n\n" + std::string(1000, 'x') + "\n",
              testing::internal::GetCapturedStdout());
}

// Lines gathered and not yet written go out before a report, whichever way it
// ends the process (exit, or _Exit for the memory report).
void LineThenReport(bool memory) {
    dup2(2, 1);  // both into the stream the death test reads
    WriteConsoleLine(CString("a line before"));
    if (memory) ReportAllocationFailure();
    ErrorHandler().Report(ErrorHandler::ReportAndExit, ErrorHandler::MessageOnly, "the report");
}

TEST(ConsoleLineDeathTest, WrittenBeforeAnyReport) {
    EXPECT_EXIT(LineThenReport(false), testing::ExitedWithCode(1), "a line before\\s+the report");
    EXPECT_EXIT(LineThenReport(true), testing::ExitedWithCode(kAllocationFailureStatus),
                "a line before\\s+Memory Allocation Error");
}

}  // namespace
