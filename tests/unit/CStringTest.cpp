// Unit tests of CString: construction, comparison, search, substrings, case,
// buffer locking, aliasing and the allocation-failure exit.
#include "AsciiText.h"
#include "CString.h"
#include "ErrorHandler.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

std::string Text(const CString& s) { return std::string(s.GetCharString(), s.GetLength()); }

TEST(CStringConstruction, AbsentOrEmptyTextIsEmpty) {
    const char* absent = nullptr;
    for (const CString& s : {CString(), CString(absent), CString("")}) {
        EXPECT_EQ(0u, s.GetLength());
        EXPECT_TRUE(s.IsEmpty());
        ASSERT_NE(nullptr, s.GetCharString());
        EXPECT_STREQ("", s.GetCharString());
    }
}

TEST(CStringConstruction, RepeatedCharacterAndNumbers) {
    EXPECT_EQ(std::string(60, '/'), Text(CString('/', 60)));
    EXPECT_EQ("x", Text(CString('x', 1)));
    EXPECT_TRUE(CString('x', 0).IsEmpty());
    EXPECT_TRUE(CString('\0', 5).IsEmpty());
    EXPECT_EQ("-42", Text(CString(-42)));
    EXPECT_EQ("0", Text(CString(0)));
    EXPECT_EQ("-2147483648", Text(CString(INT_MIN)));
    EXPECT_EQ("2147483647", Text(CString(2147483647L)));
    EXPECT_EQ("-7", Text(CString(-7L)));
}

TEST(CStringConstruction, CopiesAndMovesAreIndependent) {
    CString original("abc");
    CString copy(original);
    copy += "d";
    EXPECT_EQ("abc", Text(original));
    CString moved(std::move(copy));
    EXPECT_EQ("abcd", Text(moved));
    EXPECT_TRUE(copy.IsEmpty());  // NOLINT: a moved-from string is a valid empty string
    CString target("zzz");
    target = std::move(moved);
    EXPECT_EQ("abcd", Text(target));
    EXPECT_STREQ("", moved.GetCharString());  // NOLINT
}

TEST(CStringAliasing, SelfAssignmentAndAppend) {
    CString s("abc");
    s = s;
    EXPECT_EQ("abc", Text(s));
    s = std::move(s);
    EXPECT_EQ("abc", Text(s));
    s += s;
    EXPECT_EQ("abcabc", Text(s));
    s = s.GetCharString() + 2;  // a part of its own text
    EXPECT_EQ("cabc", Text(s));
    s += s.GetCharString() + 1;
    EXPECT_EQ("cabcabc", Text(s));
    for (int i = 0; i < 5; ++i) s += s;  // growing through spare capacity and reallocation
    EXPECT_EQ(7u * 32u, s.GetLength());
    EXPECT_EQ(0, std::string(s.GetCharString()).find("cabcabccabcabc"));
}

TEST(CStringAliasing, AppendKeepsEveryCharacter) {
    CString s;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const char c = static_cast<char>('a' + i % 26);
        s += c;
        expected += c;
        if (i % 97 == 0) {
            s += "xy";
            expected += "xy";
        }
    }
    EXPECT_EQ(expected, Text(s));
    s += '\0';
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(expected.size(), s.GetLength());
}

TEST(CStringAccess, GetAtAndNumbers) {
    CString s("abc");
    EXPECT_EQ('c', s.GetAt(2));
    EXPECT_EQ('\0', s.GetAt(3));
    EXPECT_EQ('\0', s[100]);
    EXPECT_EQ(12, CString("12abc").ToInt());
    EXPECT_EQ(0, CString("abc").ToInt());
    EXPECT_EQ(-7, CString("  -7").ToInt());
    EXPECT_EQ(5, CString("\t\n+5").ToLong());
    EXPECT_EQ(0, CString("- 5").ToInt());
    EXPECT_EQ(0, CString("").ToLong());
    // On a piece of a longer text, the number ends where the piece does.
    const std::string_view text = "12 34";
    EXPECT_EQ(1, CString::ToInt(text.substr(0, 1)));
    EXPECT_EQ(0, CString::ToInt(text.substr(3, 0)));
    EXPECT_EQ(0, CString::ToInt(text.substr(2, 1)));  // only a blank: nothing after it counts
    EXPECT_EQ(34, CString::ToInt(text.substr(2)));
}

