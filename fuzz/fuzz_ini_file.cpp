// Fuzz target for the INI reader: the input is the file, written to disk and
// read through IniFile as the tool reads a descriptor. Lookups of the sections
// and keys that occur in the file (and of variants in other case, with blanks,
// and missing ones) must give what the plain reference model gives.
#include "IniFile.h"
#include "reference_model.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& section, const std::string& key,
                       const std::string& got, const std::string& expected) {
    std::fprintf(stderr, "%s differs for [%s] %s: got \"%s\", expected \"%s\"\n", what,
                 section.c_str(), key.c_str(), got.c_str(), expected.c_str());
    std::abort();
}

// One file per process, rewritten for every input and removed at exit.
char scratchName[] = "/tmp/halvard-fuzz-ini-XXXXXX";

const char* ScratchFile() {
    static const bool made = [] {
        int fd = mkstemp(scratchName);
        if (fd < 0) std::abort();
        close(fd);
        std::atexit([] { unlink(scratchName); });
        return true;
    }();
    (void)made;
    return scratchName;
}

void WriteFile(const char* path, const uint8_t* bytes, size_t size) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(bytes, 1, size, file) != size) std::abort();
    std::fclose(file);
}

std::string FlipCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    return text;
}

// Section and key names to look up: those in the file, a few variants, the
// tool's own, and the empty section (keys before the first header).
void Names(const std::vector<std::string>& lines, std::vector<std::string>& sections,
           std::vector<std::string>& keys) {
    sections = {"", "Main", "BUILDINFO", "Product Specification"};
    keys = {"", "Windows Version", "BuildArch", "Product", "x"};
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (sections.size() < 12) sections.push_back(ref::SectionName(line));
        } else if (line.find('=') != std::string::npos && keys.size() < 16) {
            keys.push_back(ref::Trim(line.substr(0, line.find('=')), ref::kListBlanks));
        }
    }
    const size_t sectionCount = sections.size();
    for (size_t i = 4; i < sectionCount; ++i) {
        sections.push_back(FlipCase(sections[i]));
        sections.push_back(" " + sections[i] + "\t");
    }
    const size_t keyCount = keys.size();
    for (size_t i = 5; i < keyCount; ++i) keys.push_back(FlipCase(keys[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const char* path = ScratchFile();
    WriteFile(path, bytes, size);
    const std::vector<std::string> lines =
        ref::IniLines(std::string(reinterpret_cast<const char*>(bytes), size));

    std::vector<std::string> sections, keys;
    Names(lines, sections, keys);

    IniFile ini{CString(path)};
    const std::string fallback = " default ";
    for (const std::string& rawSection : sections) {
        const std::string section = ref::CText(rawSection);
        for (const std::string& rawKey : keys) {
            const std::string key = ref::CText(rawKey);
            const std::string expected = ref::GetValue(lines, section, key, fallback);
            const CString got = ini.GetValue(section.c_str(), key.c_str(), fallback.c_str());
            if (std::string(got.GetCharString()) != expected) {
                Fail("GetValue", section, key, got.GetCharString(), expected);
            }
            std::string expectedLine;
            const bool expectedFound = ref::FindLine(lines, section, key, expectedLine);
            CString line;
            const bool found = ini.FindLine(section.c_str(), key.c_str(), line);
            if (found != expectedFound || expectedLine != line.GetCharString()) {
                Fail("FindLine", section, key, line.GetCharString(), expectedLine);
            }
        }
    }
    return 0;
}
