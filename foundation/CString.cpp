// CString: the tool's one string type, with its delimited-list operations.
//
// The text always ends in a NUL. An empty string that owns no buffer points at
// one shared, constant-initialised NUL byte, so construction and moves never
// allocate. Strings keep spare capacity, so repeated appends are amortised.
// Every search scans the text once (memchr for one character, a Knuth-Morris-
// Pratt automaton for longer patterns), so no operation here is quadratic in
// the length of its text.
#include "CString.h"

#include "AsciiText.h"
#include "ErrorHandler.h"
#include "Platform.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <utility>

namespace {

// The text of every empty string that has no buffer of its own. A string gets
// a buffer before it stores its first character; GetBuffer(0) may hand this
// out, and its caller may at most store the NUL again.
char sharedEmptyText[1] = {'\0'};

// The longest text whose buffer size (text and NUL) still fits in 32 bits.
const unsigned kMaxLength = 0xFFFFFFFEu;

void FreeText(char* text) {
    if (text != sharedEmptyText) delete[] text;
}

unsigned CheckedLength(size_t length) {
    if (length > kMaxLength) ReportAllocationFailure();
    return static_cast<unsigned>(length);
}

unsigned TextLength(const char* text) {
    return text != nullptr ? CheckedLength(std::strlen(text)) : 0;
}

// The text of a string as it stands: while a GetBuffer buffer is outstanding
// its caller may have written a text of another length into it, which
// GetLength measures.
std::string_view ViewOf(const CString& s) { return {s.GetCharString(), s.GetLength()}; }

// The length of a view whose length is known to fit (a string's text, or a
// view checked with CheckedLength).
unsigned SizeOf(std::string_view text) { return static_cast<unsigned>(text.size()); }

// Byte order, bytes unsigned (as memcmp and strcmp compare them).
bool ByteLess(const std::string_view& a, const std::string_view& b) {
    const size_t common = std::min(a.size(), b.size());
    const int order = common != 0 ? std::memcmp(a.data(), b.data(), common) : 0;
    return order != 0 ? order < 0 : a.size() < b.size();
}

// A byte of a path as the path order compares it: every separator of the
// platform counts as "\", so that "/" on POSIX sorts where "\" sorts on Windows.
unsigned char PathByte(char c) {
    return static_cast<unsigned char>(platform::IsSeparator(c) ? '\\' : c);
}

// Byte order with separators read as "\"; only where the bytes differ is a
// separator looked at. Sorted paths share long prefixes: those are passed over
// eight bytes at a time.
bool PathLess(const std::string_view& a, const std::string_view& b) {
    const size_t common = std::min(a.size(), b.size());
    size_t i = 0;
    for (; i + 8 <= common; i += 8) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) break;
    }
    for (; i < common; ++i) {
        if (a[i] == b[i]) continue;
        const unsigned char x = PathByte(a[i]);
        const unsigned char y = PathByte(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

using ItemOrder = bool (*)(const std::string_view&, const std::string_view&);

// A set of characters, looked up by byte.
class ByteSet {
public:
    explicit ByteSet(std::string_view characters) {
        for (char c : characters) members_[static_cast<unsigned char>(c)] = true;
    }
    bool Contains(char c) const { return members_[static_cast<unsigned char>(c)]; }

private:
    bool members_[256] = {};
};

// Reports the matches of a pattern in a text from left to right, in time linear
// in both. Overlapping: every position where the pattern occurs (a search that
// resumes one character after the start of each match). Otherwise: the search
// resumes at the end of each match. Both lengths fit in unsigned.
class MatchScanner {
public:
    MatchScanner(std::string_view text, std::string_view pattern, bool overlapping)
        : text_(text.data()),
          pattern_(pattern.data()),
          textSize_(SizeOf(text)),
          patternSize_(SizeOf(pattern)),
          overlapping_(overlapping) {
        if (patternSize_ > 1 && patternSize_ <= textSize_) BuildFailureTable();
    }

    bool Next(unsigned& position) {
        if (patternSize_ == 0 || patternSize_ > textSize_) return false;
        if (patternSize_ == 1) return NextCharacter(position);
        return NextPattern(position);
    }

private:
    void BuildFailureTable() {
        failure_.assign(patternSize_, 0);
        unsigned k = 0;
        for (unsigned i = 1; i < patternSize_; ++i) {
            while (k > 0 && pattern_[i] != pattern_[k]) k = failure_[k - 1];
            if (pattern_[i] == pattern_[k]) ++k;
            failure_[i] = k;
        }
    }

    bool NextCharacter(unsigned& position) {
        if (next_ >= textSize_) return false;
        const void* hit = std::memchr(text_ + next_, pattern_[0], textSize_ - next_);
        if (hit == nullptr) {
            next_ = textSize_;
            return false;
        }
        position = static_cast<unsigned>(static_cast<const char*>(hit) - text_);
        next_ = position + 1;
        return true;
    }

    bool NextPattern(unsigned& position) {
        const unsigned m = patternSize_;
        while (next_ < textSize_) {
            if (matched_ == 0 && !SkipToFirstCharacter()) return false;
            const char c = text_[next_++];
            while (matched_ > 0 && c != pattern_[matched_]) matched_ = failure_[matched_ - 1];
            if (c == pattern_[matched_]) ++matched_;
            if (matched_ == m) {
                position = next_ - m;
                matched_ = overlapping_ ? failure_[m - 1] : 0;
                return true;
            }
        }
        return false;
    }

    // Moves to the next occurrence of the pattern's first character.
    bool SkipToFirstCharacter() {
        const void* hit = std::memchr(text_ + next_, pattern_[0], textSize_ - next_);
        if (hit == nullptr) {
            next_ = textSize_;
            return false;
        }
        next_ = static_cast<unsigned>(static_cast<const char*>(hit) - text_);
        return true;
    }

    // The texts as their first characters and unsigned lengths, the unit the
    // scanner counts in: its loops then need no conversions (with string_view
    // members a match took a few percent more instructions).
    const char* text_;
    const char* pattern_;
    unsigned textSize_;
    unsigned patternSize_;
    bool overlapping_;
    unsigned next_ = 0;     // next character of the text to read
    unsigned matched_ = 0;  // characters of the pattern matched so far
    std::vector<unsigned> failure_;
};

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi/atol: white space, an optional sign, digits up to the first other
// character; no digits gives 0. Computed in 32 bits: values outside the range
// are clamped, so their decimal text never reads back unchanged.
int32_t ParseInt32(const char* text, const char* end) {
    while (text < end && IsCSpace(*text)) ++text;
    bool negative = false;
    if (text < end && (*text == '+' || *text == '-')) negative = (*text++ == '-');
    const long long limit = 2147483648LL;
    long long value = 0;
    for (; text < end && *text >= '0' && *text <= '9'; ++text) {
        if (value <= limit) value = value * 10 + (*text - '0');
    }
    if (negative) return value >= limit ? INT32_MIN : static_cast<int32_t>(-value);
    return value >= limit ? INT32_MAX : static_cast<int32_t>(value);
}

// The capacity to grow to when a text of the needed length does not fit.
unsigned GrowCapacity(unsigned current, unsigned needed) {
    unsigned long long grown = static_cast<unsigned long long>(current) + current / 2;
    grown = std::max<unsigned long long>(std::max<unsigned long long>(grown, needed), 15);
    return static_cast<unsigned>(std::min<unsigned long long>(grown, kMaxLength));
}

// The positions of the delimiter in text, in order (memchr: lists of paths are
// long, and their delimiters far apart).
template <class OnMatch>
void ForEachDelimiter(std::string_view text, char delimiter, OnMatch onMatch) {
    const char* const end = text.data() + text.size();
    for (const char* at = text.data(); at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, delimiter, static_cast<size_t>(end - at)));
        if (at == nullptr) return;
        onMatch(at);
    }
}

