// Plain reference models of the rules the fuzz targets check: delimited lists
// in a string, the INI lookup, the POSIX path operations and the command-line
// parser. Each model is the rule written out in the most direct way, on
// std::string, with no attention to speed, so that any difference from the
// foundation classes is a fault in one of the two.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace ref {

// ---------------------------------------------------------------------------
// Texts

// What a CString built from these bytes holds: the text ends at the first NUL.
inline std::string CText(const std::string& bytes) { return std::string(bytes.c_str()); }

// First occurrence of sub at or after from, as strstr on the tail finds it.
inline int FindFrom(const std::string& text, const std::string& sub, size_t from) {
    if (sub.empty() || from > text.size()) return -1;
    size_t position = text.find(sub, from);
    return position == std::string::npos ? -1 : static_cast<int>(position);
}

inline int Find(const std::string& text, const std::string& sub) {
    if (text.empty() || sub.empty()) return -1;
    return FindFrom(text, sub, 0);
}

// n-th occurrence (from 1), overlapping matches counted; n == 0: the last one.
inline int FindNth(const std::string& text, const std::string& sub, unsigned n) {
    if (text.empty() || sub.empty()) return -1;
    unsigned count = 0;
    int last = -1;
    for (int hit = FindFrom(text, sub, 0); hit != -1;
         hit = FindFrom(text, sub, static_cast<size_t>(hit) + 1)) {
        ++count;
        last = hit;
        if (n != 0 && count == n) return last;
    }
    return n == 0 ? last : -1;
}

// Non-overlapping occurrences.
inline int CountOccurrences(const std::string& text, const std::string& sub) {
    if (text.empty() || sub.empty()) return 0;
    int count = 0;
    for (int hit = FindFrom(text, sub, 0); hit != -1;
         hit = FindFrom(text, sub, static_cast<size_t>(hit) + sub.size())) {
        ++count;
    }
    return count;
}

inline bool InSet(char c, const std::string& set) { return set.find(c) != std::string::npos; }

inline std::string TrimLeft(std::string text, const std::string& set) {
    while (!text.empty() && InSet(text[0], set)) text.erase(0, 1);
    return text;
}

inline std::string TrimRight(std::string text, const std::string& set) {
    while (!text.empty() && InSet(text[text.size() - 1], set)) text.erase(text.size() - 1);
    return text;
}

inline std::string Trim(const std::string& text, const std::string& set) {
    return TrimRight(TrimLeft(text, set), set);
}

inline int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

// Byte order with bytes taken as unsigned, as strcmp gives it: -1, 0 or +1.
inline int CompareBytes(const std::string& a, const std::string& b) {
    for (size_t i = 0;; ++i) {
        int x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        int y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

inline int CompareNoCase(const std::string& a, const std::string& b) {
    std::string x = a;
    std::string y = b;
    std::transform(x.begin(), x.end(), x.begin(), LowerAscii);
    std::transform(y.begin(), y.end(), y.begin(), LowerAscii);
    return CompareBytes(x, y);
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
    return !prefix.empty() && text.size() >= prefix.size() &&
           text.compare(0, prefix.size(), prefix) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& suffix) {
    return !suffix.empty() && text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

inline std::string Left(const std::string& text, int count) {
    if (count == 0 || text.empty()) return std::string();
    if (count < 0 || static_cast<size_t>(count) >= text.size()) return text;
    return text.substr(0, static_cast<size_t>(count));
}

inline std::string Mid(const std::string& text, int start, unsigned count) {
    size_t from = start < 0 ? 0 : static_cast<size_t>(start);
    if (from >= text.size()) return std::string();
    std::string rest = text.substr(from);
    if (count != 0 && count < rest.size()) rest.resize(count);
    return rest;
}

inline std::string Right(const std::string& text, unsigned count) {
    if (count == 0) return std::string();
    if (count >= text.size()) return text;
    return text.substr(text.size() - count);
}

// atoi in 32 bits: white space, a sign, digits; a value out of range is held
// at the nearest end of the range.
inline int32_t ToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && InSet(text[i], " \t\n\v\f\r")) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(value * 10 + (text[i] - '0'), 1LL << 40);
    }
    if (negative) value = -value;
    value = std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, value));
    return static_cast<int32_t>(value);
}

