// The platform layer on Windows: the runtime library's own calls (_findfirst,
// _fullpath, text-mode fopen, mktime), with a few Win32 queries where the runtime
// has no equivalent or costs more round trips to a file server than the walk of
// a driver repository on a network share can afford.

#include "Platform.h"
#include "PlatformInternal.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

const unsigned kMaxPath = 260;

bool EndsWithSeparator(const char* path) {
    size_t length = std::strlen(path);
    return length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/');
}

// A directory written with a trailing separator, or a root: the directory
// search yields nothing for these, so ask for the attributes instead.
bool DirectoryExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A file on a disk (or a share), not a device such as CON or a pipe, whose
// reads could block. The runtime opens no directories, so such a file is a
// regular one. Answered without asking the file system.
bool IsDiskFile(int fd) {
    return GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK;
}

// The size of an open disk file; 0 where it tells none.
unsigned long long FileSize(int fd) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &size) || size.QuadPart < 0) {
        return 0;
    }
    return static_cast<unsigned long long>(size.QuadPart);
}

// The size hint of ReadAll for an open disk file: its size, 0 where it tells
// none or where it is too large to be a string's.
size_t ExpectedSize(int fd) {
    const unsigned long long size = FileSize(fd);
    return size < SIZE_MAX / 2 ? static_cast<size_t>(size) : 0;
}

bool ReadsOnly(const char* mode) { return mode[0] == 'r' && std::strchr(mode, '+') == nullptr; }

bool IsValidMode(const char* mode) {
    if (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a') {
        return false;
    }
    return std::strspn(mode + 1, "+tb") == std::strlen(mode + 1);
}

// The runtime library's text-mode stream.
class RuntimeTextStream : public TextStream {
public:
    explicit RuntimeTextStream(FILE* file) : file_(file) {}
    ~RuntimeTextStream() override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    int ReadChar() override { return std::getc(file_); }
    bool AtEnd() const override { return std::feof(file_) != 0; }
    bool WriteText(const char* text) override {
        bool ok = std::fputs(text, file_) >= 0;
        writeFailed_ = writeFailed_ || !ok;
        return ok;
    }
    bool Close() override {
        bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return closed && !writeFailed_;
    }

private:
    FILE* file_;
    bool writeFailed_ = false;
};

}  // namespace

int ErrorOfSystemCode(unsigned long code) {
    switch (code) {
    case 0: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_INVALID_ACCESS: return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    default: return -static_cast<int>(code);  // the network's and the rest: failed requests
    }
}

ErrorKind KindOfError(int error) {
    switch (error) {
    case 0: return ErrorKind::None;
    case ENOENT:
    case ENOTDIR: return ErrorKind::Missing;
    case EACCES:
    case EPERM: return ErrorKind::Denied;
    default: return ErrorKind::Failed;
    }
}

std::string ErrorText(int error) {
    if (error >= 0) return std::strerror(error);
    char text[512];
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(-error), 0, text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    if (length == 0) return "system error " + std::to_string(-error);
    return std::string(text, length);
}

const bool kSlashIsSeparator = false;

char PreferredSeparator() { return '\\'; }

unsigned MaxPathLength() { return kMaxPath; }

bool FullPath(const char* path, std::string& out) {
    out.clear();
    if (path == nullptr || *path == '\0') {
        return false;
    }
    char buffer[kMaxPath];
    if (_fullpath(buffer, path, kMaxPath) == nullptr) {
        return false;
    }
    out = buffer;
    return true;
}

bool FullPathFits(const char* path) {
    std::string full;
    return FullPath(path, full);
}

bool Exists(const char* path) {
    if (path == nullptr || *path == '\0') {
        return false;
    }
    // The directory search cannot name a share root ("\\Server\Share" is no
    // valid search), as it cannot name a drive root: their attributes tell.
    if (EndsWithSeparator(path) || IsShareRoot(path)) {
        return DirectoryExists(path);
    }
    struct _finddata_t data;
    intptr_t handle = _findfirst(path, &data);
    if (handle == -1) {
        return false;
    }
    _findclose(handle);
    return true;
}

bool IsDirectory(const char* path) {
    return path != nullptr && *path != '\0' && DirectoryExists(path);
}