// ItemOf for a one-character delimiter, whose matches cannot overlap: the
// piece of list after the index-th delimiter (after the last one for a negative
// index), empty when there are fewer.
std::string_view ItemAtCharacter(std::string_view list, int index, char delimiter) {
    std::size_t start = 0;
    if (index > 0) {
        for (int count = 0; count < index; ++count) {
            const std::size_t at = list.find(delimiter, start);
            if (at == std::string_view::npos) return std::string_view();
            start = at + 1;
        }
    } else if (index < 0) {
        const std::size_t at = list.rfind(delimiter);
        if (at == std::string_view::npos) return std::string_view();
        start = at + 1;
    }
    return list.substr(start, list.find(delimiter, start) - start);
}

// The pieces of a text between the occurrences of one character.
std::vector<std::string_view> SplitAt(std::string_view text, char delimiter) {
    size_t count = 0;
    ForEachDelimiter(text, delimiter, [&](const char*) { ++count; });
    std::vector<std::string_view> pieces;
    pieces.reserve(count + 1);
    const char* start = text.data();
    ForEachDelimiter(text, delimiter, [&](const char* at) {
        pieces.emplace_back(start, static_cast<size_t>(at - start));
        start = at + 1;
    });
    pieces.emplace_back(start, static_cast<size_t>(text.data() + text.size() - start));
    return pieces;
}

bool HasEdgeBlank(std::string_view item) {
    return !item.empty() && (IsBlankAscii(item.front()) || IsBlankAscii(item.back()));
}

