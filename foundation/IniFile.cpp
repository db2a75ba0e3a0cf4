#include "IniFile.h"

#include "AsciiText.h"
#include "ErrorHandler.h"
#include "PathName.h"
#include "Platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The name a section header carries: the text after "[" up to the first "]",
// trimmed of blanks.
std::string_view SectionName(std::string_view line) {
    const std::string_view name = line.substr(1);
    return TrimBlanksAscii(name.substr(0, name.find(']')));
}

// Walks trimmed lines in file order: calls onKey(name, value) for each key line
// of the first section named `section` (of the lines before the first header when
// section is empty) until onKey returns true; returns whether it did.
template <typename NextLine, typename OnKey>
bool ScanSection(NextLine nextLine, const CString& section, OnKey onKey) {
    bool inSection = section.IsEmpty();
    std::string_view line;
    while (nextLine(line)) {
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (!inSection) {
            inSection = line[0] == '[' && EqualsNoCaseAscii(SectionName(line), section.View());
            continue;
        }
        if (line[0] == '[') {
            return false;  // only the first section of that name is searched
        }
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos && onKey(TrimBlanksAscii(line.substr(0, equals)),
                                                      TrimBlanksAscii(line.substr(equals + 1)))) {
            return true;
        }
    }
    return false;
}

const unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

}  // namespace

IniFile::IniFile(const CString& fileName) : fileName_(fileName), firstLine_(nullptr) {
    Load(fileName_);
}

IniFile::IniFile(const PathName& fileName) : IniFile(fileName.GetPath()) {}

IniFile::IniFile() : firstLine_(nullptr) {}

IniFile::~IniFile() {
    LineNode* node = firstLine_;
    while (node != nullptr) {
        LineNode* next = node->next;
        delete node;
        node = next;
    }
}

// Reads the whole file at once in text mode and splits it as TextFile::ReadLine
// would: one open and no per-character string work, since the search loads
// descriptor files for every set of a repository.
bool IniFile::Load(const CString& fileName) {
    std::string content;
    const char* name = fileName.GetCharString();
    if (platform::ReadTextFile(name, content) == platform::ReadStatus::Missing) {
        return false;
    }
    return LoadText(content.data(), static_cast<unsigned long>(content.size()));
}

bool IniFile::LoadText(const char* text, unsigned long length) {
    unsigned long position = 0;
    if (length >= 3 && std::memcmp(text, kByteOrderMark, 3) == 0) {
        position = 3;  // a UTF-8 byte-order mark, as editors write it
    }
    std::string line;
    bool result = false;
    while (position < length) {
        const char* start = text + position;
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', length - position));
        unsigned long lineLength =
            newline ? static_cast<unsigned long>(newline - start + 1) : length - position;
        position += lineLength;
        line.assign(start, lineLength);
        line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
        if (line.empty()) {
            continue;  // only NUL bytes: nothing read
        }
        if (!AddLine(CString(line.c_str()))) {
            return false;
        }
        // As with ReadLine, a last line without a line feed ends the file at once;
        // after a line feed one more read finds nothing.
        result = newline == nullptr;
    }
    return result;
}

bool IniFile::AddLine(const CString& line) {
    LineNode* node = new (std::nothrow) LineNode{nullptr, nullptr, CString()};
    if (node == nullptr) {
        ErrorHandler().Report(ErrorHandler::ReportAndReturn, ErrorHandler::MemoryAllocationError,
                              "IniFile.AddLine()");
        return false;
    }
    node->text = line;
    node->text.Trim(kBlanksAscii);
    if (firstLine_ == nullptr) {
        node->previous = node;
        firstLine_ = node;
    } else {
        LineNode* last = firstLine_->previous;
        last->next = node;
        node->previous = last;
        firstLine_->previous = node;
    }
    return true;
}

bool IniFile::FindLine(const CString& section, const CString& key, CString& line) {
    const LineNode* node = firstLine_;
    const LineNode* current = nullptr;
    auto nextLine = [&](std::string_view& text) {
        if (node == nullptr) return false;
        current = node;
        text = node->text.View();
        node = node->next;
        return true;
    };
    bool found = ScanSection(nextLine, section, [&](std::string_view name, std::string_view) {
        return EqualsNoCaseAscii(name, key.View());
    });
    if (current != nullptr) {
        line = current->text;
    }
    return found;
}