// ---------------------------------------------------------------------------
// Delimited lists: a text and the flag that marks a list of one empty item.

const char* const kListBlanks = " \t\n";

struct List {
    std::string text;
    bool emptyItem = false;
};

// Assignment (and every operation that ends by storing a new text): the text is
// replaced and the flag cleared, since the flag describes an empty text.
inline void Assign(List& list, const std::string& text) {
    list.text = text;
    list.emptyItem = false;
}

inline void AddItem(List& list, const std::string& item, const std::string& delimiter) {
    const bool flagged = list.emptyItem;
    if (!list.text.empty() || flagged) list.text += delimiter;
    if (flagged) {
        list.emptyItem = false;
    } else if (list.text.empty() && item.empty()) {
        list.emptyItem = true;
    }
    list.text += item;
    if (!list.text.empty()) list.emptyItem = false;
}

inline int GetItemCount(const List& list, const std::string& delimiter) {
    if (list.emptyItem) return 1;
    if (list.text.empty() || delimiter.empty()) return 0;
    return CountOccurrences(list.text, delimiter) + 1;
}

inline std::string GetItem(const List& list, int index, const std::string& delimiter) {
    if (delimiter.empty()) return std::string();
    const std::string copy = Trim(list.text, kListBlanks);
    if (copy.empty()) return std::string();
    if (index == 0) {
        int end = Find(copy, delimiter);
        return end == -1 ? copy : copy.substr(0, static_cast<size_t>(end));
    }
    int at = FindNth(copy, delimiter, index > 0 ? static_cast<unsigned>(index) : 0);
    if (at == -1) return std::string();
    std::string rest = copy.substr(static_cast<size_t>(at) + delimiter.size());
    int end = Find(rest, delimiter);
    return end == -1 ? rest : rest.substr(0, static_cast<size_t>(end));
}

inline std::vector<std::string> GetItems(const List& list, const std::string& delimiter) {
    std::vector<std::string> items;
    const int count = GetItemCount(list, delimiter);
    for (int i = 0; i < count; ++i) items.push_back(GetItem(list, i, delimiter));
    return items;
}

inline int InsertItem(List& list, const std::string& item, const std::string& before,
                      const std::string& delimiter) {
    List built;
    int position = -1;
    const int count = GetItemCount(list, delimiter);
    for (int i = 0; i < count; ++i) {
        const std::string x = GetItem(list, i, delimiter);
        if (position == -1 && (x == before || before.empty())) {
            AddItem(built, item, delimiter);
            position = i;
        }
        AddItem(built, x, delimiter);
    }
    if (position == -1) {
        AddItem(built, item, delimiter);
        position = count;
    }
    Assign(list, built.text);
    return position;
}

// The insertion sort, step by step: each item goes before the first item of
// the sorted list that is greater in the order compare gives (-1, 0 or +1); an
// empty result leaves the list.
template <typename Compare>
inline void SortItemsBy(List& list, const std::string& delimiter, Compare compare) {
    List copy;
    copy.text = list.text;  // a copy takes the text only
    List sorted;
    const int count = GetItemCount(copy, delimiter);
    for (int i = 0; i < count; ++i) {
        const std::string x = GetItem(copy, i, delimiter);
        bool inserted = false;
        const int sortedCount = GetItemCount(sorted, delimiter);
        for (int j = 0; j < sortedCount; ++j) {
            const std::string y = GetItem(sorted, j, delimiter);
            if (compare(x, y) < 0) {
                InsertItem(sorted, x, y, delimiter);
                inserted = true;
                break;
            }
        }
        if (!inserted) AddItem(sorted, x, delimiter);
    }
    if (!sorted.text.empty()) Assign(list, sorted.text);
}

// The insertion sort in byte order.
inline void SortItems(List& list, const std::string& delimiter) {
    SortItemsBy(list, delimiter, CompareBytes);
}

// The insertion sort of paths: byte order with every separator (as isSeparator
// tells them) read as a backslash.
inline void SortPathItems(List& list, const std::string& delimiter, bool (*isSeparator)(char)) {
    auto backslashed = [isSeparator](std::string text) {
        for (char& c : text) {
            if (isSeparator(c)) c = '\\';
        }
        return text;
    };
    SortItemsBy(list, delimiter, [&](const std::string& a, const std::string& b) {
        return CompareBytes(backslashed(a), backslashed(b));
    });
}