// How an item of a list reads back: GetItem trims the list as a whole, which
// with a delimiter that is not a blank only touches the first and last items.
std::string_view ReadItem(const std::vector<std::string_view>& items, size_t index) {
    std::string_view item = items[index];
    if (index == 0) item = TrimLeftBlanksAscii(item);
    if (index + 1 == items.size()) item = TrimRightBlanksAscii(item);
    return item;
}

// The insertion sort of the list operations on a list split at a one-character
// delimiter that is not a blank, for items with blanks at their edges: each
// item goes before the first item that reads back greater, and such an insert
// rebuilds the list from its items as read (so the outer items lose their edge
// blanks), while an item that is greater than all is appended as it is.
// Equal to a stable sort when no item has edge blanks.
std::vector<std::string_view> InsertionSortOfReads(const std::vector<std::string_view>& items,
                                                   ItemOrder less) {
    std::vector<std::string_view> sorted;
    sorted.reserve(items.size());
    for (std::string_view item : items) {
        size_t j = 0;
        while (j < sorted.size() && !less(item, ReadItem(sorted, j))) ++j;
        if (j == sorted.size()) {
            sorted.push_back(item);
            continue;
        }
        sorted.front() = ReadItem(sorted, 0);
        sorted.back() = ReadItem(sorted, sorted.size() - 1);
        sorted.insert(sorted.begin() + static_cast<std::ptrdiff_t>(j), item);
    }
    return sorted;
}

// The insertion sort run step by step through GetItems, InsertItem and AddItem,
// for delimiters that are longer than one character or are blanks themselves:
// there the whole-list trim and overlapping matches decide what an item reads.
CString SortByInsertion(const CString& list, const CString& delimiter, ItemOrder less) {
    const CString copy(list);
    CString sorted;
    for (const CString& item : copy.GetItems(delimiter)) {
        bool inserted = false;
        for (const CString& other : sorted.GetItems(delimiter)) {
            if (less(ViewOf(item), ViewOf(other))) {
                sorted.InsertItem(item, other, delimiter);
                inserted = true;
                break;
            }
        }
        if (!inserted) sorted.AddItem(item, delimiter);
    }
    return sorted;
}

// Merges two adjacent runs stably. The items of the first run not greater than
// the second's first item, and those of the second not less than the first's
// last, are in place already: only what lies between is merged.
void MergeRuns(std::vector<std::string_view>::iterator first,
               std::vector<std::string_view>::iterator middle,
               std::vector<std::string_view>::iterator last, ItemOrder less) {
    first = std::upper_bound(first, middle, *middle, less);
    last = std::lower_bound(middle, last, *(middle - 1), less);
    if (first != middle && middle != last) std::inplace_merge(first, middle, last, less);
}

// A stable sort that merges the runs already in order: the sets a walk finds
// come in listing order, which is the path order but for a handful of places,
// so this takes about n comparisons where a merge sort takes n log n. False
// when the items were in order already.
bool SortStablyByRuns(std::vector<std::string_view>& items, ItemOrder less) {
    using Position = std::vector<std::string_view>::iterator;
    std::vector<Position> starts{items.begin()};  // of each run, then the end
    for (Position at = items.begin(); at != items.end();) {
        Position next = at + 1;
        while (next != items.end() && !less(*next, *(next - 1))) ++next;
        starts.push_back(next);
        at = next;
    }
    if (starts.size() <= 2) return false;
    while (starts.size() > 2) {
        const std::size_t runs = starts.size() - 1;
        std::vector<Position> merged{starts[0]};
        for (std::size_t k = 0; k + 2 <= runs; k += 2) {
            MergeRuns(starts[k], starts[k + 1], starts[k + 2], less);
            merged.push_back(starts[k + 2]);
        }
        if (runs % 2 == 1) merged.push_back(starts[runs]);
        starts.swap(merged);
    }
    return true;
}

// Sorts a list in the order given, as SortItems describes.
void SortListBy(CString& self, const CString& delimiter, ItemOrder less) {
    const std::string_view list = ViewOf(self);
    if (self.IsLocked() || list.empty()) return;
    const std::string_view separator = ViewOf(delimiter);
    if (separator.size() != 1 || IsBlankAscii(separator[0])) {
        CString sorted = SortByInsertion(self, delimiter, less);
        if (!sorted.IsEmpty()) self = std::move(sorted);
        return;
    }
    const std::string_view trimmed = TrimBlanksAscii(list);
    if (trimmed.empty()) return;  // one item that reads back empty
    std::vector<std::string_view> items = SplitAt(trimmed, separator[0]);
    if (std::any_of(items.begin(), items.end(), HasEdgeBlank)) {
        items = InsertionSortOfReads(items, less);
    } else if (!SortStablyByRuns(items, less)) {
        // In order already: the list as the items read back, without a copy
        // when nothing is trimmed.
        if (trimmed.size() == list.size()) return;
        CString kept;
        kept.Append(trimmed.data(), SizeOf(trimmed));
        self = std::move(kept);
        return;
    }
    CString sorted;
    sorted.Reserve(SizeOf(trimmed));
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) sorted.Append(separator.data(), 1);
        sorted.Append(items[i].data(), SizeOf(items[i]));
    }
    self = std::move(sorted);
}

}  // namespace

