// The platform layer on POSIX: stand-ins for the Windows runtime calls, so that
// Windows-style path texts, listings, text files and times give the results the
// Windows build gives.

#include "Platform.h"
#include "PlatformInternal.h"

#include "AsciiText.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace platform {

namespace {

// A path as handed to the system: every "\" becomes "/". Nearly every path
// holds none and is passed as it is, without a copy.
class SystemPath {
public:
    explicit SystemPath(const char* path) : text_(path ? path : "") {
        if (std::strchr(text_, '\\') != nullptr) {
            copy_ = text_;
            std::replace(copy_.begin(), copy_.end(), '\\', '/');
            text_ = copy_.c_str();
        }
    }
    SystemPath(const SystemPath&) = delete;
    SystemPath& operator=(const SystemPath&) = delete;

    const char* c_str() const { return text_; }
    bool empty() const { return *text_ == '\0'; }

private:
    const char* text_;
    std::string copy_;
};

// The current directory, read once: the tool never changes it.
const std::string& CurrentDirectory() {
    static const std::string directory = [] {
        std::string text(PATH_MAX, '\0');
        if (getcwd(&text[0], text.size()) == nullptr) {
            return std::string();
        }
        text.resize(std::strlen(text.c_str()));
        return text;
    }();
    return directory;
}

// Folds "." and ".." of an absolute "/"-separated path as text, in one pass and
// in place: each component is moved down to the end of the folded text, "." is
// dropped and ".." takes back the component before it (never above the root).
// The folded text never runs ahead of the text still to be read, as every
// component keeps the separator that comes before it.
void FoldComponents(std::string& path) {
    const bool trailingSeparator = !path.empty() && path.back() == '/';
    const size_t size = path.size();
    size_t folded = 0;  // path[0, folded) is the folded text so far
    size_t start = 1;   // the first component is the empty one before the root
    while (start <= size) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = size;
        }
        size_t length = end - start;
        if (length == 2 && path[start] == '.' && path[start + 1] == '.') {
            size_t slash = folded == 0 ? std::string::npos : path.rfind('/', folded - 1);
            folded = slash == std::string::npos ? 0 : slash;
        } else if (length > 0 && !(length == 1 && path[start] == '.')) {
            path[folded++] = '/';
            std::memmove(&path[folded], &path[start], length);
            folded += length;
        }
        start = end + 1;
    }
    path.resize(folded);
    if (path.empty() || trailingSeparator) {
        path += '/';
    }
}

// Whether an absolute path holds "//", "." or ".." components that folding
// would change; most paths hold none and are taken as they are.
bool NeedsFolding(const std::string& path) {
    for (size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        size_t next = slash + 1;
        size_t dots = 0;
        while (next + dots < path.size() && path[next + dots] == '.' && dots < 3) ++dots;
        bool endsComponent = next + dots == path.size() || path[next + dots] == '/';
        if ((dots == 0 && next < path.size() && path[next] == '/') ||
            ((dots == 1 || dots == 2) && endsComponent)) {
            return true;
        }
    }
    return false;
}

FileId IdOf(const struct stat& info) {
    FileId id;
    id.device = info.st_dev;
    id.inode = info.st_ino;
    id.valid = !IsUnknownFileNumber(id.inode);
    return id;
}

// Whether an entry whose type the listing left open is a directory (a link
// is followed). *error receives the error of a query that failed as a request.
bool IsDirectoryStat(int directoryFd, const char* name, FileId& id, int& error) {
    struct stat info;
    if (fstatat(directoryFd, name, &info, 0) != 0) {
        if (KindOfError(errno) == ErrorKind::Failed) error = errno;
        return false;
    }
    if (!S_ISDIR(info.st_mode)) return false;
    id = IdOf(info);
    return true;
}