inline void SetItems(List& list, const std::vector<std::string>& items,
                     const std::string& delimiter) {
    List built;
    for (const std::string& item : items) AddItem(built, item, delimiter);
    list = built;
}

// Trimming leaves the flag alone unless the text changes.
inline void TrimInPlace(List& list, const std::string& set, bool left, bool right) {
    std::string text = list.text;
    if (left) text = TrimLeft(text, set);
    if (right) text = TrimRight(text, set);
    if (text != list.text) Assign(list, text);
}

inline bool RemoveFirst(List& list, const std::string& text) {
    if (text.empty()) return false;
    int at = Find(list.text, text);
    if (at == -1) return false;
    Assign(list, list.text.substr(0, static_cast<size_t>(at)) +
                     list.text.substr(static_cast<size_t>(at) + text.size()));
    return true;
}

inline bool ReplaceAll(List& list, const std::string& text, const std::string& replacement) {
    if (text.empty()) return false;
    std::string result;
    std::string rest = list.text;
    for (;;) {
        int at = FindFrom(rest, text, 0);
        if (at == -1) break;
        result += rest.substr(0, static_cast<size_t>(at)) + replacement;
        rest = rest.substr(static_cast<size_t>(at) + text.size());
    }
    Assign(list, result + rest);
    return true;
}

// ---------------------------------------------------------------------------
// INI files

// The Windows runtime's text mode: a Ctrl-Z ends the file, a CR directly
// before an LF is dropped.
inline std::string DecodeTextMode(const std::string& bytes) {
    std::string text = bytes.substr(0, bytes.find('\x1A'));
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

// The stored lines of an INI file: read as a text file line by line (a NUL adds
// nothing to a line; a last piece that adds nothing ends the file), a UTF-8
// byte-order mark at the start dropped, each line trimmed of blanks, tabs and
// line feeds.
inline std::vector<std::string> IniLines(const std::string& fileBytes) {
    std::string text = DecodeTextMode(fileBytes);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size()) {
            if (!line.empty()) lines.push_back(Trim(line, kListBlanks));
            break;
        }
        if (text[i] != '\0') line += text[i];
        if (text[i] == '\n') {
            lines.push_back(Trim(line, kListBlanks));
            line.clear();
        }
    }
    return lines;
}

inline std::string SectionName(const std::string& line) {
    size_t end = line.find(']', 1);
    return Trim(line.substr(1, end == std::string::npos ? std::string::npos : end - 1),
                kListBlanks);
}

// FindLine: true when found; line is the text of the last line looked at.
inline bool FindLine(const std::vector<std::string>& lines, const std::string& section,
                     const std::string& key, std::string& line) {
    enum { SeekSection, InSection, Found } state = section.empty() ? InSection : SeekSection;
    for (const std::string& text : lines) {
        if (state == Found) break;
        line = text;
        if (text.empty() || text[0] == ';') continue;
        if (state == SeekSection) {
            if (text[0] == '[' && CompareNoCase(SectionName(text), section) == 0) state = InSection;
            continue;
        }
        if (text[0] == '[') return false;
        size_t equals = text.find('=');
        if (equals != std::string::npos &&
            CompareNoCase(Trim(text.substr(0, equals), kListBlanks), key) == 0) {
            state = Found;
        }
    }
    return state == Found;
}

inline std::string GetValue(const std::vector<std::string>& lines, const std::string& section,
                            const std::string& key, const std::string& defaultValue) {
    std::string line;
    if (!FindLine(lines, section, key, line)) return defaultValue;
    return Trim(line.substr(line.find('=') + 1), kListBlanks);
}

// ---------------------------------------------------------------------------
// Paths on POSIX: "/" and "\" both separate; a colon ends a drive.

inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }

inline int LastSeparator(const std::string& text) {
    for (size_t i = text.size(); i > 0; --i) {
        if (IsSeparator(text[i - 1])) return static_cast<int>(i - 1);
    }
    return -1;
}

