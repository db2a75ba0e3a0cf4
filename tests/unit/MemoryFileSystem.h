// An in-memory file system for tests of the walk and the run: directories and
// files by path, and calls that fail on demand, as a share's requests may.
#pragma once

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "TreeWalk.h"

// Directories and files by path ("/"-separated; a backslash reads as "/").
class MemoryFileSystem : public WalkFileSystem {
public:
    enum class Call { Read, List };
    struct Fault {
        Call call;
        std::string path;
        int error;
        int times;  // -1: for good
    };

    void Directory(const std::string& path) { nodes_[path] = Node{true, ""}; }
    void File(const std::string& path, const std::string& bytes) {
        nodes_[path] = Node{false, bytes};
    }
    void Fail(const Fault& fault) { faults_.push_back(fault); }
    long long PausedMilliseconds() const { return paused_; }

    platform::ReadStatus ReadFile(const char* path, std::string& bytes, int* error,
                                  platform::FileId*, std::size_t limit) override {
        bytes.clear();
        if (int failure = Failure(Call::Read, path)) {
            *error = failure;
            if (failure == ENOENT) return platform::ReadStatus::Missing;
            if (failure == EACCES) return platform::ReadStatus::Read;  // there, unreadable
            return platform::ReadStatus::Failed;
        }
        auto found = nodes_.find(Normal(path));
        *error = found == nodes_.end() ? ENOENT : 0;
        if (found == nodes_.end()) return platform::ReadStatus::Missing;
        if (found->second.bytes.size() > limit) return platform::ReadStatus::TooLarge;
        bytes = found->second.bytes;
        return platform::ReadStatus::Read;
    }

    bool ListDirectory(const char* directory, std::vector<platform::DirEntry>& entries,
                       const platform::FileId&, int* error, platform::FileId* self) override {
        entries.clear();
        *self = GetFileId(directory);
        if ((*error = Failure(Call::List, directory)) != 0) return false;
        const std::string prefix = Normal(directory) + "/";
        for (auto node = nodes_.lower_bound(prefix);
             node != nodes_.end() && node->first.compare(0, prefix.size(), prefix) == 0; ++node) {
            const std::string name = node->first.substr(prefix.size());
            if (name.find('/') != std::string::npos) continue;
            entries.push_back({name, node->second.isDirectory, GetFileId(node->first.c_str())});
        }
        return true;
    }

    platform::FileId GetFileId(const char* path) override {
        auto found = nodes_.find(Normal(path));
        if (found == nodes_.end() || !found->second.isDirectory) return platform::FileId();
        return platform::FileId{1, static_cast<uint64_t>(std::distance(nodes_.begin(), found)) + 1,
                                true};
    }
    bool FullPathFits(const char*) override { return true; }
    bool IsDirectory(const char* path) override {
        auto found = nodes_.find(Normal(path));
        return found != nodes_.end() && found->second.isDirectory;
    }
    bool Exists(const char* path) override { return nodes_.count(Normal(path)) != 0; }
    void Pause(std::chrono::milliseconds time) override {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ += time.count();
    }

private:
    struct Node {
        bool isDirectory;
        std::string bytes;
    };
    static std::string Normal(std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    int Failure(Call call, const char* path) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Fault& fault : faults_) {
            if (fault.call != call || fault.path != Normal(path) || fault.times == 0) continue;
            if (fault.times > 0) --fault.times;
            return fault.error;
        }
        return 0;
    }

    std::map<std::string, Node> nodes_;
    std::vector<Fault> faults_;
    std::mutex mutex_;
    long long paused_ = 0;
};
