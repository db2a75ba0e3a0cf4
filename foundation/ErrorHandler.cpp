// ErrorHandler: the titled error report on standard error, and the console-line
// convention.
//
// A report is composed in a fixed buffer on the stack and written with one
// fprintf, so it still works when the heap is exhausted.
#include "ErrorHandler.h"

#include "CString.h"
#include "ConsoleBuffer.h"
#include "Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <new>
#include <type_traits>

namespace {

// A message of at most 511 characters; text beyond that is cut off.
class MessageBuffer {
public:
    void Add(const char* text) {
        if (text == nullptr) return;
        const size_t room = sizeof(text_) - 1 - length_;
        size_t count = std::strlen(text);
        if (count > room) count = room;
        std::memcpy(text_ + length_, text, count);
        length_ += count;
        text_[length_] = '\0';
    }
    const char* Text() const { return text_; }

private:
    char text_[512] = {'\0'};
    size_t length_ = 0;
};

// The title and body of each kind of report; the source text follows them.
struct KindTexts {
    int kind;
    const char* title;
    const char* body;
};

const KindTexts kKindTexts[] = {
    {ErrorHandler::GeneralSystemError, "General System Error\n\n", ""},
    {ErrorHandler::GeneralProgramError, "General Program Error\n\n", ""},
    {ErrorHandler::MessageOnly, "", ""},
    {ErrorHandler::MemoryAllocationError, "Memory Allocation Error\n\n",
     "Not enough memory is available for this application.\n\n"
     "Please close some programs to free up memory and try running\n"
     "this application again.\n\n"},
    {ErrorHandler::FileOpenError, "File Open Error\n\n", "Unable to open file...\n\n"},
    {ErrorHandler::FileReadError, "File Read Error\n\n", "Unable to read from file...\n\n"},
    {ErrorHandler::FileWriteError, "File Write Error\n\n", "Unable to write to file...\n\n"},
    {ErrorHandler::FileCloseError, "File Close Error\n\n", "Unable to close file...\n\n"},
    {ErrorHandler::TcpIpError, "TCP/IP Error\n\n", ""},
};

void ComposeParseError(MessageBuffer& message, const char* source) {
    message.Add("Parse Error\n\n");
    message.Add("Unable to parse data file...\n\n");
    if (source != nullptr && source[0] != '\0') {
        message.Add(source);
        message.Add("\n\n");
    }
    message.Add("The data file may not be in the correct format ");
    message.Add("or it may be corrupt.\n\n");
}

void Compose(MessageBuffer& message, int kind, const char* source) {
    message.Add("\n");
    if (kind == ErrorHandler::ParseError) {
        ComposeParseError(message, source);
        return;
    }
    for (const KindTexts& texts : kKindTexts) {
        if (texts.kind == kind) {
            message.Add(texts.title);
            message.Add(texts.body);
            message.Add(source);
            return;
        }
    }
}

// Asks whether to go on: two non-blank characters are read, the first decides.
// An input that ends before both have been typed counts as a no.
bool UserWantsToContinue() {
    std::fprintf(stderr, "\nContinue anyway? ");
    std::fflush(stderr);
    char answer = '\0';
    char second = '\0';
    if (!(std::cin >> answer) || !(std::cin >> second)) return false;
    return answer == 'y' || answer == 'Y';
}

// The console lines of the process, gathered into blocks: made on first use, in
// storage of its own, and never destroyed, so that lines can be written and
// flushed up to the last moment of any ending (exit handlers included).
ConsoleBuffer& Console() {
    static std::aligned_storage_t<sizeof(ConsoleBuffer), alignof(ConsoleBuffer)> storage;
    static ConsoleBuffer* const console =
        new (&storage) ConsoleBuffer(&platform::WriteStandardOutput, ConsoleBuffer::Options());
    return *console;
}

}  // namespace

void FlushConsoleLines() { Console().Flush(); }

void CloseConsoleLines() { Console().Close(); }

void ErrorHandler::Report(int mode, int kind, const char* source) {
    MessageBuffer message;
    Compose(message, kind, source);
    FlushConsoleLines();  // every line before the report
    std::fprintf(stderr, "\n%s\n", message.Text());
    std::fflush(stderr);
    if (mode == ReportAndAsk && !UserWantsToContinue()) std::exit(1);
    if (mode == ReportAndExit) std::exit(1);
}

void WriteConsoleLine(const CString& text) { WriteConsoleLine(text.View(), std::string_view()); }

void WriteConsoleLine(std::string_view first, std::string_view second) {
    Console().WriteLine(first, second);
}

namespace {

std::atomic<void*> reserve{nullptr};
std::atomic<bool> reserveReleased{false};
thread_local bool throwsOnFailure = false;

}  // namespace

// Threads that run out of memory together make one report: the first reports
// and ends the process at once, without running exit handlers under the feet of
// the others, which wait for that end. The status is the general application
// error: 1 would tell the calling script that the run found no driver set.
void ReportAllocationFailure() {
    if (throwsOnFailure) throw std::bad_alloc();
    static std::mutex reporting;
    reporting.lock();  // never unlocked: the process ends here
    ErrorHandler().Report(ErrorHandler::ReportAndReturn, ErrorHandler::MemoryAllocationError,
                          "CString::CreateCharString");
    FlushConsoleLines();
    std::fflush(stdout);
    std::_Exit(kAllocationFailureStatus);
}

namespace {

// The new-handler: gives the reserve back first, so that the failed allocation
// is tried again; then reports (or throws, on threads that asked for it).
void HandleAllocationFailure() {
    if (void* block = reserve.exchange(nullptr)) {
        std::free(block);
        reserveReleased = true;
        return;
    }
    ReportAllocationFailure();
}

}  // namespace

void InstallAllocationFailureHandler() { std::set_new_handler(HandleAllocationFailure); }

bool HoldMemoryReserve(std::size_t bytes) {
    DropMemoryReserve();
    void* block = std::malloc(bytes);  // untouched: address space, not resident memory
    if (block == nullptr) return false;
    reserveReleased = false;
    reserve = block;
    return true;
}

bool GrowMemoryReserve(std::size_t bytes) {
    void* block = std::malloc(bytes);
    if (block == nullptr) return false;
    void* held = reserve.load();
    // Given back meanwhile (an allocation failed): that stands, and nothing grows.
    if (held == nullptr || !reserve.compare_exchange_strong(held, block)) {
        std::free(block);
        return false;
    }
    std::free(held);
    return true;
}

void DropMemoryReserve() { std::free(reserve.exchange(nullptr)); }

bool MemoryReserveReleased() { return reserveReleased; }

void ThrowOnAllocationFailure() { throwsOnFailure = true; }