inline std::string GetDirectory(const std::string& text) {
    int separator = LastSeparator(text);
    if (separator >= 0) return text.substr(0, static_cast<size_t>(separator));
    size_t colon = text.find(':');
    return colon == std::string::npos ? std::string() : text.substr(0, colon);
}

inline std::string GetFileName(const std::string& text) {
    int separator = LastSeparator(text);
    if (separator >= 0) return text.substr(static_cast<size_t>(separator) + 1);
    size_t colon = text.find(':');
    return colon == std::string::npos ? text : text.substr(colon + 1);
}

struct Split {
    std::string drive, directory, name, extension;
};

inline Split SplitPath(const std::string& text) {
    Split split;
    std::string rest = Trim(text, kListBlanks);
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        split.drive = rest.substr(0, colon + 1);
        rest = rest.substr(colon + 1);
    } else if (rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
        int seen = 0;
        for (size_t i = 0; i < rest.size(); ++i) {
            if (IsSeparator(rest[i]) && ++seen == 4) {
                split.drive = rest.substr(0, i + 1);
                rest = rest.substr(i + 1);
                break;
            }
        }
    }
    int separator = LastSeparator(rest);
    if (separator >= 0) {
        split.directory = rest.substr(0, static_cast<size_t>(separator) + 1);
        rest = rest.substr(static_cast<size_t>(separator) + 1);
    }
    size_t dot = rest.rfind('.');
    if (dot != std::string::npos && dot + 4 >= rest.size()) {
        split.name = rest.substr(0, dot);
        split.extension = rest.substr(dot);
    } else {
        split.name = rest;
    }
    return split;
}

// Joins with one separator: the one the text already uses last, else "/".
inline std::string Append(const std::string& text, const std::string& component) {
    if (text.empty()) return component;
    if (component.empty()) return text;
    const bool ends = IsSeparator(text.back());
    const bool starts = IsSeparator(component[0]);
    if (!ends && !starts) {
        int last = LastSeparator(text);
        return text + (last >= 0 ? text[static_cast<size_t>(last)] : '/') + component;
    }
    if (ends && starts) return text.substr(0, text.size() - 1) + component;
    return text + component;
}

// The absolute form: "\" made "/", a relative path put under the current
// directory, "." and ".." folded as text (".." at the root stays at the root),
// a trailing separator kept; empty when it would not fit in limit bytes with
// its NUL.
inline std::string FullPath(const std::string& text, const std::string& current, size_t limit) {
    if (text.empty()) return std::string();
    std::string path = text;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path[0] != '/') path = current + "/" + path;
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::string full;
    for (const std::string& part : parts) full += "/" + part;
    if (full.empty() || path.back() == '/') full += "/";
    return full.size() + 1 > limit ? std::string() : full;
}

// ---------------------------------------------------------------------------
// The command-line parser: an option table and the parse of an argument vector

// The text that stands for "no list" in a declaration.
inline const std::string kNoList = "%EmptyList%";

struct OptionRecord {
    std::string name, displayName, value;
    List requires, excludes;
    bool present = false, required = false, emptyAllowed = false;
    int kind = 0;
};

inline std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return text;
}

inline bool EndsWithBlank(const std::string& text) { return !text.empty() && text.back() == ' '; }

class CommandLineModel {
public:
    std::vector<OptionRecord> records;
    bool hasError = false;
    int code = 0;
    std::string errorName, errorOthers;

    void Declare(const std::string& name, const std::string& displayName, int kind,
                 const std::string& requires, const std::string& excludes, bool required,
                 bool emptyAllowed) {
        OptionRecord r;
        r.name = name;
        r.displayName = displayName;
        if (requires != kNoList) AddItem(r.requires, requires, ",");
        if (excludes != kNoList) AddItem(r.excludes, excludes, ",");
        r.required = required;
        r.emptyAllowed = emptyAllowed;
        r.kind = kind;
        records.push_back(r);
    }