TEST(CStringAccess, NumbersOutsideThirtyTwoBitsNeverReadBackUnchanged) {
    EXPECT_EQ(INT32_MAX, CString("2147483647").ToLong());
    EXPECT_EQ(INT32_MIN, CString("-2147483648").ToLong());
    for (const char* text : {"2147483648", "-2147483649", "4294967296", "99999999999999999999999",
                             "-99999999999999999999999"}) {
        const CString value(text);
        EXPECT_NE(Text(value), Text(CString(value.ToLong()))) << text;
        EXPECT_NE(Text(value), Text(CString(value.ToInt()))) << text;
    }
    EXPECT_EQ(INT32_MAX, CString("4294967296").ToInt());
    EXPECT_EQ(INT32_MIN, CString("-99999999999999999999999").ToLong());
}

TEST(CStringComparison, CaseSensitiveAndUnsigned) {
    EXPECT_EQ(-1, CString("z").Compare(CString("\xe9")));
    EXPECT_EQ(1, CString("\xe9").Compare(CString("z")));
    EXPECT_EQ(-1, CString("ab").Compare(CString("abc")));
    EXPECT_EQ(0, CString("ab").Compare(CString("ab")));
    EXPECT_TRUE(CString("idwbinfo.txt").EqualsNoCase(CString("IDWBINFO.TXT")));
    EXPECT_FALSE(CString("idwbinfo.txt").Equals(CString("IDWBINFO.TXT")));
    // Letters fold to lower case, as _stricmp does: '_' sorts before letters.
    EXPECT_LT(CString("_").CompareNoCase(CString("A")), 0);
    EXPECT_GT(CString("\xe9").CompareNoCase(CString("Z")), 0);
    EXPECT_NE(0, CString("\xc9").CompareNoCase(CString("\xe9")));  // only ASCII folds
    EXPECT_LT(CString("ab").CompareNoCase(CString("ABC")), 0);
}

// The one blank test and the one ASCII case-blind equality of the foundation:
// only blank, tab and newline are blanks (not CR, VT, FF or a non-breaking
// space), and only the letters fold (not "@" and "`", "[" and "{", nor Latin-1).
TEST(AsciiText, BlanksAndCaseBlindEquality) {
    for (int c = 1; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool listed = std::strchr(kBlanksAscii, ch) != nullptr;
        EXPECT_EQ(c == ' ' || c == '\t' || c == '\n', IsBlankAscii(ch)) << c;
        EXPECT_EQ(listed, IsBlankAscii(ch)) << c;
    }
    const struct {
        const char* text;
        const char* trimmed;
    } trims[] = {{"\t a b \n", "a b"}, {" \t\n", ""}, {"", ""}, {"\r x\v", "\r x\v"}, {"a", "a"}};
    for (const auto& t : trims) {
        EXPECT_EQ(t.trimmed, TrimBlanksAscii(t.text)) << t.text;
        EXPECT_EQ(t.trimmed, std::string(CString(t.text).Trim(CString(kBlanksAscii)))) << t.text;
    }
    EXPECT_EQ("a \n", TrimLeftBlanksAscii(" \ta \n"));
    EXPECT_EQ(" \ta", TrimRightBlanksAscii(" \ta \n"));
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } pairs[] = {{"idwbinfo.txt", "IDWBINFO.TXT", true},
                 {"Windows Version", "wINDOWS vERSION", true},
                 {"", "", true},
                 {"ab", "abc", false},
                 {"@", "`", false},
                 {"[", "{", false},
                 {"\xc9", "\xe9", false},
                 {"Main", "Mai", false},
                 {"AZ", "az", true},
                 {"a b", "A\tB", false}};
    for (const auto& p : pairs) {
        EXPECT_EQ(p.equal, EqualsNoCaseAscii(p.a, p.b)) << p.a << " " << p.b;
        EXPECT_EQ(p.equal, CString::EqualsNoCase(p.a, p.b)) << p.a << " " << p.b;
        EXPECT_EQ(p.equal, CString(p.a).EqualsNoCase(CString(p.b))) << p.a << " " << p.b;
    }
}