// ---- Construction, assignment, destruction ----

CString::CString()
    : text_(sharedEmptyText), length_(0), capacity_(0), lockedLength_(0), emptyItem_(false) {}

CString::CString(const char* text) : CString() {
    if (text != nullptr) Assign(text, TextLength(text));
}

CString::CString(std::string_view text)
    : CString(text.data(), static_cast<unsigned>(std::min<std::size_t>(text.size(), UINT32_MAX))) {}

CString::CString(const char* text, unsigned length) : CString() {
    if (text != nullptr) {
        const void* nul = std::memchr(text, '\0', length);
        Assign(text, nul ? static_cast<unsigned>(static_cast<const char*>(nul) - text) : length);
    }
}

CString::CString(const CString& other) : CString() {
    const std::string_view view = ViewOf(other);
    Assign(view.data(), SizeOf(view));
}

CString::CString(CString&& other) noexcept : CString() {
    if (other.IsLocked()) {
        const std::string_view view = ViewOf(other);
        Assign(view.data(), SizeOf(view));
        return;
    }
    std::swap(text_, other.text_);
    std::swap(length_, other.length_);
    std::swap(capacity_, other.capacity_);
    other.emptyItem_ = false;
}

CString::CString(char ch, unsigned count) : CString() {
    if (ch == '\0' || count == 0) return;
    Reserve(count);
    std::memset(text_, ch, count);
    text_[count] = '\0';
    length_ = count;
}

CString::CString(int value) : CString() {
    char digits[24];
    Assign(digits, static_cast<unsigned>(std::to_chars(digits, digits + 24, value).ptr - digits));
}

CString::CString(long value) : CString() {
    char digits[24];
    Assign(digits, static_cast<unsigned>(std::to_chars(digits, digits + 24, value).ptr - digits));
}

CString::~CString() { FreeText(text_); }

CString& CString::operator=(const char* text) {
    if (text == nullptr) {
        Assign("", 0);
    } else {
        Assign(text, TextLength(text));
    }
    return *this;
}

CString& CString::operator=(const CString& other) {
    const std::string_view view = ViewOf(other);
    Assign(view.data(), SizeOf(view));
    return *this;
}

CString& CString::operator=(CString&& other) noexcept {
    if (&other == this || other.IsLocked()) return *this = static_cast<const CString&>(other);
    if (IsLocked()) return *this;
    FreeText(text_);
    text_ = other.text_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    emptyItem_ = false;
    other.text_ = sharedEmptyText;
    other.length_ = 0;
    other.capacity_ = 0;
    other.emptyItem_ = false;
    return *this;
}

void CString::Empty() { Assign("", 0); }

// Replaces the text by a copy of the given one, which may lie inside this
// string's own buffer. A string only keeps a buffer reused this way while it is
// not much larger than the new text. The empty-item flag describes an empty
// text, so it never survives an assignment.
void CString::Assign(const char* text, unsigned length) {
    if (IsLocked()) return;
    emptyItem_ = false;
    if (length == 0) {
        FreeText(text_);
        text_ = sharedEmptyText;
        length_ = 0;
        capacity_ = 0;
        return;
    }
    const bool reuse =
        text_ != sharedEmptyText && length <= capacity_ && capacity_ - length <= length + 64;
    if (reuse) {
        std::memmove(text_, text, length);
    } else {
        char* buffer = CreateCharString(length);
        std::memcpy(buffer, text, length);
        FreeText(text_);
        text_ = buffer;
        capacity_ = length;
    }
    text_[length] = '\0';
    length_ = length;
}

// Appends a text, which may lie inside this string's own buffer: the old
// buffer is freed only after the added characters have been copied.
void CString::Append(const char* text, unsigned length) {
    if (IsLocked() || length == 0) return;
    if (length > kMaxLength - length_) ReportAllocationFailure();
    const unsigned needed = length_ + length;
    if (text_ == sharedEmptyText || needed > capacity_) {
        const unsigned capacity = GrowCapacity(capacity_, needed);
        char* buffer = CreateCharString(capacity);
        if (length_ > 0) std::memcpy(buffer, text_, length_);
        std::memcpy(buffer + length_, text, length);
        FreeText(text_);
        text_ = buffer;
        capacity_ = capacity;
    } else {
        std::memmove(text_ + length_, text, length);
    }
    length_ = needed;
    text_[length_] = '\0';
    emptyItem_ = false;
}

