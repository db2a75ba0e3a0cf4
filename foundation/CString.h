// CString: the tool's one string type, with its delimited-list operations.
//
// A value type holding 8-bit text without NUL characters. The object keeps its
// length and spare capacity; every operation that returns a new string builds it
// in a local buffer, so the class is reentrant. A failed allocation is reported
// through ErrorHandler ("CString::CreateCharString") and ends the process with
// status 1; no operation returns an allocation error or throws.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>
#include <vector>

class CString {
public:
    CString();
    CString(const char* text);  // NOLINT: implicit on purpose, texts pass as CString
    CString(const CString& other);
    CString(CString&& other) noexcept;
    CString(const char* text, unsigned length);  // at most length characters of text
    explicit CString(std::string_view text);
    CString(char ch, unsigned count);
    explicit CString(int value);
    explicit CString(long value);
    ~CString();

    // Assignment replaces the text; an empty source clears the empty-item flag.
    // Copies and moves take the text only, never the empty-item flag.
    // None of them has any effect while the string is locked.
    CString& operator=(const char* text);
    CString& operator=(const CString& other);
    CString& operator=(CString&& other) noexcept;
    void Empty();

    // While locked, the reads see the text in the buffer as it stands (see GetBuffer).
    unsigned GetLength() const { return lockedLength_ == 0 ? length_ : LockedTextLength(); }
    bool IsEmpty() const { return lockedLength_ == 0 ? length_ == 0 : text_[0] == '\0'; }
    char GetAt(unsigned index) const;
    char operator[](unsigned index) const { return GetAt(index); }
    const char* GetCharString() const { return text_; }
    std::string_view View() const;  // the text as it stands, without a copy
    int32_t ToInt() const;          // atoi semantics, 32-bit on every platform; 0 while locked
    int32_t ToLong() const;         // atol semantics, 32-bit on every platform; 0 while locked
    static int32_t ToInt(std::string_view text);  // atoi semantics within the text

    bool operator==(const CString& other) const;
    bool operator!=(const CString& other) const { return !(*this == other); }
    bool operator==(const char* text) const;        // absent text: false
    bool operator!=(const char* text) const;        // absent text: true
    int Compare(const CString& other) const;        // -1, 0, +1; unsigned bytes
    int CompareNoCase(const CString& other) const;  // <0, 0, >0; ASCII case folded
    bool Equals(const CString& other) const { return Compare(other) == 0; }
    // ASCII case folded, as CompareNoCase(other) == 0 (EqualsNoCaseAscii of AsciiText.h).
    bool EqualsNoCase(const CString& other) const { return EqualsNoCase(View(), other.View()); }
    static bool EqualsNoCase(std::string_view a, std::string_view b);
    bool StartsWith(const CString& prefix) const;  // empty prefix: false
    bool EndsWith(const CString& suffix) const;    // empty suffix: false

    int Find(const CString& sub) const;                 // -1 when not found or either empty
    int FindNth(const CString& sub, unsigned n) const;  // n-th overlapping match; n == 0: last
    int ReverseFind(const CString& sub) const { return FindNth(sub, 0); }
    bool Contains(const CString& sub) const { return Find(sub) != -1; }

    CString Left(int count) const;
    CString Mid(int start, unsigned count) const;
    CString Right(unsigned count) const;

    CString& operator+=(const char* text);
    CString& operator+=(const CString& other);
    CString& operator+=(char ch);
    // Appends the first length characters of text (which holds no NUL among them).
    void Append(const char* text, unsigned length);

    // Makes room for at least capacity characters, so that appends up to that
    // length need no further allocation. No effect while locked.
    void Reserve(unsigned capacity);

    CString MakeUpper();                // converts in place, returns a copy (empty while locked)
    CString MakeUpper(unsigned index);  // one character; empty result when out of range or locked
    CString MakeLower();