// The order NTFS lists a directory: ASCII letters folded to upper case, bytes
// unsigned, ties broken by plain byte order.
bool NtfsLess(const DirEntry& left, const DirEntry& right) {
    const std::string& a = left.name;
    const std::string& b = right.name;
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(ToUpperAscii(a[i]));
        unsigned char y = static_cast<unsigned char>(ToUpperAscii(b[i]));
        if (x != y) {
            return x < y;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;  // std::string compares bytes as unsigned
}

// A directory's entries as the kernel hands them out, read into a buffer each
// thread keeps (the C library's directory streams allocate one per listing and
// ask for the directory's status besides: a cost per directory of a walk).
class ListingReader {
public:
    static constexpr std::size_t kBufferBytes = 32768;

    // False with *error set where the directory cannot be opened.
    bool Open(const char* path, int* error) {
        buffer_ = Buffer();
        fd_ = buffer_ == nullptr ? -1 : open(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
        const int failure = buffer_ == nullptr ? ENOMEM : fd_ < 0 ? errno : 0;
        if (error != nullptr) *error = failure;
        return failure == 0;
    }
    ~ListingReader() {
        if (fd_ >= 0) close(fd_);
    }

    int Fd() const { return fd_; }

    // The next entry, or null at the end or on an error (failure set).
    const struct dirent64* Next(int& failure) {
        if (offset_ >= filled_) {
            ssize_t count;
            do {
                count = getdents64(fd_, buffer_, kBufferBytes);
            } while (count < 0 && errno == EINTR);
            if (count <= 0) {
                failure = count < 0 ? errno : 0;
                return nullptr;
            }
            filled_ = static_cast<std::size_t>(count);
            offset_ = 0;
        }
        const auto* item = reinterpret_cast<const struct dirent64*>(buffer_ + offset_);
        offset_ += item->d_reclen;
        return item;
    }

private:
    // Null when it cannot be had; asked for again at the next listing.
    static char* Buffer() {
        thread_local std::unique_ptr<char[]> buffer;
        if (!buffer) buffer.reset(new (std::nothrow) char[kBufferBytes]);
        return buffer.get();
    }

    int fd_ = -1;
    char* buffer_ = nullptr;
    std::size_t filled_ = 0;
    std::size_t offset_ = 0;
};

// Reads the rest of a listing; false with *error set when it ends on an error.
// The directory's own identity is the hint where the listing's "." entry bears
// its number out (the common case, and no query); else the open directory is
// asked (no hint, a mount point, a file system without numbers in listings).
// Either way the hints of the subdirectories carry the device the directory
// really is on.
bool ReadEntries(ListingReader& listing, const FileId& hint, std::vector<DirEntry>& entries,
                 FileId& self, int* error) {
    const int directoryFd = listing.Fd();
    uint64_t dotNumber = 0;
    bool complete = true;
    const std::size_t first = entries.size();
    for (;;) {
        int failure = 0;
        const struct dirent64* item = listing.Next(failure);
        if (item == nullptr) {
            if (failure != 0 && error != nullptr) *error = failure;
            complete = complete && failure == 0;
            break;
        }
        if (std::strcmp(item->d_name, ".") == 0) {
            dotNumber = item->d_ino;
            continue;
        }
        if (std::strcmp(item->d_name, "..") == 0) continue;
        DirEntry entry;
        entry.name = item->d_name;
        if (item->d_type == DT_DIR) {
            entry.isDirectory = true;
            entry.id.inode = item->d_ino;                       // the device follows below
            entry.id.hint = !IsUnknownFileNumber(item->d_ino);  // marks it till then
        } else if (item->d_type == DT_UNKNOWN || item->d_type == DT_LNK) {
            int failure = 0;
            entry.isDirectory = IsDirectoryStat(directoryFd, item->d_name, entry.id, failure);
            if (failure != 0) {
                // An entry that cannot be told apart: the listing is not whole.
                if (error != nullptr) *error = failure;
                complete = false;
            }
        }
        entries.push_back(std::move(entry));
    }
    uint64_t device = hint.device;
    bool haveDevice = hint.valid && dotNumber == hint.inode;
    if (haveDevice) {
        self = hint;
    } else {
        struct stat info;
        haveDevice = fstat(directoryFd, &info) == 0;
        if (haveDevice) {
            self = IdOf(info);
            device = info.st_dev;
        }
    }
    // The entries whose hint waited for its device: only a directory from the
    // listing's own types is marked (one told apart by a query has valid set).
    for (std::size_t index = first; index < entries.size(); ++index) {
        FileId& id = entries[index].id;
        if (!id.hint || id.valid) continue;
        id.device = device;
        id.valid = haveDevice;
    }
    return complete;
}

}  // namespace

ErrorKind KindOfError(int error) {
    switch (error) {
    case 0: return ErrorKind::None;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return ErrorKind::Missing;
    case EACCES:
    case EPERM:
    case ENXIO:  // a socket
    case ENODEV:
    case EISDIR:
    case EOVERFLOW: return ErrorKind::Denied;
    default: return ErrorKind::Failed;
    }
}

std::string ErrorText(int error) { return std::strerror(error); }

int ErrorOfSystemCode(unsigned long code) { return static_cast<int>(code); }

const bool kSlashIsSeparator = true;

char PreferredSeparator() { return '/'; }

unsigned MaxPathLength() { return PATH_MAX; }

bool FullPath(const char* path, std::string& out) {
    out.clear();  // built in place: a caller's buffer serves many paths
    if (path == nullptr || *path == '\0') {
        return false;
    }
    const SystemPath system(path);
    if (system.c_str()[0] != '/') {
        const std::string& current = CurrentDirectory();
        if (current.empty()) {
            return false;
        }
        out.reserve(current.size() + 1 + std::strlen(system.c_str()));
        out += current;
        out += '/';
    }
    out += system.c_str();
    if (NeedsFolding(out)) FoldComponents(out);  // out is absolute here
    if (out.size() + 1 > MaxPathLength()) {
        out.clear();
        return false;
    }
    return true;
}

bool FullPathFits(const char* path) {
    // Folding only shortens a path: one that fits before folding fits after it.
    size_t length = path ? std::strlen(path) : 0;
    if (length == 0) return false;
    size_t prefix = IsSeparator(path[0]) ? 0 : CurrentDirectory().size() + 1;
    if (prefix + length + 1 <= MaxPathLength() && (prefix == 0 || !CurrentDirectory().empty())) {
        return true;
    }
    std::string full;
    return FullPath(path, full);
}

bool Exists(const char* path) {
    if (path == nullptr || *path == '\0') {
        return false;
    }
    struct stat info;
    return stat(SystemPath(path).c_str(), &info) == 0;
}

bool IsDirectory(const char* path) {
    struct stat info;
    return path != nullptr && *path != '\0' && stat(SystemPath(path).c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

bool ListDirectory(const char* directory, std::vector<DirEntry>& entries, const FileId& hint,
                   int* error, FileId* self) {
    entries.clear();
    if (self != nullptr) *self = FileId();
    std::string path = SystemPath(directory).c_str();
    if (path.empty()) {
        path = ".";  // as the pattern "*" lists the current directory
    }
    ListingReader listing;
    if (!listing.Open(path.c_str(), error)) return false;
    FileId own;
    bool complete = ReadEntries(listing, hint, entries, own, error);
    std::sort(entries.begin(), entries.end(), NtfsLess);
    if (self != nullptr) *self = own;
    return complete;
}

FileId GetFileId(const char* path) {
    struct stat info;
    if (path != nullptr && *path != '\0' && stat(SystemPath(path).c_str(), &info) == 0) {
        return IdOf(info);
    }
    return FileId();
}

std::ptrdiff_t ReadSome(int fd, char* buffer, std::size_t size, int& error) {
    for (;;) {
        const ssize_t count = read(fd, buffer, size);
        if (count >= 0) return count;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

ReadStatus ReadFileBytes(const char* path, std::string& content, int* error, FileId* file,
                         std::size_t limit) {
    content.clear();
    if (file != nullptr) *file = FileId();
    if (path == nullptr || *path == '\0') {
        if (error != nullptr) *error = ENOENT;
        return ReadStatus::Missing;
    }
    const SystemPath name(path);
    int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int openError = fd < 0 ? errno : 0;
    if (error != nullptr) *error = openError;
    if (fd < 0) {
        switch (KindOfError(openError)) {
        case ErrorKind::Failed: return ReadStatus::Failed;
        case ErrorKind::Denied: {
            struct stat info;
            return stat(name.c_str(), &info) == 0 ? ReadStatus::Read : ReadStatus::Missing;
        }
        default: return ReadStatus::Missing;
        }
    }
    struct stat info;
    const bool known = fstat(fd, &info) == 0;
    if (known && file != nullptr) *file = IdOf(info);
    const bool regular = known && S_ISREG(info.st_mode);
    if (regular && static_cast<uint64_t>(info.st_size) > limit) {
        close(fd);
        return ReadStatus::TooLarge;
    }
    const ReadStatus status =
        regular ? ReadAll(fd, static_cast<size_t>(info.st_size), content, error) : ReadStatus::Read;
    close(fd);
    return status;
}

namespace {

// A binary stream that reads and writes as the Windows runtime's text mode.
class PosixTextStream : public TextStream {
public:
    explicit PosixTextStream(FILE* file) : file_(file) {}
    ~PosixTextStream() override {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }

    int ReadChar() override {
        if (sawEnd_) {
            return EOF;
        }
        int c = std::getc(file_);
        if (c == 0x1A) {
            sawEnd_ = true;
            return EOF;
        }
        if (c == '\r') {
            int next = std::getc(file_);
            if (next == '\n') {
                return '\n';
            }
            if (next != EOF) {
                std::ungetc(next, file_);
            }
        }
        return c;
    }

    bool AtEnd() const override { return sawEnd_ || std::feof(file_) != 0; }

    bool WriteText(const char* text) override {
        bool ok = true;
        while (*text != '\0') {
            const char* lineEnd = std::strchr(text, '\n');
            size_t length = lineEnd ? static_cast<size_t>(lineEnd - text) : std::strlen(text);
            if (length > 0 && std::fwrite(text, 1, length, file_) != length) {
                ok = false;
                break;
            }
            if (lineEnd == nullptr) {
                break;
            }
            if (std::fwrite("\r\n", 1, 2, file_) != 2) {
                ok = false;
                break;
            }
            text = lineEnd + 1;
        }
        if (!ok) {
            writeFailed_ = true;
        }
        return ok;
    }

    bool Close() override {
        bool flushed = std::fflush(file_) == 0;
        bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return flushed && closed && !writeFailed_;
    }

private:
    FILE* file_;
    bool sawEnd_ = false;
    bool writeFailed_ = false;
};

struct OpenMode {
    int flags = 0;
    bool writes = false;
    std::string binary;  // the mode for fdopen
};

bool ParseMode(const char* mode, OpenMode& parsed) {
    bool plus = std::strchr(mode, '+') != nullptr;
    int access = plus ? O_RDWR : O_WRONLY;
    switch (mode[0]) {
    case 'r': parsed.flags = plus ? O_RDWR : O_RDONLY; break;
    case 'w': parsed.flags = access | O_CREAT | O_TRUNC; break;
    case 'a': parsed.flags = access | O_CREAT | O_APPEND; break;
    default: return false;
    }
    parsed.writes = plus || mode[0] != 'r';
    parsed.binary = std::string(1, mode[0]) + (plus ? "+" : "");
    return true;
}

}  // namespace

std::unique_ptr<TextStream> OpenTextStream(const char* path, const char* mode, int* error) {
    // Gives the failure's number to the caller, closing what was opened.
    auto fail = [error](int number, int fd = -1) {
        if (error != nullptr) *error = number;
        if (fd >= 0) close(fd);
        return nullptr;
    };
    OpenMode parsed;
    if (path == nullptr || *path == '\0') return fail(ENOENT);
    if (mode == nullptr || !ParseMode(mode, parsed)) return fail(EINVAL);
    int fd = open(SystemPath(path).c_str(), parsed.flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return fail(errno);
    struct stat info;
    if (fstat(fd, &info) != 0) return fail(errno, fd);
    if (error != nullptr) *error = 0;
    if (!S_ISREG(info.st_mode) && !parsed.writes) {
        close(fd);
        return NewEmptyTextStream();
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, parsed.binary.c_str());
    if (file == nullptr) return fail(errno, fd);
    return std::make_unique<PosixTextStream>(file);
}

// Each closed descriptor is opened in turn, from 0 up, so open gives it exactly
// that number. Where there is no /dev/null (a bare boot image), the root
// directory holds the place: reads and writes on it fail, as on a closed one.
bool SecureStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
        if (opened < 0) return false;
        if (opened != fd) {
            const bool moved = dup2(opened, fd) == fd;
            close(opened);
            if (!moved) return false;
        }
    }
    return true;
}

// Straight to the descriptor: nothing else writes to standard output, and a
// line needs no buffer of its own. A pipe whose reader has gone would raise
// SIGPIPE and end the run before its batch file is written: the signal is
// ignored from the first line on, so the write fails with EPIPE and is dropped.
void WriteStandardOutput(const char* line, std::size_t length) {
    static const bool brokenPipeIgnored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)brokenPipeIgnored;
    while (length > 0) {
        ssize_t written = write(STDOUT_FILENO, line, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        line += written;
        length -= static_cast<std::size_t>(written);
    }
}

namespace {

// A pthread on a stack mapped here, with a guard page below it, and unmapped at
// the join: the C library's cache of thread stacks never holds it.
class PosixThread : public Thread {
public:
    PosixThread(void (*body)(void*), void* context) : body_(body), context_(context) {}
    ~PosixThread() override { Join(); }

    bool Start(std::size_t stackBytes) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        stackBytes = (stackBytes + page - 1) / page * page;
        mappedBytes_ = stackBytes + page;
        void* mapped = mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mapped == MAP_FAILED) return false;
        mapped_ = static_cast<char*>(mapped);
        mprotect(mapped_, page, PROT_NONE);
        pthread_attr_t attributes;
        bool started = pthread_attr_init(&attributes) == 0;
        started = started && pthread_attr_setstack(&attributes, mapped_ + page, stackBytes) == 0 &&
                  pthread_create(&thread_, &attributes, &PosixThread::Run, this) == 0;
        pthread_attr_destroy(&attributes);
        running_ = started;
        return started;
    }

    void Join() override {
        if (running_) pthread_join(thread_, nullptr);
        running_ = false;
        if (mapped_ != nullptr) munmap(mapped_, mappedBytes_);
        mapped_ = nullptr;
    }

private:
    static void* Run(void* self) {
        auto* thread = static_cast<PosixThread*>(self);
        thread->body_(thread->context_);
        return nullptr;
    }

    void (*body_)(void*);
    void* context_;
    pthread_t thread_{};
    char* mapped_ = nullptr;
    std::size_t mappedBytes_ = 0;
    bool running_ = false;
};

}  // namespace

std::unique_ptr<Thread> StartThread(void (*body)(void*), void* context, std::size_t stackBytes) {
    auto thread = std::make_unique<PosixThread>(body, context);
    if (!thread->Start(stackBytes)) return nullptr;
    return thread;
}

namespace {

bool AddressSpaceLimited() {
    rlimit limit{};
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        if (getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return true;
    }
    return false;
}

}  // namespace

// A run fills the heap with blocks it keeps to the end, and on a virtual
// machine each fresh page can cost a fault of 10 us and more (at 20,000 sets,
// a third of the time between the tool and a bare walk). So blocks up to kFromHeap come
// from the heap rather than from mappings of their own, and the heap grows
// kHeapStep at a time, advised for huge pages: one fault per 2 MiB. Under a
// limit on address space the C library's defaults stand, as the step reserves
// address space ahead of use.
void PrepareHeap() {
    constexpr int kFromHeap = 4 << 20;
    constexpr int kHeapStep = 16 << 20;
    if (AddressSpaceLimited()) return;
    if (mallopt(M_MMAP_THRESHOLD, kFromHeap) != 1 ||
        mallopt(M_TRIM_THRESHOLD, 2 * kHeapStep) != 1 || mallopt(M_TOP_PAD, kHeapStep) != 1) {
        return;
    }
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // Larger than the room left, so the heap grows a step (volatile: the pair
    // of calls would otherwise be left out).
    void* volatile block = std::malloc(kFromHeap / 4);
    std::free(block);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t from = (before + page - 1) & ~(page - 1);
    // Only the part just grown, and only where the heap is the break's.
    if (after > from) madvise(reinterpret_cast<void*>(from), after - from, MADV_HUGEPAGE);
}

void ShareHeapBetweenThreads() {
    static const bool shared = mallopt(M_ARENA_MAX, 1) == 1;
    (void)shared;
}

namespace {

// glibc's mktime reads the time-zone file again on every call while TZ is
// unset; naming the same default zone lets it keep what it read once.
void PinDefaultTimeZone() {
    static const bool pinned = [] {
        if (std::getenv("TZ") == nullptr) setenv("TZ", ":/etc/localtime", 0);
        tzset();
        return true;
    }();
    (void)pinned;
}

long long SystemToSeconds(std::tm* fields) {
    const time_t result = std::mktime(fields);
    return result == static_cast<time_t>(-1) ? -1 : static_cast<long long>(result);
}

bool SystemToFields(long long seconds, std::tm* fields) {
    const time_t instant = static_cast<time_t>(seconds);
    return instant == seconds && localtime_r(&instant, fields) != nullptr;
}

}  // namespace

const LocalClock& SystemClock() {
    static const LocalClock clock = {SystemToSeconds, SystemToFields};
    PinDefaultTimeZone();
    return clock;
}

}  // namespace platform