namespace {

// Why a directory search could not start: nothing there, no directory, or
// (for a directory that exists) the runtime's own error.
int ListingError(const char* directory, int searchError) {
    const int failure = ErrorOfSystemCode(GetLastError());
    if (KindOfError(failure) == ErrorKind::Failed && failure != -ERROR_NO_MORE_FILES) {
        return failure;
    }
    DWORD attributes = GetFileAttributesA(*directory != '\0' ? directory : ".");
    if (attributes == INVALID_FILE_ATTRIBUTES) return ENOENT;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    return searchError == ENOENT ? EACCES : searchError;
}

// The listing through the runtime's directory search on the pattern
// directory\*. It gives no identities.
bool ListBySearch(const char* directory, const std::string& prefix, std::vector<DirEntry>& entries,
                  int* error) {
    const std::string pattern = prefix + '*';
    struct _finddata_t data;
    intptr_t handle = _findfirst(pattern.c_str(), &data);
    if (handle == -1) {
        if (error != nullptr) *error = ListingError(directory, errno);
        return false;
    }
    do {
        if (std::strcmp(data.name, ".") == 0 || std::strcmp(data.name, "..") == 0) {
            continue;
        }
        DirEntry entry;
        entry.name = data.name;
        entry.isDirectory = (data.attrib & _A_SUBDIR) != 0;
        entries.push_back(entry);
    } while (_findnext(handle, &data) == 0);
    bool complete = errno == ENOENT;
    if (error != nullptr) *error = complete ? 0 : errno;
    _findclose(handle);
    return complete;
}

// The errors with which the runtime's directory search ends as having listed
// everything.
bool EndsListing(DWORD failure) {
    return failure == ERROR_NO_MORE_FILES || failure == ERROR_FILE_NOT_FOUND ||
           failure == ERROR_PATH_NOT_FOUND;
}

// One entry of a listing by handle, its name as the runtime's search gives it
// (in the code page of the file functions).
DirEntry ToEntry(const FILE_ID_BOTH_DIR_INFO& info, UINT codePage) {
    DirEntry entry;
    const int length = static_cast<int>(info.FileNameLength / sizeof(WCHAR));
    int size =
        WideCharToMultiByte(codePage, 0, info.FileName, length, nullptr, 0, nullptr, nullptr);
    entry.name.resize(size > 0 ? size : 0);
    if (size > 0) {
        WideCharToMultiByte(codePage, 0, info.FileName, length, &entry.name[0], size, nullptr,
                            nullptr);
    }
    entry.isDirectory = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return entry;
}

const DWORD kListingBufferSize = 64 * 1024;  // entries fetched per query

enum class Listing { Complete, Failed, Unavailable };

// The identity of the file or directory a handle is open on, as its volume
// tells it; false when the volume cannot be asked. The identity is invalid
// where the file ID is unknown, its volume serial number set all the same.
bool IdOfHandle(HANDLE handle, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info)) return false;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.valid = !IsUnknownFileNumber(id.inode);
    return true;
}

// The listing through one handle on the directory: each query fills a buffer
// with entries that carry their file identity, so that a subdirectory costs no
// open of its own to be told apart. Unavailable when nothing could be read: the
// directory cannot be opened, the file system gives no such listing, or it
// yields not even "." (which the directory search reports as a failure).
// The directory's own identity is the hint where the "." entry bears its file
// ID out, else the handle is asked; a file ID of 0 or all ones (FAT volumes,
// some SMB servers) is no identity.
Listing ListByHandle(const std::string& prefix, const FileId& hint, std::vector<DirEntry>& entries,
                     FileId& self, int* error) {
    // The access and sharing of the runtime's directory search.
    HANDLE handle = CreateFileA(prefix.empty() ? "." : prefix.c_str(), FILE_LIST_DIRECTORY,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A request that failed is no reason to try the runtime's search instead.
        const int failure = ErrorOfSystemCode(GetLastError());
        if (KindOfError(failure) != ErrorKind::Failed) return Listing::Unavailable;
        if (error != nullptr) *error = failure;
        return Listing::Failed;
    }
    std::unique_ptr<LONGLONG[]> buffer(new LONGLONG[kListingBufferSize / sizeof(LONGLONG)]);
    const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    uint64_t dotNumber = 0;
    std::vector<std::size_t> hinted;  // the entries whose hint waits for its volume
    Listing result = Listing::Complete;
    for (FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;;
         query = FileIdBothDirectoryInfo) {
        if (!GetFileInformationByHandleEx(handle, query, buffer.get(), kListingBufferSize)) {
            const DWORD failure = GetLastError();
            if (query == FileIdBothDirectoryRestartInfo) {
                result = Listing::Unavailable;
            } else if (!EndsListing(failure)) {
                result = Listing::Failed;
                if (error != nullptr) *error = ErrorOfSystemCode(failure);
            }
            break;
        }
        const char* item = reinterpret_cast<const char*>(buffer.get());
        for (;;) {
            const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(item);
            DirEntry entry = ToEntry(info, codePage);
            const uint64_t number = static_cast<uint64_t>(info.FileId.QuadPart);
            if (entry.name == ".") {
                dotNumber = number;
            } else if (entry.name != "..") {
                if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                    // A junction, link or mount point: its own identity is not
                    // that of the directory it leads to.
                    if (entry.isDirectory) entry.id = GetFileId((prefix + entry.name).c_str());
                } else if (entry.isDirectory && !IsUnknownFileNumber(number)) {
                    entry.id.inode = number;  // the volume follows below
                    hinted.push_back(entries.size());
                }
                entries.push_back(std::move(entry));
            }
            if (info.NextEntryOffset == 0) break;
            item += info.NextEntryOffset;
        }
    }
    if (result != Listing::Unavailable) {
        bool haveVolume = hint.valid && dotNumber == hint.inode;
        if (haveVolume) {
            self = hint;
        } else {
            haveVolume = IdOfHandle(handle, self);
        }
        for (std::size_t index : hinted) {
            entries[index].id.device = self.device;
            entries[index].id.valid = haveVolume;
            entries[index].id.hint = true;
        }
    }
    CloseHandle(handle);
    return result;
}

}  // namespace

