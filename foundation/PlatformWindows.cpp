// The platform layer on Windows: the runtime library's own calls (_findfirst,
// _fullpath, text-mode fopen, mktime), with a few Win32 queries where the runtime
// has no equivalent.

#include "Platform.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
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

bool IsRegularFile(FILE* file) {
    struct _stat64 info;
    return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFREG) != 0;
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

bool IsSeparator(char c) { return c == '\\'; }

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
    if (EndsWithSeparator(path)) {
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

// Why a directory search could not start: nothing there, no directory, or
// (for a directory that exists) the runtime's own error.
int ListingError(const char* directory, int searchError) {
    DWORD attributes = GetFileAttributesA(*directory != '\0' ? directory : ".");
    if (attributes == INVALID_FILE_ATTRIBUTES) return ENOENT;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    return searchError == ENOENT ? EACCES : searchError;
}

bool ListDirectory(const char* directory, std::vector<DirEntry>& entries, const FileId&,
                   int* error) {
    entries.clear();
    std::string pattern(directory ? directory : "");
    if (!pattern.empty() && !EndsWithSeparator(pattern.c_str())) {
        pattern += '\\';
    }
    pattern += '*';
    struct _finddata_t data;
    intptr_t handle = _findfirst(pattern.c_str(), &data);
    if (handle == -1) {
        if (error != nullptr) *error = ListingError(directory ? directory : "", errno);
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
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        id.device = info.dwVolumeSerialNumber;
        id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        id.valid = true;
    }
    CloseHandle(handle);
    return id;
}

ReadStatus ReadFileBytes(const char* path, std::string& content, int* error) {
    content.clear();
    if (path == nullptr || *path == '\0') {
        if (error != nullptr) *error = ENOENT;
        return ReadStatus::Missing;
    }
    FILE* file = std::fopen(path, "rb");
    if (error != nullptr) *error = file == nullptr ? errno : 0;
    if (file == nullptr) {
        return Exists(path) ? ReadStatus::Read : ReadStatus::Missing;
    }
    if (IsRegularFile(file)) {
        char buffer[65536];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            content.append(buffer, count);
        }
    }
    std::fclose(file);
    return ReadStatus::Read;
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
    if (ReadsOnly(mode) && !IsRegularFile(file)) {
        std::fclose(file);  // a device such as CON would block
        return NewEmptyTextStream();
    }
    return std::make_unique<RuntimeTextStream>(file);
}

// Through the runtime's text-mode stream, which writes "\n" as CR LF as a
// Windows console program's output does.
void WriteStandardOutput(const char* line, std::size_t length) {
    std::fwrite(line, 1, length, stdout);
    std::fflush(stdout);
}

long long MakeTime(std::tm* time) {
    const long long latest = 32535215999LL;  // 3000-12-31 23:59:59 UTC
    time->tm_isdst = -1;
    long long seconds = static_cast<long long>(std::mktime(time));
    return (seconds < 0 || seconds > latest) ? -1 : seconds;
}

}  // namespace platform
