// ErrorHandler: the titled error report on standard error, and the console-line
// convention that every message of the tool follows.
#pragma once

#include <cstddef>
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

// Writes one console line: the text and "\n", whole. Lines are gathered into
// blocks (ConsoleBuffer), none held back longer than 50 ms.
void WriteConsoleLine(const CString& text);
// The same for a line made of two pieces, without joining them first.
void WriteConsoleLine(std::string_view first, std::string_view second);
// Writes out every console line written so far: before anything that must come
// after them (a report does so itself; the batch file, the end of the process).
void FlushConsoleLines();
// Writes out every line gathered and stops the thread that keeps their bound, at
// the end of a run; a line after it is written at once.
void CloseConsoleLines();

// The exit status of a run that ran out of memory: the tool's general
// application error, never 1, which means "no driver set found".
const int kAllocationFailureStatus = 6;

// The memory report ("CString::CreateCharString") on standard error, then exit
// status kAllocationFailureStatus: the one ending of every allocation that fails
// (on a thread that asked for it, std::bad_alloc is thrown instead).
[[noreturn]] void ReportAllocationFailure();

// Makes every failed heap allocation (including those of the standard library)
// end in ReportAllocationFailure, but for the reserve below.
void InstallAllocationFailureHandler();

// A block of memory held while threads work beside the main one. The first
// allocation that fails, on any thread, gives it back and is tried again;
// MemoryReserveReleased then tells the holder, which stops its threads so that
// the run goes on with the memory it would have had alone. False when the block
// cannot be had.
bool HoldMemoryReserve(std::size_t bytes);
// Replaces the reserve held by a larger one, taken before the other is given
// back; false (the reserve held stays) when it cannot be had, or when no reserve
// is held (none taken, or given back by an allocation that failed).
bool GrowMemoryReserve(std::size_t bytes);
// Gives the reserve back unasked (the threads are done).
void DropMemoryReserve();
bool MemoryReserveReleased();
// On the calling thread, an allocation that fails when no reserve is left
// throws std::bad_alloc instead of ending the run: for a thread that can hand
// its work back.
void ThrowOnAllocationFailure();