TEST(CStringComparison, EqualityWithTexts) {
    const CString s("abc");
    const char* absent = nullptr;
    EXPECT_TRUE(s == "abc");
    EXPECT_FALSE(s == absent);
    EXPECT_TRUE(s != absent);
    EXPECT_FALSE(CString() == absent);
    EXPECT_TRUE(CString() == "");
    EXPECT_TRUE(s == CString("abc"));
    EXPECT_TRUE(s != CString("abd"));
}

TEST(CStringComparison, StartsWithAndEndsWith) {
    const CString name("DrvSet.ini");
    EXPECT_TRUE(name.EndsWith(CString("ini")));
    EXPECT_FALSE(name.EndsWith(CString("INI")));
    EXPECT_TRUE(name.StartsWith(CString("Drv")));
    EXPECT_FALSE(name.StartsWith(CString("DrvSet.ini.bak")));
    EXPECT_FALSE(name.StartsWith(CString()));
    EXPECT_FALSE(name.EndsWith(CString()));
    EXPECT_FALSE(CString().StartsWith(CString()));
}

TEST(CStringSearch, FindFindNthReverseFind) {
    const CString s("abcabc");
    EXPECT_EQ(1, s.Find(CString("bc")));
    EXPECT_EQ(3, s.FindNth(CString("abc"), 2));
    EXPECT_EQ(-1, s.FindNth(CString("abc"), 3));
    EXPECT_EQ(3, s.ReverseFind(CString("abc")));
    EXPECT_EQ(2, CString("aaaa").ReverseFind(CString("aa")));
    EXPECT_EQ(2, CString("aaaa").FindNth(CString("aa"), 3));
    EXPECT_EQ(-1, CString("aaaa").FindNth(CString("aa"), 4));
    EXPECT_EQ(3, CString("aabaabaab").FindNth(CString("aabaab"), 2));
    EXPECT_EQ(-1, s.Find(CString("abd")));
    EXPECT_EQ(-1, s.Find(CString("abcabcx")));
    EXPECT_EQ(-1, s.Find(CString()));
    EXPECT_EQ(-1, CString().Find(CString()));
    EXPECT_FALSE(CString().Contains(CString()));
    EXPECT_FALSE(s.Contains(CString()));
    EXPECT_TRUE(s.Contains(CString("cab")));
}

TEST(CStringSearch, MatchesPlainSearchOnRandomTexts) {
    unsigned seed = 12345;
    auto next = [&seed]() { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 3000; ++round) {
        std::string text, sub;
        for (unsigned i = next() % 14; i > 0; --i) text += "ab"[next() % 2];
        for (unsigned i = 1 + next() % 4; i > 0; --i) sub += "ab"[next() % 2];
        std::vector<int> positions;
        for (size_t p = text.find(sub); p != std::string::npos; p = text.find(sub, p + 1)) {
            positions.push_back(static_cast<int>(p));
        }
        const CString s(text.c_str());
        const CString pattern(sub.c_str());
        EXPECT_EQ(positions.empty() ? -1 : positions.front(), s.Find(pattern));
        EXPECT_EQ(positions.empty() ? -1 : positions.back(), s.ReverseFind(pattern));
        for (unsigned n = 1; n <= positions.size() + 1; ++n) {
            const int expected = n <= positions.size() ? positions[n - 1] : -1;
            EXPECT_EQ(expected, s.FindNth(pattern, n)) << text << " / " << sub << " / " << n;
        }
    }
}

TEST(CStringSubstrings, LeftMidRight) {
    const CString s("abcdef");
    EXPECT_EQ("ab", Text(s.Left(2)));
    EXPECT_EQ("", Text(s.Left(0)));
    EXPECT_EQ("abcdef", Text(s.Left(-1)));
    EXPECT_EQ("abcdef", Text(s.Left(10)));
    EXPECT_EQ("", Text(CString().Left(3)));
    EXPECT_EQ("cde", Text(s.Mid(2, 3)));
    EXPECT_EQ("ab", Text(s.Mid(-5, 2)));
    EXPECT_EQ("ef", Text(s.Mid(4, 0)));
    EXPECT_EQ("", Text(s.Mid(6, 1)));
    EXPECT_EQ("def", Text(s.Mid(3, 100)));
    EXPECT_EQ("ef", Text(s.Right(2)));
    EXPECT_EQ("", Text(s.Right(0)));
    EXPECT_EQ("abcdef", Text(s.Right(10)));
    EXPECT_EQ("abcdef", Text(s));
}

