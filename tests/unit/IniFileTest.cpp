// IniFile: loading (from a file or from memory) and section/key lookups.

#include "IniFile.h"

#include "PathName.h"
#include "Platform.h"
#include "ScratchDir.h"
#include "TextFile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// An IniFile holding text as if it had been read from a file.
class IniText : public IniFile {
public:
    explicit IniText(const std::string& text) { LoadText(text.data(), text.size()); }
};

CString Value(IniFile& ini, const char* section, const char* key) {
    return ini.GetValue(section, key, "<none>");
}

}  // namespace

TEST(IniFileTest, SectionHeaderForms) {
    for (const char* header : {"[Main]", "[ main ]", "[MAIN] ; note", "[Main", "\t[Main]  "}) {
        IniText ini(std::string("[Other]\nKey=other\n") + header + "\nKey=main\n");
        EXPECT_EQ(CString("main"), Value(ini, "Main", "Key")) << header;
    }
}

TEST(IniFileTest, KeyMatchingAndValueTrimming) {
    IniText ini(
        "[Main]\n"
        "  windows version  =   Win2003Server  \t\n"
        "Key = a = b\n"
        "Quoted=\"x y\"\n"
        "Note=x ; note\n"
        "Twice=first\n"
        "Twice=second\n"
        "; Hidden=comment\n"
        "#Hash=yes\n"
        "Empty=\n");
    EXPECT_EQ(CString("Win2003Server"), Value(ini, "main", "Windows Version"));
    EXPECT_EQ(CString("a = b"), Value(ini, "Main", "key"));
    EXPECT_EQ(CString("\"x y\""), Value(ini, "Main", "Quoted"));
    EXPECT_EQ(CString("x ; note"), Value(ini, "Main", "Note"));
    EXPECT_EQ(CString("first"), Value(ini, "Main", "Twice"));
    EXPECT_EQ(CString("<none>"), Value(ini, "Main", "; Hidden"));
    EXPECT_EQ(CString("<none>"), Value(ini, "Main", "Hidden"));
    EXPECT_EQ(CString("yes"), Value(ini, "Main", "#Hash"));
    EXPECT_EQ(CString(""), Value(ini, "Main", "Empty"));
    EXPECT_EQ(CString("  default  "), ini.GetValue("Main", "Missing", "  default  "));
}

TEST(IniFileTest, OnlyTheFirstSectionOfANameIsSearched) {
    IniText ini("Top=before\n[Main]\nA=1\n[Main]\nB=2\n[Next]\n[\nC=3\n");
    EXPECT_EQ(CString("1"), Value(ini, "Main", "A"));
    EXPECT_EQ(CString("<none>"), Value(ini, "Main", "B"));
    EXPECT_EQ(CString("before"), Value(ini, "", "Top"));
    EXPECT_EQ(CString("<none>"), Value(ini, "Main", "Top"));
    EXPECT_EQ(CString("<none>"), Value(ini, "", "A"));
    // A header that is only "[" ends the section before it, and is named "".
    EXPECT_EQ(CString("<none>"), Value(ini, "Next", "C"));
}

TEST(IniFileTest, FindLineGivesTheWholeTrimmedLine) {
    IniText ini("[Main]\n  Key = value  \n");
    CString line;
    EXPECT_TRUE(ini.FindLine("Main", "KEY", line));
    EXPECT_EQ(CString("Key = value"), line);
    EXPECT_FALSE(ini.FindLine("Main", "Other", line));
    EXPECT_FALSE(ini.FindLine("Missing", "Key", line));
}

TEST(IniFileTest, MissingFileGivesDefaults) {
    ScratchDir dir;
    IniFile ini(PathName(dir.CWrite("x", "") + "-missing"));
    EXPECT_EQ(CString("<none>"), Value(ini, "", ""));
    EXPECT_EQ(CString("dflt"), ini.GetValue("Main", "Key", "dflt"));
    EXPECT_FALSE(ini.Load("no such file"));
}

TEST(IniFileTest, LoadReadsTextModeAndDropsByteOrderMark) {
    ScratchDir dir;
    IniFile plain(dir.CWrite("plain.ini", "[Main]\r\nKey=1\r\nLast=end"));
    EXPECT_EQ(CString("1"), Value(plain, "Main", "Key"));
    EXPECT_EQ(CString("end"), Value(plain, "Main", "Last"));

    IniFile marked(
        dir.CWrite("bom.ini", "\xEF\xBB\xBF[Main]\r\nKey=2\r\n\x1A[Main]\r\nGone=x\r\n"));
    EXPECT_EQ(CString("2"), Value(marked, "Main", "Key"));
    EXPECT_EQ(CString("<none>"), Value(marked, "Main", "Gone"));

    // A mark later in the file is part of the text.
    IniText inner("Key=1\n\xEF\xBB\xBF[Main]\nKey=3\n");
    EXPECT_EQ(CString("<none>"), Value(inner, "Main", "Key"));
}