bool ListDirectory(const char* directory, std::vector<DirEntry>& entries, const FileId& hint,
                   int* error, FileId* self) {
    entries.clear();
    if (self != nullptr) *self = FileId();
    if (directory == nullptr) directory = "";
    // What stands before the names of the entries: the directory and one
    // separator, as in the search pattern directory\* ("C:" lists C:\).
    std::string prefix(directory);
    if (!prefix.empty() && !EndsWithSeparator(directory)) {
        prefix += '\\';
    }
    FileId own;
    switch (ListByHandle(prefix, hint, entries, own, error)) {
    case Listing::Complete:
        if (error != nullptr) *error = 0;
        if (self != nullptr) *self = own;
        return true;
    case Listing::Failed:
        if (self != nullptr) *self = own;
        return false;
    case Listing::Unavailable: break;
    }
    entries.clear();
    return ListBySearch(directory, prefix, entries, error);
}

FileId GetFileId(const char* path) {
    FileId id;
    if (path == nullptr || *path == '\0') {
        return id;
    }
    HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return id;
    }
    if (!IdOfHandle(handle, id)) id = FileId();
    CloseHandle(handle);
    return id;
}

std::ptrdiff_t ReadSome(int fd, char* buffer, std::size_t size, int& error) {
    const int count = _read(fd, buffer, static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
    if (count < 0) {
        const DWORD code = GetLastError();
        error = code != 0 ? ErrorOfSystemCode(code) : errno;
    }
    return count;
}

ReadStatus ReadFileBytes(const char* path, std::string& content, int* error, FileId* file,
                         std::size_t limit) {
    content.clear();
    // The runtime's open tells no volume serial number: the file's identity stays unknown.
    if (file != nullptr) *file = FileId();
    if (path == nullptr || *path == '\0') {
        if (error != nullptr) *error = ENOENT;
        return ReadStatus::Missing;
    }
    SetLastError(0);
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        // The system's own code: the runtime's errno loses the network's.
        const DWORD code = GetLastError();
        const int failure = code != 0 ? ErrorOfSystemCode(code) : errno;
        if (error != nullptr) *error = failure;
        if (KindOfError(failure) == ErrorKind::Failed) return ReadStatus::Failed;
        // ENOENT: nothing of that name. Any other failure (a directory, a file
        // that cannot be read, a name the system refuses) is settled by a
        // search, as Exists settles it.
        return failure != ENOENT && Exists(path) ? ReadStatus::Read : ReadStatus::Missing;
    }
    if (error != nullptr) *error = 0;
    if (IsDiskFile(fd) && FileSize(fd) > limit) {
        _close(fd);
        return ReadStatus::TooLarge;
    }
    const ReadStatus status =
        IsDiskFile(fd) ? ReadAll(fd, ExpectedSize(fd), content, error) : ReadStatus::Read;
    _close(fd);
    return status;
}