// Makes room for at least capacity characters, keeping the text.
void CString::Reserve(unsigned capacity) {
    if (IsLocked() || capacity == 0) return;
    if (text_ != sharedEmptyText && capacity <= capacity_) return;
    char* buffer = CreateCharString(capacity);
    if (length_ > 0) std::memcpy(buffer, text_, length_);
    buffer[length_] = '\0';
    FreeText(text_);
    text_ = buffer;
    capacity_ = capacity;
}

// ---- Access ----

char CString::GetAt(unsigned index) const {
    const std::string_view view = ViewOf(*this);
    return index < view.size() ? view[index] : '\0';
}

int32_t CString::ToInt() const { return IsLocked() ? 0 : ToInt(View()); }

int32_t CString::ToLong() const { return IsLocked() ? 0 : ToInt(View()); }

int32_t CString::ToInt(std::string_view text) {
    return ParseInt32(text.data(), text.data() + text.size());
}

// ---- Comparison ----

bool CString::operator==(const CString& other) const { return ViewOf(*this) == ViewOf(other); }

// The view holds no NUL, so a match of all its characters leaves text[size] readable.
bool CString::operator==(const char* text) const {
    if (text == nullptr) return false;
    const std::string_view view = ViewOf(*this);
    return std::strncmp(view.data(), text, view.size()) == 0 && text[view.size()] == '\0';
}

bool CString::operator!=(const char* text) const { return !(*this == text); }

int CString::Compare(const CString& other) const {
    const int order = ViewOf(*this).compare(ViewOf(other));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// _stricmp: the difference of the first folded bytes that differ, where the
// end of the shorter text counts as a NUL.
int CString::CompareNoCase(const CString& other) const {
    const std::string_view a = ViewOf(*this);
    const std::string_view b = ViewOf(other);
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0;; ++i) {
        const int ca = i < a.size() ? static_cast<unsigned char>(ToLowerAscii(a[i])) : 0;
        const int cb = i < b.size() ? static_cast<unsigned char>(ToLowerAscii(b[i])) : 0;
        if (ca != cb || i >= common) return ca - cb;
    }
}

bool CString::EqualsNoCase(std::string_view a, std::string_view b) {
    return EqualsNoCaseAscii(a, b);
}

bool CString::StartsWith(const CString& prefix) const {
    const std::string_view start = ViewOf(prefix);
    return !start.empty() && ViewOf(*this).substr(0, start.size()) == start;
}

bool CString::EndsWith(const CString& suffix) const {
    const std::string_view text = ViewOf(*this);
    const std::string_view end = ViewOf(suffix);
    return !end.empty() && end.size() <= text.size() &&
           text.substr(text.size() - end.size()) == end;
}

// ---- Search ----

int CString::Find(const CString& sub) const {
    MatchScanner scanner(ViewOf(*this), ViewOf(sub), true);
    unsigned position = 0;
    return scanner.Next(position) ? static_cast<int>(position) : -1;
}

int CString::FindNth(const CString& sub, unsigned n) const {
    MatchScanner scanner(ViewOf(*this), ViewOf(sub), true);
    unsigned position = 0;
    unsigned count = 0;
    int last = -1;
    while (scanner.Next(position)) {
        last = static_cast<int>(position);
        if (++count == n) return last;
    }
    return n == 0 ? last : -1;
}

// ---- Building new strings ----

CString CString::Left(int count) const {
    const std::string_view view = ViewOf(*this);
    CString result;
    if (count == 0 || view.empty()) return result;
    const bool whole = count < 0 || static_cast<unsigned>(count) >= view.size();
    result.Assign(view.data(), whole ? SizeOf(view) : static_cast<unsigned>(count));
    return result;
}

CString CString::Mid(int start, unsigned count) const {
    const std::string_view view = ViewOf(*this);
    CString result;
    const unsigned from = start < 0 ? 0 : static_cast<unsigned>(start);
    if (from >= view.size()) return result;
    const unsigned rest = SizeOf(view) - from;
    result.Assign(view.data() + from, (count != 0 && count < rest) ? count : rest);
    return result;
}

CString CString::Right(unsigned count) const {
    const std::string_view view = ViewOf(*this);
    CString result;
    if (count == 0) return result;
    const unsigned length = std::min(count, SizeOf(view));
    result.Assign(view.data() + view.size() - length, length);
    return result;
}

