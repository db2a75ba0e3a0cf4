// The yardstick of the benchmark: the least work the driver-set search needs.
//
//   minimal_walker ROOT VERSIONNAME [MACHINETYPE]
//
// For each directory, starting at ROOT: try to open DIR/DrvSet.ini. When it opens,
// read it whole once, find "Windows Version" (and, with a machine type, "Supported
// Systems") in [Main], and do not descend. Otherwise list the directory once
// (readdir, types from d_type), take a descriptor named in other case if the
// listing shows one, else descend into the subdirectories.
//
// A set matches when its Windows Version names VERSIONNAME (case ignored; a missing
// or unknown name counts as Win2003Server) and, with a machine type, its Supported
// Systems text contains it. Prints "sets N matches M".
//
// Build: c++ -std=c++17 -O2 -o minimal_walker minimal_walker.cpp

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const kCatalogue[] = {
    "Win2000Server", "Win2003Server",    "Win2000Pro", "WinXP",     "Win2003Serverx64",
    "Win2008Server", "Win2008Serverx64", "WinPE21x86", "WinPE21x64"};

struct Search {
    std::string version;      // target catalogue name
    std::string machineType;  // empty: no machine-type filter
    long sets = 0;
    long matches = 0;
    std::string buffer;  // reused for every descriptor
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n";
    size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

// The catalogue name a "Windows Version" value selects: unknown names count as
// Win2003Server.
std::string_view CatalogueName(std::string_view value) {
    for (const char* name : kCatalogue) {
        if (EqualsNoCase(value, name)) return name;
    }
    return "Win2003Server";
}

// Finds the two [Main] values the search needs, in one pass over the text.
void ParseMain(std::string_view text, std::string_view& version, std::string_view& systems) {
    bool inMain = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            inMain = EqualsNoCase(
                Trim(line.substr(
                    1, close == std::string_view::npos ? std::string_view::npos : close - 1)),
                "Main");
            continue;
        }
        if (!inMain) continue;
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, equals));
        if (EqualsNoCase(key, "Windows Version")) {
            version = Trim(line.substr(equals + 1));
        } else if (EqualsNoCase(key, "Supported Systems")) {
            systems = Trim(line.substr(equals + 1));
        }
    }
}

void ReadWhole(int fd, std::string& buffer) {
    buffer.clear();
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

void CountSet(Search& search, int fd) {
    search.buffer.clear();
    if (fd >= 0) {
        ReadWhole(fd, search.buffer);
        close(fd);
    }
    std::string_view version;
    std::string_view systems;
    ParseMain(search.buffer, version, systems);
    ++search.sets;
    if (CatalogueName(version) != search.version) return;
    if (!search.machineType.empty() && systems.find(search.machineType) == std::string_view::npos)
        return;
    ++search.matches;
}

bool IsDirectory(const std::string& path, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Walk(Search& search, std::string& path) {
    const size_t length = path.size();
    path += "/DrvSet.ini";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int openError = errno;
    path.resize(length);
    if (fd >= 0 || (openError != ENOENT && openError != ENOTDIR)) {
        CountSet(search, fd);  // an entry that exists but cannot be read counts as empty
        return;
    }

    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> subdirectories;
    std::string otherCase;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (strcasecmp(name, "DrvSet.ini") == 0) {
            otherCase = name;
            continue;
        }
        path += '/';
        path += name;
        if (IsDirectory(path, entry)) subdirectories.emplace_back(name);
        path.resize(length);
    }
    closedir(dir);

    if (!otherCase.empty()) {
        path += '/';
        path += otherCase;
        CountSet(search, open(path.c_str(), O_RDONLY | O_CLOEXEC));
        path.resize(length);
        return;
    }
    for (const std::string& name : subdirectories) {
        path += '/';
        path += name;
        Walk(search, path);
        path.resize(length);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s ROOT VERSIONNAME [MACHINETYPE]\n", argv[0]);
        return 2;
    }
    Search search;
    search.version = std::string(CatalogueName(argv[2]));
    if (argc == 4) search.machineType = argv[3];
    std::string root = argv[1];
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    Walk(search, root);
    std::printf("sets %ld matches %ld\n", search.sets, search.matches);
    return 0;
}
