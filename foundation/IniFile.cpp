#include "IniFile.h"

#include "ErrorHandler.h"
#include "PathName.h"
#include "Platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>

namespace {

const char* const kBlanks = " \t\n";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// A piece of a line's text, trimmed of blanks, tabs and line feeds.
struct Span {
    const char* begin;
    const char* end;
};

Span Trimmed(const char* begin, const char* end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    return Span{begin, end};
}

// Compares as EqualsNoCase would: ASCII letters folded.
bool EqualsNoCase(Span span, const CString& name) {
    size_t length = static_cast<size_t>(span.end - span.begin);
    if (length != name.GetLength()) {
        return false;
    }
    const char* other = name.GetCharString();
    for (size_t i = 0; i < length; ++i) {
        int a = std::tolower(static_cast<unsigned char>(span.begin[i]));
        int b = std::tolower(static_cast<unsigned char>(other[i]));
        if (a != b) {
            return false;
        }
    }
    return true;
}

// The name a section header carries: the text after "[" up to the first "]".
Span SectionName(const char* text) {
    const char* end = std::strchr(text + 1, ']');
    return Trimmed(text + 1, end ? end : text + std::strlen(text));
}

enum class SearchState { SeekSection, InSection, Found };

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
// descriptor files by the ten thousand.
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
        const char* newline =
            static_cast<const char*>(std::memchr(start, '\n', length - position));
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
    node->text.Trim(kBlanks);
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
    SearchState state = section.IsEmpty() ? SearchState::InSection : SearchState::SeekSection;
    const LineNode* current = nullptr;
    for (const LineNode* node = firstLine_; node != nullptr; node = node->next) {
        current = node;
        const char* text = node->text.GetCharString();
        if (*text == '\0' || *text == ';') {
            continue;
        }
        if (state == SearchState::SeekSection) {
            if (*text == '[' && EqualsNoCase(SectionName(text), section)) {
                state = SearchState::InSection;
            }
            continue;
        }
        if (*text == '[') {
            break;  // only the first section of that name is searched
        }
        const char* equals = std::strchr(text, '=');
        if (equals != nullptr && EqualsNoCase(Trimmed(text, equals), key)) {
            state = SearchState::Found;
            break;
        }
    }
    if (current != nullptr) {
        line = current->text;
    }
    return state == SearchState::Found;
}

CString IniFile::GetValue(const CString& section, const CString& key,
                          const CString& defaultValue) {
    valueBuffer_.Empty();
    if (FindLine(section, key, valueBuffer_)) {
        const char* text = valueBuffer_.GetCharString();
        const char* equals = std::strchr(text, '=');
        Span value = Trimmed(equals + 1, text + std::strlen(text));
        valueBuffer_ = CString(std::string(value.begin, value.end).c_str());
    } else {
        valueBuffer_ = defaultValue;
    }
    return valueBuffer_;
}