TEST(CStringSubstrings, Concatenation) {
    const CString a("ab");
    EXPECT_EQ("abcd", Text(a + CString("cd")));
    EXPECT_EQ("abcd", Text(a + "cd"));
    EXPECT_EQ("cdab", Text("cd" + a));
    EXPECT_EQ("abab", Text(a + a));
    EXPECT_EQ("ab", Text(a + static_cast<const char*>(nullptr)));
    EXPECT_EQ("ab", Text(static_cast<const char*>(nullptr) + a));
    std::ostringstream stream;
    stream << a << CString() << "|";
    EXPECT_EQ("ab|", stream.str());
}

TEST(CStringCase, InPlaceConversion) {
    CString name("DRVSET.INI");
    EXPECT_EQ("drvset.ini", Text(name.MakeLower()));
    EXPECT_EQ("drvset.ini", Text(name));
    EXPECT_EQ("Drvset.ini", Text(name.MakeUpper(0)));
    EXPECT_EQ("", Text(name.MakeUpper(10)));
    EXPECT_EQ("Drvset.ini", Text(name));
    CString mixed("a\xe9z_1");
    EXPECT_EQ("A\xe9Z_1", Text(mixed.MakeUpper()));
}

TEST(CStringBuffer, LockedStringIgnoresChanges) {
    CString s("abcdef");
    char* buffer = s.GetBuffer(260);
    ASSERT_NE(nullptr, buffer);
    EXPECT_TRUE(s.IsLocked());
    EXPECT_STREQ("abcdef", buffer);
    std::strcpy(buffer, "C:\\dir\\file.ini");
    s = "other";
    s += "more";
    s += 'x';
    s.Empty();
    EXPECT_EQ("", Text(s.MakeUpper()));
    EXPECT_EQ("", Text(s.MakeLower()));
    EXPECT_EQ(0, s.ToInt());
    EXPECT_STREQ("C:\\dir\\file.ini", s.GetCharString());
    // Read operations see the text that was written into the buffer.
    EXPECT_EQ(4, s.Find(CString("ir")));
    EXPECT_TRUE(s.EndsWith(CString(".ini")));
    EXPECT_EQ("C:", Text(s.Left(2)));
    EXPECT_TRUE(s.ReleaseBuffer());
    EXPECT_FALSE(s.IsLocked());
    EXPECT_EQ("C:\\dir\\file.ini", Text(s));
    s = "123";
    EXPECT_EQ(123, s.ToInt());
}

TEST(CStringBuffer, CapacityKeepsPrefixAndZeroUnlocks) {
    CString s("abcdef");
    EXPECT_STREQ("abc", s.GetBuffer(3));
    EXPECT_TRUE(s.ReleaseBuffer());
    EXPECT_EQ("abc", Text(s));

    char* buffer = s.GetBuffer(4);
    std::memcpy(buffer, "wxyz", 4);  // all four characters, no NUL of its own
    EXPECT_EQ(buffer, s.GetBuffer(0));
    EXPECT_FALSE(s.IsLocked());
    EXPECT_EQ("wxyz", Text(s));

    EXPECT_STREQ("", s.GetBuffer(0));  // unlocked: replaced by an empty text
    EXPECT_TRUE(s.IsEmpty());

    buffer = s.GetBuffer(10);
    buffer[0] = '\0';
    EXPECT_TRUE(s.ReleaseBuffer());
    EXPECT_TRUE(s.IsEmpty());
    s += "ok";
    EXPECT_EQ("ok", Text(s));
}

// ---- Reads of a locked string: the text as it stands in the buffer ----

// "abcdef", locked with GetBuffer(260), with "123" written into the buffer: the
// buffer holds "123", a NUL, and the old "ef" behind it.
void LockWith123(CString& s) {
    s = "abcdef";
    char* buffer = s.GetBuffer(260);
    ASSERT_NE(nullptr, buffer);
    std::strcpy(buffer, "123");
}