// One buffer of the final size: concatenation builds every message line.
CString CString::Concatenate(const char* left, unsigned leftLength, const char* right,
                             unsigned rightLength) {
    CString result;
    if (rightLength > kMaxLength - leftLength) ReportAllocationFailure();
    if (leftLength + rightLength == 0) return result;
    result.Reserve(leftLength + rightLength);
    result.Append(left, leftLength);
    result.Append(right, rightLength);
    return result;
}

CString operator+(const CString& left, const CString& right) {
    const std::string_view a = ViewOf(left);
    const std::string_view b = ViewOf(right);
    return CString::Concatenate(a.data(), SizeOf(a), b.data(), SizeOf(b));
}

CString operator+(const CString& left, const char* right) {
    const std::string_view a = ViewOf(left);
    const char* b = right ? right : "";
    return CString::Concatenate(a.data(), SizeOf(a), b, TextLength(b));
}

CString operator+(const char* left, const CString& right) {
    const char* a = left ? left : "";
    const std::string_view b = ViewOf(right);
    return CString::Concatenate(a, TextLength(a), b.data(), SizeOf(b));
}

// ---- Changing in place ----

CString& CString::operator+=(const char* text) {
    if (text != nullptr) Append(text, TextLength(text));
    return *this;
}

CString& CString::operator+=(const CString& other) {
    const std::string_view view = ViewOf(other);
    Append(view.data(), SizeOf(view));
    return *this;
}

CString& CString::operator+=(char ch) {
    if (ch != '\0') Append(&ch, 1);
    return *this;
}

CString CString::MakeUpper() {
    if (IsLocked()) return CString();
    for (unsigned i = 0; i < length_; ++i) text_[i] = ToUpperAscii(text_[i]);
    return *this;
}

CString CString::MakeUpper(unsigned index) {
    if (IsLocked() || index >= length_) return CString();
    text_[index] = ToUpperAscii(text_[index]);
    return *this;
}

CString CString::MakeLower() {
    if (IsLocked()) return CString();
    for (unsigned i = 0; i < length_; ++i) text_[i] = ToLowerAscii(text_[i]);
    return *this;
}

// ---- Buffer access and memory ----

unsigned CString::LockedTextLength() const {
    const void* nul = std::memchr(text_, '\0', capacity_);
    return nul ? static_cast<unsigned>(static_cast<const char*>(nul) - text_) : capacity_;
}

char* CString::GetBuffer(unsigned capacity) {
    if (capacity == 0) {
        if (IsLocked()) {
            length_ = LockedTextLength();
            text_[length_] = '\0';  // a writer that overwrote the last byte
            lockedLength_ = 0;
            if (length_ > 0) emptyItem_ = false;
        } else {
            Assign("", 0);
        }
        return text_;
    }
    const unsigned kept = std::min(capacity, GetLength());
    char* buffer = CreateCharString(capacity);
    std::memcpy(buffer, text_, kept);
    buffer[kept] = '\0';
    buffer[capacity] = '\0';
    FreeText(text_);
    text_ = buffer;
    length_ = kept;
    capacity_ = capacity;
    lockedLength_ = capacity;
    return text_;
}

bool CString::ReleaseBuffer() {
    const bool wasLocked = IsLocked();
    if (text_ != sharedEmptyText) text_[capacity_] = '\0';  // a writer that left out its NUL
    lockedLength_ = 0;
    const unsigned length = TextLength(text_);
    if (length > 0) {
        if (length != capacity_) {
            char* buffer = CreateCharString(length);
            std::memcpy(buffer, text_, length + 1);
            FreeText(text_);
            text_ = buffer;
            capacity_ = length;
        }
        length_ = length;
        emptyItem_ = false;  // the flag describes an empty text
    } else if (!wasLocked) {
        Assign("", 0);
    } else {
        length_ = 0;
    }
    return true;
}

char* CString::CreateCharString(unsigned length) {
    if (length > kMaxLength) ReportAllocationFailure();
    char* buffer = new (std::nothrow) char[static_cast<size_t>(length) + 1];
    if (buffer == nullptr) ReportAllocationFailure();
    buffer[0] = '\0';
    return buffer;
}

char* CString::CopyCharString() const {
    const std::string_view view = ViewOf(*this);
    char* copy = CreateCharString(SizeOf(view));
    std::memcpy(copy, view.data(), view.size());
    copy[view.size()] = '\0';
    return copy;
}

std::ostream& operator<<(std::ostream& stream, const CString& text) {
    const std::string_view view = ViewOf(text);
    if (!view.empty()) stream.write(view.data(), static_cast<std::streamsize>(view.size()));
    return stream;
}

// ---- Delimited lists ----

void CString::AddItem(const CString& item, const CString& delimiter) {
    AddItem(item.View(), delimiter);
}

