// ErrorHandler: the titled error report on standard error, and the console-line
// convention that every message of the tool follows.
#pragma once

#include <string_view>

class CString;

class ErrorHandler {
public:
    enum Mode { ReportAndExit = 0, ReportAndReturn = 1, ReportAndAsk = 2 };
    enum Kind {
        GeneralSystemError = 1,
        GeneralProgramError = 2,
        MessageOnly = 3,
        MemoryAllocationError = 4,
        FileOpenError = 5,
        FileReadError = 6,
        FileWriteError = 7,
        FileCloseError = 8,
        ParseError = 9,
        TcpIpError = 10
    };

    ErrorHandler() = default;
    virtual ~ErrorHandler() = default;

    // Composes the message (cut to 511 characters), writes "\n%s\n" to standard
    // error, then exits with status 1, returns, or asks, as the mode says.
    // Never allocates from the heap, so it works when memory is exhausted.
    void Report(int mode, int kind, const char* source);
};

// Writes one console line: the text, "\n", then a flush, as one write.
void WriteConsoleLine(const CString& text);
// The same for a line made of two pieces, without joining them first.
void WriteConsoleLine(std::string_view first, std::string_view second);

// The exit status of a run that ran out of memory: the tool's general
// application error, never 1, which means "no driver set found".
const int kAllocationFailureStatus = 6;

// The memory report ("CString::CreateCharString") on standard error, then exit
// status kAllocationFailureStatus: the one ending of every allocation that fails.
[[noreturn]] void ReportAllocationFailure();

// Makes every failed heap allocation (including those of the standard library)
// end in ReportAllocationFailure.
void InstallAllocationFailureHandler();