std::string Bool(bool value) { return value ? "true" : "false"; }
std::string Int(long long value) { return std::to_string(value); }
std::string Char(char c) { return c == '\0' ? "NUL" : std::string(1, c); }
std::string Sign(int value) { return value < 0 ? "<0" : value > 0 ? ">0" : "0"; }

struct LockedRead {
    const char* operation;
    std::function<std::string(CString&)> read;
    const char* expected;
};

const LockedRead kLockedReads[] = {
    // Length and access
    {"GetLength", [](CString& s) { return Int(s.GetLength()); }, "3"},
    {"IsEmpty", [](CString& s) { return Bool(s.IsEmpty()); }, "false"},
    {"GetAt(0)", [](CString& s) { return Char(s.GetAt(0)); }, "1"},
    {"GetAt(2)", [](CString& s) { return Char(s.GetAt(2)); }, "3"},
    {"GetAt(3)", [](CString& s) { return Char(s.GetAt(3)); }, "NUL"},
    {"GetAt(4)", [](CString& s) { return Char(s.GetAt(4)); }, "NUL"},
    {"[1]", [](CString& s) { return Char(s[1]); }, "2"},
    {"[5]", [](CString& s) { return Char(s[5]); }, "NUL"},
    {"GetCharString", [](CString& s) { return std::string(s.GetCharString()); }, "123"},
    {"View", [](CString& s) { return std::string(s.View()); }, "123"},
    {"ToInt (0 while locked)", [](CString& s) { return Int(s.ToInt()); }, "0"},
    {"ToLong (0 while locked)", [](CString& s) { return Int(s.ToLong()); }, "0"},
    // Comparison
    {"== CString 123", [](CString& s) { return Bool(s == CString("123")); }, "true"},
    {"== CString abcdef", [](CString& s) { return Bool(s == CString("abcdef")); }, "false"},
    {"CString 123 ==", [](CString& s) { return Bool(CString("123") == s); }, "true"},
    {"!= CString 123", [](CString& s) { return Bool(s != CString("123")); }, "false"},
    {"== text 123", [](CString& s) { return Bool(s == "123"); }, "true"},
    {"== text 123ef", [](CString& s) { return Bool(s == "123ef"); }, "false"},
    {"== text 12", [](CString& s) { return Bool(s == "12"); }, "false"},
    {"!= text 123", [](CString& s) { return Bool(s != "123"); }, "false"},
    {"!= text abcdef", [](CString& s) { return Bool(s != "abcdef"); }, "true"},
    {"Compare 123", [](CString& s) { return Int(s.Compare(CString("123"))); }, "0"},
    {"Compare 1234", [](CString& s) { return Int(s.Compare(CString("1234"))); }, "-1"},
    {"Compare 12", [](CString& s) { return Int(s.Compare(CString("12"))); }, "1"},
    {"CString 1234 Compare", [](CString& s) { return Int(CString("1234").Compare(s)); }, "1"},
    {"CompareNoCase 123", [](CString& s) { return Sign(s.CompareNoCase(CString("123"))); }, "0"},
    {"CompareNoCase 123E", [](CString& s) { return Sign(s.CompareNoCase(CString("123E"))); }, "<0"},
    {"CompareNoCase 12", [](CString& s) { return Sign(s.CompareNoCase(CString("12"))); }, ">0"},
    {"CString 123e CompareNoCase",
     [](CString& s) { return Sign(CString("123e").CompareNoCase(s)); }, ">0"},
    {"Equals 123", [](CString& s) { return Bool(s.Equals(CString("123"))); }, "true"},
    {"EqualsNoCase 123", [](CString& s) { return Bool(s.EqualsNoCase(CString("123"))); }, "true"},
    {"StartsWith 12", [](CString& s) { return Bool(s.StartsWith(CString("12"))); }, "true"},
    {"StartsWith 123e", [](CString& s) { return Bool(s.StartsWith(CString("123e"))); }, "false"},
    {"EndsWith 23", [](CString& s) { return Bool(s.EndsWith(CString("23"))); }, "true"},
    {"EndsWith ef", [](CString& s) { return Bool(s.EndsWith(CString("ef"))); }, "false"},
    {"as prefix: 1234 StartsWith", [](CString& s) { return Bool(CString("1234").StartsWith(s)); },
     "true"},
    // Search
    {"Find 3", [](CString& s) { return Int(s.Find(CString("3"))); }, "2"},
    {"Find ef", [](CString& s) { return Int(s.Find(CString("ef"))); }, "-1"},
    {"FindNth 2,1", [](CString& s) { return Int(s.FindNth(CString("2"), 1)); }, "1"},
    {"FindNth e,0", [](CString& s) { return Int(s.FindNth(CString("e"), 0)); }, "-1"},
    {"ReverseFind 23", [](CString& s) { return Int(s.ReverseFind(CString("23"))); }, "1"},
    {"Contains def", [](CString& s) { return Bool(s.Contains(CString("def"))); }, "false"},
    {"Contains 12", [](CString& s) { return Bool(s.Contains(CString("12"))); }, "true"},
    {"as pattern: x123y Find", [](CString& s) { return Int(CString("x123y").Find(s)); }, "1"},
    {"CountOccurrences e", [](CString& s) { return Int(s.CountOccurrences(CString("e"))); }, "0"},
    // Left, Mid, Right
    {"Left(2)", [](CString& s) { return Text(s.Left(2)); }, "12"},
    {"Left(3)", [](CString& s) { return Text(s.Left(3)); }, "123"},
    {"Left(5)", [](CString& s) { return Text(s.Left(5)); }, "123"},
    {"Left(-1)", [](CString& s) { return Text(s.Left(-1)); }, "123"},
    {"Mid(1, 0)", [](CString& s) { return Text(s.Mid(1, 0)); }, "23"},
    {"Mid(1, 5)", [](CString& s) { return Text(s.Mid(1, 5)); }, "23"},
    {"Mid(3, 0)", [](CString& s) { return Text(s.Mid(3, 0)); }, ""},
    {"Mid(4, 2)", [](CString& s) { return Text(s.Mid(4, 2)); }, ""},
    {"Right(2)", [](CString& s) { return Text(s.Right(2)); }, "23"},
    {"Right(5)", [](CString& s) { return Text(s.Right(5)); }, "123"},
    // Lists
    {"GetItemCount ,", [](CString& s) { return Int(s.GetItemCount(CString(","))); }, "1"},
    {"GetItemCount 2", [](CString& s) { return Int(s.GetItemCount(CString("2"))); }, "2"},
    {"GetItem -1 by 2", [](CString& s) { return Text(s.GetItem(-1, CString("2"))); }, "3"},
    {"GetItem 0 by ,", [](CString& s) { return Text(s.GetItem(0, CString(","))); }, "123"},
    {"GetItems by 2",
     [](CString& s) {
         std::string joined;
         for (const CString& item : s.GetItems(CString("2"))) joined += Text(item) + "|";
         return joined;
     },
     "1|3|"},
    {"GetItemViews by ,",
     [](CString& s) { return std::string(s.GetItemViews(CString(",")).at(0)); }, "123"},
    {"HasEmptyItemFlag", [](CString& s) { return Bool(s.HasEmptyItemFlag()); }, "false"},
    {"as item: AddItem",
     [](CString& s) {
         CString list("x");
         list.AddItem(s, CString(","));
         return Text(list);
     },
     "x,123"},
    {"as delimiter: GetItemCount",
     [](CString& s) { return Int(CString("a123b123c").GetItemCount(s)); }, "3"},
    // Copies, concatenation, appends to others, output
    {"copy construction", [](CString& s) { return Text(CString(s)); }, "123"},
    {"copy assignment",
     [](CString& s) {
         CString copy("zz");
         copy = s;
         return Text(copy);
     },
     "123"},
    {"move construction (copies)", [](CString& s) { return Text(CString(std::move(s))); }, "123"},
    {"move assignment (copies)",
     [](CString& s) {
         CString target("zz");
         target = std::move(s);
         return Text(target);
     },
     "123"},
    {"locked + CString", [](CString& s) { return Text(s + CString("x")); }, "123x"},
    {"CString + locked", [](CString& s) { return Text(CString("x") + s); }, "x123"},
    {"locked + text", [](CString& s) { return Text(s + "x"); }, "123x"},
    {"text + locked", [](CString& s) { return Text("x" + s); }, "x123"},
    {"locked + locked", [](CString& s) { return Text(s + s); }, "123123"},
    {"+= locked",
     [](CString& s) {
         CString target("x");
         target += s;
         return Text(target);
     },
     "x123"},
    {"CopyCharString",
     [](CString& s) {
         char* copy = s.CopyCharString();
         std::string text(copy);
         delete[] copy;
         return text;
     },
     "123"},
    {"<<",
     [](CString& s) {
         std::ostringstream stream;
         stream << s << "|";
         return stream.str();
     },
     "123|"},
    // Writes stay blocked; what they report is read from the text as it stands.
    {"RemoveFirst 2 (finds, removes nothing)",
     [](CString& s) { return Bool(s.RemoveFirst(CString("2"))) + Text(s); }, "true123"},
    {"RemoveFirst ef", [](CString& s) { return Bool(s.RemoveFirst(CString("ef"))); }, "false"},
    {"InsertItem (position only)",
     [](CString& s) {
         return Int(s.InsertItem(CString("x"), CString("q"), CString("2"))) + Text(s);
     },
     "2123"},
    {"TrimRight 3 (no effect)", [](CString& s) { return std::string(s.TrimRight(CString("3"))); },
     "123"},
};