    // GetBuffer(n > 0) hands out a writable buffer of n + 1 bytes and locks the
    // string; ReleaseBuffer (or GetBuffer(0)) unlocks it and shrinks it to its text.
    // The caller writes at most n characters and a NUL; the last byte of the
    // buffer is NUL already. While locked, the changes above have no effect and
    // every read (length, access, comparison, search, Left/Mid/Right, the list
    // reads, copies, concatenation, output) sees the text as it stands in the
    // buffer: up to its first NUL, at most n characters. ToInt and ToLong give 0.
    char* GetBuffer(unsigned capacity);
    bool ReleaseBuffer();
    bool IsLocked() const { return lockedLength_ != 0; }

    // Allocates length + 1 bytes (first byte NUL), owned by the caller (delete[]).
    static char* CreateCharString(unsigned length);
    char* CopyCharString() const;  // owned by the caller (delete[])

    // ---- Delimited lists: the text holds items separated by a delimiter. ----
    void AddItem(const CString& item, const CString& delimiter);
    void AddItem(std::string_view item, const CString& delimiter);
    void AddItem(const char* item, const CString& delimiter) { AddItem(CString(item), delimiter); }
    int GetItemCount(const CString& delimiter) const;
    CString GetItem(int index, const CString& delimiter) const;
    // GetItem on a text, without copying either.
    static std::string_view ItemOf(std::string_view list, int index, std::string_view delimiter);
    int InsertItem(const CString& item, const CString& before, const CString& delimiter);
    void SortItems(const CString& delimiter);
    // SortItems for lists of paths: the same stable sort, with every separator of
    // the platform (platform::IsSeparator) compared as "\\", so that paths sort
    // alike on every build ("drvs/Win2008R2" before "drvs/Win2008/x", as with "\\").
    void SortPathItems(const CString& delimiter);
    // Items in the order of SortPathItems, stably.
    static void SortPathViews(std::vector<std::string_view>& items);
    // All items at once, in one pass: element i equals GetItem(i, delimiter) for
    // every i from 0 to GetItemCount(delimiter) - 1.
    std::vector<CString> GetItems(const CString& delimiter) const;
    // The same items as views of this text, without copying them; they stay
    // valid while the list is neither changed nor destroyed.
    std::vector<std::string_view> GetItemViews(const CString& delimiter) const;
    // Makes this the list of the given items, as AddItem of each to an empty list would.
    // The items may be views of this list's own text (they are invalid afterwards).
    void SetItems(const std::vector<CString>& items, const CString& delimiter);
    void SetItems(const std::vector<std::string_view>& items, const CString& delimiter);
    // The flag describes an empty text: it does not count while a locked buffer holds text.
    bool HasEmptyItemFlag() const { return emptyItem_ && IsEmpty(); }

    int CountOccurrences(const CString& text) const;  // non-overlapping
    const char* TrimLeft(const CString& characters);
    const char* TrimRight(const CString& characters);
    const char* Trim(const CString& characters);
    bool RemoveFirst(const CString& text);
    bool ReplaceAll(const CString& text, const CString& replacement);

private:
    friend CString operator+(const CString& left, const CString& right);
    friend CString operator+(const CString& left, const char* right);
    friend CString operator+(const char* left, const CString& right);
    static CString Concatenate(const char* left, unsigned leftLength, const char* right,
                               unsigned rightLength);
    void Assign(const char* text, unsigned length);
    // The length of the text in a locked buffer: up to its first NUL, at most capacity_.
    unsigned LockedTextLength() const;

    char* text_;
    unsigned length_;
    unsigned capacity_;      // bytes available for characters, NUL excluded
    unsigned lockedLength_;  // nonzero while a GetBuffer buffer is outstanding
    bool emptyItem_;         // list of exactly one empty item
};

CString operator+(const CString& left, const CString& right);
CString operator+(const CString& left, const char* right);
CString operator+(const char* left, const CString& right);

std::ostream& operator<<(std::ostream& stream, const CString& text);