void CString::AddItem(std::string_view item, const CString& delimiter) {
    if (IsLocked()) return;
    const bool itemInside = item.data() >= text_ && item.data() < text_ + length_ + 1;
    if (itemInside || &delimiter == this) {
        // Appending the delimiter may move this text: work on copies.
        const std::string itemCopy(item);
        const CString delimiterCopy(delimiter);
        AddItem(std::string_view(itemCopy), delimiterCopy);
        return;
    }
    const bool wasFlagged = emptyItem_;
    if (length_ > 0 || wasFlagged) *this += delimiter;
    if (wasFlagged) {
        emptyItem_ = false;
    } else if (length_ == 0 && item.empty()) {
        emptyItem_ = true;
    }
    Append(item.data(), static_cast<unsigned>(item.size()));
}

int CString::GetItemCount(const CString& delimiter) const {
    if (HasEmptyItemFlag()) return 1;
    if (IsEmpty() || delimiter.IsEmpty()) return 0;
    return CountOccurrences(delimiter) + 1;
}

// Item index of the list trimmed as a whole: index 0 ends at the first
// delimiter; index k > 0 starts after the k-th (overlapping) delimiter match
// and a negative index after the last one; an item ends at the first match
// that starts at or after its beginning.
CString CString::GetItem(int index, const CString& delimiter) const {
    const std::string_view item = ItemOf(View(), index, delimiter.View());
    return CString(item.data(), static_cast<unsigned>(item.size()));
}

std::string_view CString::ItemOf(std::string_view text, int index, std::string_view delimiter) {
    CheckedLength(text.size());
    CheckedLength(delimiter.size());
    const std::string_view list = TrimBlanksAscii(text);
    const std::string_view separator = delimiter;
    if (separator.empty() || list.empty()) return std::string_view();
    if (separator.size() == 1) return ItemAtCharacter(list, index, separator[0]);
    MatchScanner scanner(list, separator, true);
    unsigned position = 0;
    unsigned start = 0;
    if (index > 0) {
        int count = 0;
        while (count < index && scanner.Next(position)) ++count;
        if (count < index) return std::string_view();
        start = position + SizeOf(separator);
    } else if (index < 0) {
        bool found = false;
        while (scanner.Next(position)) found = true;
        if (!found) return std::string_view();
        start = position + SizeOf(separator);
    }
    unsigned end = SizeOf(list);
    while (scanner.Next(position)) {
        if (position >= start) {
            end = position;
            break;
        }
    }
    return std::string_view(list.data() + start, end - start);
}

std::vector<std::string_view> CString::GetItemViews(const CString& delimiter) const {
    const std::string_view separator = ViewOf(delimiter);
    // A one-character delimiter that trimming cannot touch: the items are the
    // pieces of the trimmed list, found in one pass.
    if (separator.size() == 1 && !IsBlankAscii(separator[0]) && !HasEmptyItemFlag()) {
        if (IsEmpty()) return {};
        return SplitAt(TrimBlanksAscii(ViewOf(*this)), separator[0]);
    }
    const int count = GetItemCount(delimiter);
    std::vector<std::string_view> items(static_cast<size_t>(std::max(count, 0)));
    const std::string_view list = TrimBlanksAscii(ViewOf(*this));
    if (items.empty() || separator.empty() || list.empty()) return items;

    std::vector<unsigned> matches;
    matches.reserve(items.size());
    MatchScanner scanner(list, separator, true);
    unsigned position = 0;
    while (scanner.Next(position)) matches.push_back(position);

    const size_t found = matches.size();
    const unsigned length = SizeOf(list);
    items[0] = list.substr(0, found == 0 ? length : matches[0]);
    size_t next = 0;  // first match at or after the start of the current item
    for (size_t k = 1; k < items.size() && k <= found; ++k) {
        const unsigned start = matches[k - 1] + SizeOf(separator);
        while (next < found && matches[next] < start) ++next;
        const unsigned end = next < found ? matches[next] : length;
        items[k] = std::string_view(list.data() + start, end - start);
    }
    return items;
}

std::vector<CString> CString::GetItems(const CString& delimiter) const {
    const std::vector<std::string_view> views = GetItemViews(delimiter);
    std::vector<CString> items(views.size());
    for (size_t k = 0; k < views.size(); ++k) {
        items[k].Assign(views[k].data(), static_cast<unsigned>(views[k].size()));
    }
    return items;
}

int CString::InsertItem(const CString& item, const CString& before, const CString& delimiter) {
    const std::vector<CString> items = GetItems(delimiter);
    const int count = static_cast<int>(items.size());
    CString list;
    list.Reserve(GetLength() + item.GetLength() + delimiter.GetLength());
    int position = -1;
    for (int i = 0; i < count; ++i) {
        if (position == -1 && (before.IsEmpty() || items[i] == before)) {
            list.AddItem(item, delimiter);
            position = i;
        }
        list.AddItem(items[i], delimiter);
    }
    if (position == -1) {
        list.AddItem(item, delimiter);
        position = count;
    }
    *this = std::move(list);
    return position;
}

