// The platform layer: the few system services the foundation needs, with one
// implementation per platform (PlatformWindows.cpp, PlatformPosix.cpp) and the
// parts both share (PlatformCommon.cpp).
//
// Windows uses the runtime library's own calls. POSIX stands in for them so that
// Windows-style path texts give the same results: both "\" and "/" separate,
// listings come in NTFS order, text files use the Windows text mode, and mktime
// has the Windows runtime's range.
//
// Every function may be called from several threads at once: none keeps state
// that changes after its first use, and error numbers are taken straight after
// the system call that set them. Where a function takes an "int* error", a null
// pointer means the caller does not want it; otherwise it receives 0 on success
// and the system's error number (errno values: ENOENT, ENOTDIR, EACCES, ...)
// when the call failed. On Windows a system error code that has no errno value
// of its own (the network's, most of all) is given as its negative.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Whether "/" separates path components on this platform, as "\\" does on all.
extern const bool kSlashIsSeparator;
// True for a character that separates path components on this platform (inline:
// paths are scanned for separators character by character).
inline bool IsSeparator(char c) { return c == '\\' || (c == '/' && kSlashIsSeparator); }
// The separator used when a text holds none yet.
char PreferredSeparator();
// Longest absolute path, NUL included (260 on Windows, PATH_MAX on POSIX).
unsigned MaxPathLength();

// The absolute form of a path (relative paths resolved against the current
// directory, "." and ".." folded as text, a trailing separator kept).
// False when it cannot be formed or would not fit in MaxPathLength().
bool FullPath(const char* path, std::string& out);

// True when the absolute form of a path can be formed within MaxPathLength(),
// as FullPath would; cheap for the paths that plainly fit.
bool FullPathFits(const char* path);

// True for the root of a network share written as users write it:
// \\server\share, with or without a separator after it (on Windows).
bool IsShareRoot(const char* path);

// True when a file or directory of that name exists. A trailing separator and a
// root (C:\, /) name existing directories.
bool Exists(const char* path);

// True when the path names an existing directory (or a link to one).
bool IsDirectory(const char* path);

// Identity of a directory, for telling a directory that is reached twice: its
// own file system's device (volume serial number) and file number.
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool valid = false;
    // Read from a listing, not asked of the directory itself: at a mount point,
    // or for sibling subvolumes, two directories can show the same one.
    bool hint = false;
    bool operator==(const FileId& o) const {
        return valid && o.valid && device == o.device && inode == o.inode;
    }
};