TEST(CStringLockedReads, SeeTheTextWrittenIntoTheBuffer) {
    for (const LockedRead& row : kLockedReads) {
        CString s;
        LockWith123(s);
        EXPECT_EQ(row.expected, row.read(s)) << row.operation;
        // A read changes nothing: the string is still locked on "123".
        EXPECT_TRUE(s.IsLocked()) << row.operation;
        EXPECT_EQ("123", Text(s)) << row.operation;
        EXPECT_TRUE(s.ReleaseBuffer()) << row.operation;
        EXPECT_EQ("123", Text(s)) << row.operation;
    }
}

TEST(CStringLockedReads, ReleaseKeepsTheWrittenText) {
    for (bool release : {true, false}) {
        CString s;
        LockWith123(s);
        s = "other";  // no effect while locked
        s += "more";
        if (release) {
            EXPECT_TRUE(s.ReleaseBuffer());
        } else {
            s.GetBuffer(0);  // unlocks too
        }
        EXPECT_FALSE(s.IsLocked());
        EXPECT_EQ(3u, s.GetLength());
        EXPECT_STREQ("123", s.GetCharString());
        EXPECT_TRUE(s == "123");
        EXPECT_EQ("23", Text(s.Right(2)));
        EXPECT_EQ(123, s.ToInt());
        s += "4";
        EXPECT_EQ("1234", Text(s));
    }
}