// SortItems is an insertion sort over the items as GetItem reads them. With a
// one-character delimiter that is not a blank, the items read back as the
// pieces of the list trimmed as a whole; where no piece has a blank at an edge
// the insertion sort is exactly a stable sort by byte order. Other lists run
// the insertion sort itself. A sort that yields an empty text leaves the list.
// SortPathItems is the same sort in the path order.
void CString::SortItems(const CString& delimiter) { SortListBy(*this, delimiter, ByteLess); }

void CString::SortPathItems(const CString& delimiter) { SortListBy(*this, delimiter, PathLess); }

void CString::SortPathViews(std::vector<std::string_view>& items) {
    SortStablyByRuns(items, PathLess);
}

void CString::SetItems(const std::vector<CString>& items, const CString& delimiter) {
    std::vector<std::string_view> views;
    views.reserve(items.size());
    for (const CString& item : items) views.push_back(item.View());
    SetItems(views, delimiter);
}

// AddItem of each item to an empty list joins them with the delimiter; the
// empty-item flag stays set only for a list of one empty item.
void CString::SetItems(const std::vector<std::string_view>& items, const CString& delimiter) {
    if (IsLocked()) return;
    const std::string_view separator = ViewOf(delimiter);
    size_t total = 0;
    for (std::string_view item : items) total += item.size() + separator.size();
    CString list;
    list.Reserve(static_cast<unsigned>(total));
    for (size_t k = 0; k < items.size(); ++k) {
        if (k > 0) list.Append(separator.data(), SizeOf(separator));
        list.Append(items[k].data(), static_cast<unsigned>(items[k].size()));
    }
    *this = std::move(list);
    emptyItem_ = items.size() == 1 && items[0].empty();
}

std::string_view CString::View() const { return ViewOf(*this); }

int CString::CountOccurrences(const CString& text) const {
    MatchScanner scanner(ViewOf(*this), ViewOf(text), false);
    unsigned position = 0;
    int count = 0;
    while (scanner.Next(position)) ++count;
    return count;
}

const char* CString::TrimLeft(const CString& characters) {
    const ByteSet trimmed(ViewOf(characters));
    if (IsLocked()) return text_;
    unsigned count = 0;
    while (count < length_ && trimmed.Contains(text_[count])) ++count;
    if (count == length_ && count > 0) {
        Empty();
    } else if (count > 0) {
        std::memmove(text_, text_ + count, length_ - count);
        length_ -= count;
        text_[length_] = '\0';
    }
    return text_;
}

const char* CString::TrimRight(const CString& characters) {
    const ByteSet trimmed(ViewOf(characters));
    if (IsLocked()) return text_;
    unsigned length = length_;
    while (length > 0 && trimmed.Contains(text_[length - 1])) --length;
    if (length == 0 && length_ > 0) {
        Empty();
    } else if (length < length_) {
        length_ = length;
        text_[length_] = '\0';
    }
    return text_;
}

const char* CString::Trim(const CString& characters) {
    if (&characters == this) {
        const CString copy(characters);
        return Trim(copy);
    }
    TrimLeft(characters);
    return TrimRight(characters);
}

bool CString::RemoveFirst(const CString& text) {
    const unsigned removed = text.GetLength();
    if (removed == 0) return false;
    const int found = Find(text);
    if (found < 0) return false;
    if (IsLocked()) return true;
    const unsigned position = static_cast<unsigned>(found);
    if (removed == length_) {
        Empty();
        return true;
    }
    std::memmove(text_ + position, text_ + position + removed, length_ - position - removed);
    length_ -= removed;
    text_[length_] = '\0';
    return true;
}

bool CString::ReplaceAll(const CString& text, const CString& replacement) {
    const std::string_view source = ViewOf(*this);
    const std::string_view pattern = ViewOf(text);
    const std::string_view substitute = ViewOf(replacement);
    if (pattern.empty()) return false;
    if (IsLocked()) return true;
    MatchScanner scanner(source, pattern, false);
    unsigned position = 0;
    if (!scanner.Next(position)) {
        if (length_ == 0) emptyItem_ = false;  // the text is taken again, as an empty one
        return true;
    }
    CString result;
    result.Reserve(SizeOf(source));
    unsigned from = 0;
    do {
        result.Append(source.data() + from, position - from);
        result.Append(substitute.data(), SizeOf(substitute));
        from = position + SizeOf(pattern);
    } while (scanner.Next(position));
    result.Append(source.data() + from, SizeOf(source) - from);
    *this = std::move(result);
    return true;
}