namespace {

// What Load gives, spelled out with TextFile::ReadLine and AddLine.
class ReadLineIni : public IniFile {
public:
    explicit ReadLineIni(const CString& name) {
        TextFile file;
        file.Open(name, "r");
        CString line;
        result = false;
        while (!file.IsEOF()) {
            result = file.ReadLine(line);
            if (!result) break;
            result = AddLine(line);
            if (!result) break;
        }
        file.Close();
    }
    bool result;
};

}  // namespace

TEST(IniFileTest, LoadAndLoadTextSplitLinesAsReadLineDoes) {
    ScratchDir dir;
    const std::string samples[] = {
        "",
        "\n",
        "[Main]\nKey=1\n",
        "[Main]\nKey=1",
        std::string("[Ma\0in]\r\nK\0ey=\0v\0\r\n\0", 20),
        std::string("[Main]\nKey=1\n\0\0", 15),
        "[Main]\r\nKey=a\rb\r\r\nNext=2\x1A\nLost=3\n",
    };
    int index = 0;
    for (const std::string& bytes : samples) {
        CString name = dir.CWrite("s" + std::to_string(index++), bytes);
        ReadLineIni reference(name);
        IniFile loaded;
        std::string decoded = bytes;
        platform::DecodeTextMode(decoded);
        IniFile fromText;
        EXPECT_EQ(reference.result, loaded.Load(name)) << index;
        EXPECT_EQ(reference.result, fromText.LoadText(decoded.data(), decoded.size())) << index;
        for (const char* key : {"Key", "Next", "Lost"}) {
            EXPECT_EQ(Value(reference, "Main", key), Value(loaded, "Main", key)) << index << key;
            EXPECT_EQ(Value(reference, "Main", key), Value(fromText, "Main", key)) << index << key;
        }
    }
}

TEST(IniFileTest, AddLineKeepsFileOrder) {
    IniFile ini;
    EXPECT_TRUE(ini.AddLine("[S]\n"));
    EXPECT_TRUE(ini.AddLine("  A = 1 \n"));
    EXPECT_TRUE(ini.AddLine("A=2"));
    EXPECT_TRUE(ini.AddLine("B=3"));
    EXPECT_EQ(CString("1"), Value(ini, "s", "a"));
    EXPECT_EQ(CString("3"), Value(ini, "S", "B"));
}

// The one-pass lookup of several keys must answer as GetValue on the loaded text.
TEST(IniFileTest, GetValuesMatchesGetValueOnRandomTexts) {
    const char* const pieces[] = {
        "[Main]", "[ main ]",  "[MAIN",   "[Other]", "[",    "; c=1",
        "Key=1",  " key = 2 ", "KEY=3=4", "Other=x", "#k=5", "=6",
        "",       " \t",       "Key",     "\r",      "\x1A", "\xEF\xBB\xBF"};
    const CString keys[] = {"Key", "Other", "#k", "", "Missing"};
    const CString sections[] = {"Main", "other", ""};
    // A byte-order mark in a file that also holds NUL bytes.
    const std::string marked("\xEF\xBB\xBF[Main]\r\nKey=1\0\r\n", 19);
    std::string value[1];
    IniFile::GetValues(marked.data(), marked.size(), true, "Main", keys, value, 1);
    EXPECT_EQ("1", value[0]);

    std::mt19937 random(7);
    for (int round = 0; round < 4000; ++round) {
        std::string bytes;
        int lines = static_cast<int>(random() % 8);
        if (random() % 20 == 0) bytes += '\0';  // before a byte-order mark, it is no mark
        for (int i = 0; i < lines; ++i) {
            bytes += pieces[random() % (sizeof pieces / sizeof pieces[0])];
            if (random() % 3 == 0) bytes += '\r';
            if (random() % 5 != 0) bytes += '\n';
            if (random() % 40 == 0) bytes += '\0';
        }
        // Looked up in the decoded text, and in the bytes as stored, decoded on the way.
        std::string decoded = bytes;
        platform::DecodeTextMode(decoded);
        IniFile loaded;
        loaded.LoadText(decoded.data(), decoded.size());
        for (const CString& section : sections) {
            std::string fromText[5];
            std::string fromBytes[5];
            IniFile::GetValues(decoded.data(), decoded.size(), false, section, keys, fromText, 5);
            IniFile::GetValues(bytes.data(), bytes.size(), true, section, keys, fromBytes, 5);
            for (int k = 0; k < 5; ++k) {
                const CString expected = loaded.GetValue(section, keys[k], "");
                ASSERT_EQ(expected, fromText[k].c_str())
                    << "round " << round << " section " << section << " key " << keys[k];
                ASSERT_EQ(expected, fromBytes[k].c_str())
                    << "round " << round << " section " << section << " key " << keys[k];
            }
        }
    }
}