TEST(CStringLockedReads, LengthFollowsEveryWrite) {
    CString s("abcdef");
    char* buffer = s.GetBuffer(260);
    EXPECT_EQ(6u, s.GetLength());  // the kept text
    buffer[0] = '\0';
    EXPECT_EQ(0u, s.GetLength());
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ("", Text(s.Left(-1)));
    EXPECT_EQ(-1, s.Find(CString("b")));
    std::memcpy(buffer, "12", 2);  // no NUL of its own: "12" over the old "cdef"
    EXPECT_EQ("12cdef", Text(s));
    std::strcpy(buffer, "C:\\a\\much\\longer\\path");
    EXPECT_EQ(21u, s.GetLength());
    EXPECT_EQ("path", Text(s.Right(4)));
    EXPECT_TRUE(s.ReleaseBuffer());
    EXPECT_EQ("C:\\a\\much\\longer\\path", Text(s));
}

TEST(CStringLockedReads, BufferFilledWithoutNul) {
    // All capacity characters written and no NUL among them: the last byte of
    // the buffer, which GetBuffer set to NUL, ends the text.
    CString s("ab");
    char* buffer = s.GetBuffer(4);
    std::memcpy(buffer, "wxyz", 4);
    EXPECT_EQ(4u, s.GetLength());
    EXPECT_STREQ("wxyz", s.GetCharString());
    EXPECT_TRUE(s == "wxyz");
    EXPECT_EQ('z', s.GetAt(3));
    EXPECT_EQ('\0', s.GetAt(4));
    EXPECT_EQ("yz", Text(s.Right(2)));
    EXPECT_EQ(3, s.Find(CString("z")));
    EXPECT_TRUE(s.ReleaseBuffer());
    EXPECT_EQ("wxyz", Text(s));

    // A writer that overwrote that last byte too: the reads stop at the
    // capacity, and unlocking ends the text there again.
    for (bool release : {true, false}) {
        CString t("ab");
        buffer = t.GetBuffer(4);
        std::memcpy(buffer, "wxyz!", 5);  // one byte more than allowed, inside the buffer
        EXPECT_EQ(4u, t.GetLength());
        EXPECT_EQ("wxyz", std::string(t.View()));
        EXPECT_TRUE(t == "wxyz");
        EXPECT_FALSE(t == "wxyz!");
        EXPECT_EQ(0, t.CompareNoCase(CString("WXYZ")));
        EXPECT_EQ("wxyz", Text(CString(t)));
        if (release) {
            EXPECT_TRUE(t.ReleaseBuffer());
        } else {
            t.GetBuffer(0);
        }
        EXPECT_STREQ("wxyz", t.GetCharString());
        EXPECT_EQ(4u, t.GetLength());
    }
}