// Hash and equality of identities as keys: device and file number only (neither
// valid nor hint takes part), for tables that hold valid identities alone.
struct FileIdHash {
    std::size_t operator()(const FileId& id) const {
        const uint64_t hash =
            (id.inode ^ (id.device * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
        return static_cast<std::size_t>(hash ^ (hash >> 32));
    }
};
struct FileIdEqual {
    bool operator()(const FileId& a, const FileId& b) const {
        return a.device == b.device && a.inode == b.inode;
    }
};

// True for a file number that names nothing: 0, or all bits set (in 32 or 64
// bits), which FUSE clients and some SMB servers give for every entry.
bool IsUnknownFileNumber(uint64_t number);

struct DirEntry {
    std::string name;
    bool isDirectory = false;  // a link to a directory counts as a directory
    // For a directory, a hint of its identity where the listing gives one
    // without a query of its own; invalid where the file number is unknown. A
    // hint can be wrong: at a mount point the listing shows the number of the
    // directory the mount covers. An entry that leads elsewhere (a symbolic
    // link, a junction) carries the identity of the directory it leads to, as
    // GetFileId of its path gives.
    FileId id;
};

// The entries of a directory except "." and "..", in the platform's order
// (on POSIX: ASCII letters folded to upper case, then bytes; the order NTFS
// lists a directory). False when the directory cannot be listed or the listing
// ends on an error; the entries read so far are kept, and *error (where given)
// receives the system's error number: ENOENT when nothing of that name exists,
// ENOTDIR when it is no directory, another number for one that cannot be read.
// hint: the identity the caller believes the directory has; where the listing
// confirms it, no query is made for it. *self (where given) receives the
// directory's own identity as the opened directory tells it (invalid where it
// cannot tell); the entries' hints carry the device it is on.
bool ListDirectory(const char* directory, std::vector<DirEntry>& entries,
                   const FileId& hint = FileId(), int* error = nullptr, FileId* self = nullptr);

// Identity of an existing directory (one query; invalid when unknown).
FileId GetFileId(const char* path);

// What a failed call met, told apart where the call is made:
// - Missing: nothing of that name (ENOENT, ENOTDIR; ERROR_FILE_NOT_FOUND, ...);
// - Denied: there, but not for this account or not to be read as a file
//   (EACCES, EPERM, a socket or device; ERROR_ACCESS_DENIED, ...);
// - Failed: the request itself failed, on a share as a rule: an I/O error, a
//   timeout, a connection lost or reset, a stale handle, no resources (EIO,
//   ETIMEDOUT, ESTALE, EMFILE, ENOMEM; ERROR_NETNAME_DELETED, ...): everything
//   else. Such a call may succeed when made again.
enum class ErrorKind { None, Missing, Denied, Failed };
// The kind of an error number as the functions here give it (0: None).
ErrorKind KindOfError(int error);
// The system's own words for an error number.
std::string ErrorText(int error);
// The error number of a system error code: on Windows, of the code GetLastError
// gives (ENOENT, EACCES, ... where the code has one, else the code negated);
// on POSIX the code is an errno value already.
int ErrorOfSystemCode(unsigned long code);

// Result of reading a file that may or may not exist. TooLarge: a regular file
// larger than the limit the caller set, left unread. Failed: the open or a read
// failed with an error of the kind Failed; nothing read is kept.
enum class ReadStatus { Missing, Read, TooLarge, Failed };

// Reads a whole file's bytes as stored, with one open. Missing when no entry of
// that name exists (as Exists would say). A directory, FIFO, device or
// unreadable file that exists reads as empty content, without blocking.
// *error (where given) receives the error number of the open when it failed
// (ENOENT for a missing file; EACCES for one that cannot be read, and on
// Windows for a directory), 0 when the file was opened.
// *file (where given) receives the opened file's own identity where the
// platform learns it with the open (its device is the device of the directory
// that holds it); invalid otherwise.
ReadStatus ReadFileBytes(const char* path, std::string& bytes, int* error = nullptr,
                         FileId* file = nullptr, std::size_t limit = SIZE_MAX);

// ReadFileBytes, then the text-mode decoding below.
ReadStatus ReadTextFile(const char* path, std::string& content, int* error = nullptr);

// Applies text-mode decoding to raw bytes: CR before LF dropped, Ctrl-Z ends.
void DecodeTextMode(std::string& bytes);

// A text-mode stream for TextFile.
class TextStream {
public:
    virtual ~TextStream() = default;
    virtual int ReadChar() = 0;                    // EOF at end or on error
    virtual bool AtEnd() const = 0;                // end-of-file indicator
    virtual bool WriteText(const char* text) = 0;  // "\n" written as CR LF
    virtual bool Close() = 0;                      // true when the close succeeded
};
// Opens a file with a runtime-library mode ("r", "w+", ...); null on failure,
// with *error (where given) set to the error number of the open (ENOENT for an
// empty path, EINVAL for a mode that is none of those).
std::unique_ptr<TextStream> OpenTextStream(const char* path, const char* mode,
                                           int* error = nullptr);
// A stream with nothing in it: what a FIFO, device or directory opened for
// reading gives, so that reading never blocks.
std::unique_ptr<TextStream> NewEmptyTextStream();

// Makes sure that standard input, output and error (descriptors 0, 1 and 2) are
// open, on the null device where the parent handed over none, so that no file
// the tool opens later takes one of their places: a batch file opened as
// descriptor 1 would receive the console lines. Called first thing in main;
// false when they cannot be made safe (then the run must not go on).
bool SecureStandardStreams();

// Writes one console line (its "\n" included) to standard output at once, so
// that a console or log shows it as soon as it is complete. Failures are not
// reported and never end the process (not even a pipe whose reader has gone):
// the tool carries on, as with any console output.
void WriteStandardOutput(const char* line, std::size_t length);

// A thread of its own stack: the stack is given back whole when the thread is
// joined, so that a run that stops its threads holds no more memory than one
// that never started them. Join (or the destructor) waits for the body to end.
class Thread {
public:
    virtual ~Thread() = default;
    virtual void Join() = 0;
};
// Runs body(context) on a new thread with a stack of stackBytes; null when no
// thread can be made (no memory, no more threads).
std::unique_ptr<Thread> StartThread(void (*body)(void*), void* context, std::size_t stackBytes);

// Lets threads allocate from the heap the main thread uses, where the C
// library would otherwise reserve a heap for each (glibc reserves 64 MiB of
// address space per arena); nothing where it does not.
void ShareHeapBetweenThreads();

// Sets the heap up for a run, once, before it fills: large blocks and the
// heap's growth in few fresh pages (huge ones where the system has them).
// Nothing where the C library or the system offers no such means.
void PrepareHeap();

// mktime with the Windows runtime's range: -1 before 1970-01-01 00:00:00 UTC or
// after 3000-12-31 23:59:59. The daylight-saving flag given is not used: the
// time is read by ReadLocalTime, so equal fields always give equal seconds.
long long MakeTime(std::tm* time);

// The runtime's two conversions of local time, as ReadLocalTime uses them.
struct LocalClock {
    // mktime: fields (with their daylight-saving flag) to seconds; -1 on failure.
    long long (*toSeconds)(std::tm* fields);
    // localtime: the local fields of an instant; false on failure.
    bool (*toFields)(long long seconds, std::tm* fields);
};

// Reads broken-down local fields (normalised as mktime does: a day 0 is the
// last day of the month before) as seconds, one fixed way whatever was
// converted before, on both builds alike: a time that happens twice (the hour
// when daylight saving ends) as its earlier instant, a time that never happens
// (the hour when it starts) with the offset in force before the change. On
// success the fields become the local fields of the result. -1 when the clock
// cannot convert the time. (PlatformCommon.cpp; MakeTime of both builds.)
long long ReadLocalTime(std::tm* time, const LocalClock& clock);

}  // namespace platform
