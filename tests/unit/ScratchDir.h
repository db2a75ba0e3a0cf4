// ScratchDir: a fresh directory under the system's temporary directory, removed
// with everything in it when the object goes. Names inside it are joined with the
// platform's preferred separator.
#pragma once

#include "CString.h"
#include "Platform.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

class ScratchDir {
public:
    ScratchDir() {
        static int counter = 0;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        do {
            path_ = std::filesystem::temp_directory_path() /
                    ("halvard_test_" + std::to_string(stamp) + "_" + std::to_string(++counter));
        } while (!std::filesystem::create_directory(path_));
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path() const { return path_.string(); }
    std::string Join(const std::string& name) const {
        return Path() + platform::PreferredSeparator() + name;
    }
    // Creates (or replaces) a file holding exactly these bytes; gives its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Join(name), std::ios::binary) << bytes;
        return Join(name);
    }
    std::string MakeDir(const std::string& name) const {
        std::filesystem::create_directory(Join(name));
        return Join(name);
    }
    // The bytes of a file in the directory; empty when it cannot be read.
    std::string Read(const std::string& name) const {
        std::ifstream in(Join(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // The same paths as CString, for the classes that take one.
    CString CJoin(const std::string& name) const { return CString(Join(name).c_str()); }
    CString CWrite(const std::string& name, const std::string& bytes) const {
        return CString(Write(name, bytes).c_str());
    }

private:
    std::filesystem::path path_;
};