    int Parse(const std::vector<std::string>& args, bool caseSensitive, bool validate) {
        caseSensitive_ = caseSensitive;
        size_t i = 1;
        while (i < args.size()) {
            bool matched = false;
            for (OptionRecord& r : records) {
                if (r.present) continue;
                if (r.kind < 1 || r.kind > 5) return 1;
                std::string compared;
                bool hit;
                if (r.kind != 1 && r.name.empty()) {
                    hit = !IsOptionToken(args[i]);
                } else {
                    hit = Begins(r, args[i], compared);
                }
                if (!hit) continue;
                r.present = true;
                matched = true;
                i = r.kind == 1 ? i + 1 : TakeValue(r, compared, args, i);
                break;
            }
            if (!matched) {
                RecordError(1, args[i], "");
                return 1;
            }
        }
        return validate && Validate() ? 1 : 0;
    }

    const OptionRecord* Lookup(const std::string& name, int n) const {
        int remaining = n > 1 ? n : 1;
        for (const OptionRecord& r : records) {
            const bool found = r.name == name || (!r.displayName.empty() && r.displayName == name);
            if (found && --remaining == 0) return &r;
        }
        return nullptr;
    }

private:
    bool Begins(const OptionRecord& r, const std::string& argument, std::string& compared) const {
        compared = caseSensitive_ ? r.name : Upper(r.name);
        std::string text = caseSensitive_ ? argument : Upper(argument);
        if (EndsWithBlank(compared)) text += ' ';
        if (r.kind == 1) return text == compared;
        return r.kind >= 2 && r.kind <= 5 && StartsWith(text, compared);
    }

    bool IsOptionToken(const std::string& argument) const {
        for (const OptionRecord& r : records) {
            std::string compared;
            if (!r.present && !r.name.empty() && Begins(r, argument, compared)) return true;
        }
        return false;
    }

    size_t TakeValue(OptionRecord& r, const std::string& compared,
                     const std::vector<std::string>& args, size_t i) const {
        r.value = compared.size() < args[i].size() ? args[i].substr(compared.size()) : "";
        ++i;
        if (i < args.size() && EndsWithBlank(compared) && !IsOptionToken(args[i])) {
            r.value += args[i];
            ++i;
        }
        if (r.kind == 4) {
            while (i < args.size() && !IsOptionToken(args[i])) {
                r.value += " " + args[i];
                ++i;
            }
        }
        return i;
    }

    void RecordError(int errorCode, const std::string& name, const std::string& others) {
        if (hasError) return;
        hasError = true;
        code = errorCode;
        errorName = name;
        errorOthers = others;
    }

    bool Validate() {
        for (OptionRecord& r : records) {
            int error = 0;
            std::string others;
            if (!r.present) {
                if (r.required) error = 2;
            } else if (r.value.empty() && !r.emptyAllowed) {
                error = 3;
            } else if (r.kind == 2 && !r.value.empty() &&
                       r.value != std::to_string(ToInt(r.value))) {
                error = 4;
            } else if (Relations(r, true, others)) {
                error = 5;
            } else if (Relations(r, false, others)) {
                error = 6;
            }
            if (error != 0) {
                RecordError(error, r.displayName.empty() ? r.name : r.displayName, others);
                return true;
            }
        }
        return false;
    }

    bool Relations(const OptionRecord& self, bool excludesMode, std::string& others) const {
        const List& list = excludesMode ? self.excludes : self.requires;
        const int count = GetItemCount(list, ",");
        bool error = !excludesMode && count >= 1;
        for (int k = 0; k < count; ++k) {
            std::string item = GetItem(list, k, ",");
            int n = 1;
            const int tilde = FindNth(item, "~", 0);
            if (tilde != -1) {
                n = ToInt(item.substr(static_cast<size_t>(tilde) + 1));
                item = item.substr(0, static_cast<size_t>(tilde));
            }
            if (!Present(self, item, n)) continue;
            if (excludesMode) {
                others = item;
                return true;
            }
            return false;
        }
        if (error) others = list.text;
        return error;
    }

    bool Present(const OptionRecord& self, const std::string& item, int n) const {
        if (n < 1) return false;
        for (const OptionRecord& r : records) {
            if (!r.present) continue;
            if (n > 1) {
                --n;
                continue;
            }
            if (&r == &self) continue;
            if (r.displayName.empty() ? r.name == item : r.displayName == item) return true;
        }
        return false;
    }

    bool caseSensitive_ = false;
};

}  // namespace ref