TEST(CStringMemory, CharStrings) {
    char* empty = CString::CreateCharString(5);
    EXPECT_EQ('\0', empty[0]);
    delete[] empty;
    const CString s("abc");
    char* copy = s.CopyCharString();
    EXPECT_STREQ("abc", copy);
    EXPECT_NE(s.GetCharString(), copy);
    delete[] copy;
}

// ---- Allocation failure: the memory report and exit status 6 ----

TEST(CStringAllocationDeathTest, LengthBeyondThirtyTwoBitsIsAllocationFailure) {
    EXPECT_EXIT(CString::CreateCharString(0xFFFFFFFFu), testing::ExitedWithCode(6),
                "Memory Allocation Error");
    EXPECT_EXIT(CString('x', 0xFFFFFFFFu), testing::ExitedWithCode(6), "CString::CreateCharString");
}

TEST(CStringAllocationDeathTest, UnsatisfiableRequestIsAllocationFailure) {
    // A request no address space can satisfy: the new handler turns the failure
    // of the standard library's allocation into the same report.
    EXPECT_EXIT(
        {
            InstallAllocationFailureHandler();
            void* huge = ::operator new(static_cast<size_t>(PTRDIFF_MAX));
            std::fprintf(stderr, "allocated %p\n", huge);
        },
        testing::ExitedWithCode(6), "CString::CreateCharString");
}

#ifndef _WIN32
void LimitAddressSpace(rlim_t bytes) {
    struct rlimit limit;
    limit.rlim_cur = bytes;
    limit.rlim_max = bytes;
    setrlimit(RLIMIT_AS, &limit);
}

TEST(CStringAllocationDeathTest, ExhaustedHeapEndsWithMemoryReport) {
    EXPECT_EXIT(
        {
            LimitAddressSpace(static_cast<rlim_t>(256) << 20);
            CString huge('x', 1u << 30);
            std::fprintf(stderr, "allocated %u\n", huge.GetLength());
        },
        testing::ExitedWithCode(6),
        "\n\nMemory Allocation Error\n\nNot enough memory is available for this "
        "application.\n\n.*\nCString::CreateCharString\n$");
}

TEST(CStringAllocationDeathTest, GrowingAppendsEndWithMemoryReport) {
    EXPECT_EXIT(
        {
            LimitAddressSpace(static_cast<rlim_t>(192) << 20);
            const CString chunk('x', 1u << 20);
            CString text;
            for (;;) text += chunk;
        },
        testing::ExitedWithCode(6), "CString::CreateCharString");
}

TEST(CStringAllocationDeathTest, StandardLibraryAllocationsEndWithMemoryReport) {
    EXPECT_EXIT(
        {
            LimitAddressSpace(static_cast<rlim_t>(192) << 20);
            InstallAllocationFailureHandler();
            std::vector<std::string> blocks;
            for (;;) blocks.emplace_back(1u << 20, 'x');
        },
        testing::ExitedWithCode(6), "CString::CreateCharString");
}
#endif

}  // namespace