void IniFile::GetValues(const char* text, unsigned long length, bool decode, const CString& section,
                        const CString* keys, std::string* values, int count) {
    std::vector<std::string_view> views(static_cast<size_t>(count));
    std::string scratch;
    GetValues(text, length, decode, section, keys, views.data(), count, scratch);
    for (int i = 0; i < count; ++i) values[i].assign(views[static_cast<size_t>(i)]);
}

void IniFile::GetValues(const char* text, unsigned long length, bool decode, const CString& section,
                        const CString* keys, std::string_view* values, int count,
                        std::string& kept) {
    for (int i = 0; i < count; ++i) values[i] = std::string_view();
    const char* position = text;
    const char* end = text + length;
    if (decode) {
        const void* ctrlZ = std::memchr(text, '\x1A', length);
        if (ctrlZ != nullptr) end = static_cast<const char*>(ctrlZ);  // ends the file
    }
    bool markChecked = false;
    if (std::memchr(position, '\0', static_cast<size_t>(end - position)) != nullptr) {
        // A NUL byte adds nothing to a line as it is read: decode the text, drop a
        // byte-order mark at its very start, then drop every NUL.
        kept.assign(position, end);
        if (decode) platform::DecodeTextMode(kept);
        if (kept.compare(0, 3, reinterpret_cast<const char*>(kByteOrderMark), 3) == 0) {
            kept.erase(0, 3);
        }
        kept.erase(std::remove(kept.begin(), kept.end(), '\0'), kept.end());
        position = kept.data();
        end = position + kept.size();
        decode = false;
        markChecked = true;
    }
    if (!markChecked && end - position >= 3 && std::memcmp(position, kByteOrderMark, 3) == 0) {
        position += 3;  // a UTF-8 byte-order mark, as editors write it
    }
    auto nextLine = [&](std::string_view& line) {
        if (position >= end) return false;
        const void* newline = std::memchr(position, '\n', static_cast<size_t>(end - position));
        const char* lineEnd = newline ? static_cast<const char*>(newline) + 1 : end;
        const char* textEnd = lineEnd;
        if (decode && newline != nullptr && textEnd - position >= 2 && textEnd[-2] == '\r') {
            textEnd -= 2;  // a CR directly before the LF is not read
        }
        line = TrimBlanksAscii(std::string_view(position, static_cast<size_t>(textEnd - position)));
        position = lineEnd;
        return true;
    };
    // The keys not found yet, as views; most callers ask for a few keys: no
    // allocation for them.
    std::string_view fewKeys[16];
    int fewIndexes[16];
    std::unique_ptr<std::string_view[]> manyKeys(count > 16 ? new std::string_view[count]
                                                            : nullptr);
    std::unique_ptr<int[]> manyIndexes(count > 16 ? new int[count] : nullptr);
    std::string_view* wanted = manyKeys ? manyKeys.get() : fewKeys;
    int* indexes = manyIndexes ? manyIndexes.get() : fewIndexes;
    int remaining = 0;
    for (int i = 0; i < count; ++i) {
        wanted[remaining] = keys[i].View();
        indexes[remaining++] = i;
    }
    ScanSection(nextLine, section, [&](std::string_view name, std::string_view value) {
        // A key found leaves the wanted ones (the last takes its place), so the
        // first line of each name gives its value.
        for (int k = 0; k < remaining;) {
            if (wanted[k].size() != name.size() || !EqualsNoCaseAscii(name, wanted[k])) {
                ++k;
                continue;
            }
            values[indexes[k]] = value;
            --remaining;
            wanted[k] = wanted[remaining];
            indexes[k] = indexes[remaining];
        }
        return remaining == 0;
    });
}

CString IniFile::GetValue(const CString& section, const CString& key, const CString& defaultValue) {
    valueBuffer_.Empty();
    if (FindLine(section, key, valueBuffer_)) {
        const std::string_view line = valueBuffer_.View();
        valueBuffer_ = CString(TrimBlanksAscii(line.substr(line.find('=') + 1)));
    } else {
        valueBuffer_ = defaultValue;
    }
    return valueBuffer_;
}