std::unique_ptr<TextStream> OpenTextStream(const char* path, const char* mode, int* error) {
    auto fail = [error](int number) {
        if (error != nullptr) *error = number;
        return nullptr;
    };
    if (path == nullptr || *path == '\0') return fail(ENOENT);
    if (mode == nullptr || !IsValidMode(mode)) return fail(EINVAL);
    std::string textMode(mode);
    if (textMode.find_first_of("bt") == std::string::npos) {
        textMode += 't';  // text mode whatever the program's default
    }
    FILE* file = std::fopen(path, textMode.c_str());
    if (file == nullptr) return fail(errno);
    if (error != nullptr) *error = 0;
    if (ReadsOnly(mode) && !IsDiskFile(_fileno(file))) {
        std::fclose(file);  // a device such as CON would block
        return NewEmptyTextStream();
    }
    return std::make_unique<RuntimeTextStream>(file);
}

namespace {

// A runtime descriptor with a handle behind it. The runtime marks descriptors
// 0 to 2 open even when the parent handed over no standard handles, with no
// handle (-2) behind them; a handle the parent named may also be no handle.
bool HasHandle(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2) return false;
    SetLastError(NO_ERROR);
    return GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_UNKNOWN ||
           GetLastError() == NO_ERROR;
}

}  // namespace

// A descriptor without a handle is put on NUL, and so is the process's standard
// handle, which the runtime reads again when it has to.
bool SecureStandardStreams() {
    static const DWORD kStandardHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
        if (HasHandle(fd)) continue;
        const int nul = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (nul < 0) return false;
        if (nul != fd) {
            const bool moved = _dup2(nul, fd) == 0;
            _close(nul);
            if (!moved) return false;
        }
        SetStdHandle(kStandardHandles[fd], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    }
    return true;
}

// "\n" written as CR LF, as a Windows console program's output is. The runtime's
// text mode would make one system write per kilobyte or so of a block; the
// block is translated here instead, into pieces of a buffer on the stack (no
// allocation: a flush must work when memory is exhausted), and each piece
// goes out with one write on the descriptor, in binary mode.
void WriteStandardOutput(const char* line, std::size_t length) {
    static const int binary = _setmode(_fileno(stdout), _O_BINARY);
    (void)binary;
    char piece[8192];
    std::size_t used = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (used + 2 > sizeof(piece)) {
            if (_write(_fileno(stdout), piece, static_cast<unsigned>(used)) < 0) return;
            used = 0;
        }
        if (line[i] == '\n') piece[used++] = '\r';
        piece[used++] = line[i];
    }
    if (used > 0) _write(_fileno(stdout), piece, static_cast<unsigned>(used));
}

namespace {

// A thread of the runtime's, whose stack the system frees when it ends.
class WindowsThread : public Thread {
public:
    WindowsThread(void (*body)(void*), void* context) : body_(body), context_(context) {}
    ~WindowsThread() override { Join(); }

    bool Start(std::size_t stackBytes) {
        const uintptr_t handle =
            _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), &WindowsThread::Run, this,
                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        handle_ = reinterpret_cast<HANDLE>(handle);
        return handle != 0;
    }

    void Join() override {
        if (handle_ == nullptr) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static unsigned __stdcall Run(void* self) {
        auto* thread = static_cast<WindowsThread*>(self);
        thread->body_(thread->context_);
        return 0;
    }

    void (*body_)(void*);
    void* context_;
    HANDLE handle_ = nullptr;
};

}  // namespace

std::unique_ptr<Thread> StartThread(void (*body)(void*), void* context, std::size_t stackBytes) {
    auto thread = std::make_unique<WindowsThread>(body, context);
    if (!thread->Start(stackBytes)) return nullptr;
    return thread;
}

// The process heap serves every thread already.
void ShareHeapBetweenThreads() {}

// The process heap is left as the runtime sets it up.
void PrepareHeap() {}

namespace {

long long RuntimeToSeconds(std::tm* fields) { return static_cast<long long>(std::mktime(fields)); }

// The runtime's localtime keeps its result per thread.
bool RuntimeToFields(long long seconds, std::tm* fields) {
    const time_t instant = static_cast<time_t>(seconds);
    const std::tm* local = instant == seconds ? std::localtime(&instant) : nullptr;
    if (local == nullptr) return false;
    *fields = *local;
    return true;
}

}  // namespace

const LocalClock& SystemClock() {
    static const LocalClock clock = {RuntimeToSeconds, RuntimeToFields};
    return clock;
}

}  // namespace platform
