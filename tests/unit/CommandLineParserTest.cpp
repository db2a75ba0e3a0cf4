// Tests of CommandLineParser: matching, value taking, validation, relations and
// lookups, and the tool's own option table with the command lines it must handle.
#include "CommandLineParser.h"
#include "PathName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int ParseArgs(CommandLineParser& parser, std::vector<const char*> args, bool caseSensitive = false,
              bool validate = true) {
    args.insert(args.begin(), "halvard.exe");
    return parser.Parse(static_cast<int>(args.size()), args.data(), caseSensitive, validate);
}

// "code|NAME|OTHERS", or "none" when no error is recorded (then 0 and empties).
std::string ErrorOf(const CommandLineParser& parser) {
    int code = -1;
    CString name = "junk";
    CString others = "junk";
    const bool hasError = parser.GetError(code, name, others);
    if (!hasError) {
        return code == 0 && name.IsEmpty() && others.IsEmpty() ? "none" : "bad empty record";
    }
    return std::to_string(code) + "|" + name.GetCharString() + "|" + others.GetCharString();
}

std::string ValueOf(const CommandLineParser& parser, const char* name, int occurrence = 1) {
    CString value = "junk";
    const bool present = parser.GetOptionValue(name, value, occurrence);
    return (present ? "+" : "-") + std::string(value.GetCharString());
}

// The tool's table: driverpath, /W:, /WP:, /M:, /?, /B:.
class CommandLineParserToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        CString windowsOptions;
        windowsOptions.AddItem("/WP:", ",");
        windowsOptions.AddItem("/W:", ",");
        ASSERT_TRUE(parser_.AddParameter("", "driverpath", PathValue, true, true));
        ASSERT_TRUE(
            parser_.AddOption("/W:", MultiWordValue, kEmptyList, windowsOptions, false, true));
        ASSERT_TRUE(parser_.AddOption("/WP:", PathValue, kEmptyList, windowsOptions, false, false));
        ASSERT_TRUE(parser_.AddOption("/M:", MultiWordValue, kEmptyList, kEmptyList, false, true));
        ASSERT_TRUE(parser_.AddOption("/?", Switch, kEmptyList, kEmptyList, false, true));
        ASSERT_TRUE(parser_.AddOption("/B:", PathValue, kEmptyList, kEmptyList, false, true));
    }

    int Parse(std::vector<const char*> args) { return ParseArgs(parser_, std::move(args)); }

    CommandLineParser parser_;
};

TEST_F(CommandLineParserToolTest, TypicalCommandLine) {
    EXPECT_EQ(0, Parse({"C:\\drv", "/W:5", "/M:6123", "/B:setdrv.bat"}));
    EXPECT_EQ("none", ErrorOf(parser_));
    PathName path = "junk";
    EXPECT_TRUE(parser_.GetOptionPath("", path, 1));
    EXPECT_EQ("C:\\drv", std::string(path.Text().GetCharString()));
    EXPECT_EQ("+C:\\drv", ValueOf(parser_, "driverpath"));
    EXPECT_EQ("+5", ValueOf(parser_, "/W:"));
    EXPECT_EQ("+6123", ValueOf(parser_, "/M:"));
    EXPECT_EQ("+setdrv.bat", ValueOf(parser_, "/B:"));
    EXPECT_EQ("-", ValueOf(parser_, "/WP:"));
    EXPECT_FALSE(parser_.GetOptionPath("/WP:", path, 1));
    EXPECT_TRUE(path.IsEmpty());
}

TEST_F(CommandLineParserToolTest, NoArgumentsRequiresDriverPath) {
    EXPECT_EQ(1, Parse({}));
    EXPECT_EQ("2|driverpath|", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, HelpAloneIsPresentDespiteMissingDriverPath) {
    EXPECT_EQ(1, Parse({"/?"}));
    EXPECT_TRUE(parser_.IsOptionPresent("/?", 1));
    EXPECT_EQ("2|driverpath|", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, HelpAfterInvalidArgumentIsNotSeen) {
    EXPECT_EQ(1, Parse({"C:\\drv", "Bad", "/?"}));
    EXPECT_FALSE(parser_.IsOptionPresent("/?", 1));
    EXPECT_EQ("1|Bad|", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, SeparateWindowsValueIsAbsorbedAfterABlank) {
    EXPECT_EQ(0, Parse({"C:\\drv", "/W:", "5"}));
    EXPECT_EQ("+ 5", ValueOf(parser_, "/W:"));
}

TEST_F(CommandLineParserToolTest, DriverPathAfterMultiWordOptionIsAbsorbed) {
    EXPECT_EQ(1, Parse({"/M:6123", "C:\\drv", "/B:x.bat"}));
    EXPECT_EQ("+6123 C:\\drv", ValueOf(parser_, "/M:"));
    EXPECT_EQ("+x.bat", ValueOf(parser_, "/B:"));
    EXPECT_EQ("2|driverpath|", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, SecondPositionalArgumentIsInvalidAsTyped) {
    EXPECT_EQ(1, Parse({"C:\\drv", "/B:x.bat", "More\\Dir", "/W:5"}));
    EXPECT_EQ("1|More\\Dir|", ErrorOf(parser_));
    EXPECT_FALSE(parser_.IsOptionPresent("/W:", 1));
}

TEST_F(CommandLineParserToolTest, WindowsOptionsExcludeEachOtherFirstInTableReported) {
    EXPECT_EQ(1, Parse({"C:\\drv", "/WP:D:\\os", "/W:5"}));
    EXPECT_EQ("5|/W:|/WP:", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, EmptyWindowsValueIsAllowed) {
    EXPECT_EQ(0, Parse({"C:\\drv", "/W:"}));
    EXPECT_EQ("+", ValueOf(parser_, "/W:"));
}

TEST_F(CommandLineParserToolTest, EmptyMediaPathIsCodeThree) {
    EXPECT_EQ(1, Parse({"C:\\drv", "/WP:"}));
    EXPECT_EQ("3|/WP:|", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, UndeclaredOptionIsTakenAsDriverPath) {
    EXPECT_EQ(1, Parse({"/X:foo", "C:\\drv"}));
    EXPECT_EQ("+/X:foo", ValueOf(parser_, ""));
    EXPECT_EQ("1|C:\\drv|", ErrorOf(parser_));
}

TEST_F(CommandLineParserToolTest, LowerCaseNamesMatchAndValuesKeepTheirCase) {
    EXPECT_EQ(0, Parse({"c:\\Drv", "/w:win2008Server", "/b:Out.bat"}));
    EXPECT_EQ("+win2008Server", ValueOf(parser_, "/W:"));
    EXPECT_EQ("+c:\\Drv", ValueOf(parser_, "driverpath"));
    // Lookups inside the program are case-sensitive.
    EXPECT_EQ("-", ValueOf(parser_, "/b:"));
    EXPECT_FALSE(parser_.IsOptionPresent("/w:", 1));
}

TEST_F(CommandLineParserToolTest, RepeatedOptionIsInvalidUnlessAbsorbedOrPositionalIsFree) {
    EXPECT_EQ(1, Parse({"C:\\drv", "/B:a", "/b:b"}));
    EXPECT_EQ("1|/b:b|", ErrorOf(parser_));

    CommandLineParser parser;
    ASSERT_TRUE(parser.AddParameter("", "driverpath", PathValue, true, true));
    ASSERT_TRUE(parser.AddOption("/M:", MultiWordValue, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/B:", PathValue, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(0, ParseArgs(parser, {"/B:a", "/B:b", "/M:1", "/M:2"}));
    EXPECT_EQ("+/B:b", ValueOf(parser, ""));
    EXPECT_EQ("+1 /M:2", ValueOf(parser, "/M:"));
}

TEST(CommandLineParser, NoArgumentsWithoutValidationSucceeds) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddParameter("", "driverpath", PathValue, true, true));
    EXPECT_EQ(0, ParseArgs(parser, {}, false, false));
    EXPECT_EQ("none", ErrorOf(parser));
    EXPECT_EQ("-", ValueOf(parser, ""));
}

TEST(CommandLineParser, PrefixNamesGoToTheFirstFreeRecord) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/A", TextValue, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/AB", TextValue, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(0, ParseArgs(parser, {"/ABx", "/ABy"}));
    EXPECT_EQ("+Bx", ValueOf(parser, "/A"));
    EXPECT_EQ("+y", ValueOf(parser, "/AB"));
}

TEST(CommandLineParser, CaseSensitiveParseDoesNotFoldNames) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/W:", TextValue, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(1, ParseArgs(parser, {"/w:5"}, true));
    EXPECT_EQ("1|/w:5|", ErrorOf(parser));
}

TEST(CommandLineParser, NameEndingInBlankTakesTheNextArgument) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/F ", TextValue, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/L ", MultiWordValue, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/G", Switch, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(0, ParseArgs(parser, {"/f", "Value", "/L", "a", "b", "/G"}));
    EXPECT_EQ("+Value", ValueOf(parser, "/F "));
    EXPECT_EQ("+a b", ValueOf(parser, "/L "));
    EXPECT_TRUE(parser.IsOptionPresent("/G", 1));

    CommandLineParser inOne;
    ASSERT_TRUE(inOne.AddOption("/F ", TextValue, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(inOne.AddOption("/G", Switch, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(0, ParseArgs(inOne, {"/F Value"}));
    EXPECT_EQ("+Value", ValueOf(inOne, "/F "));

    CommandLineParser beforeOption;
    ASSERT_TRUE(beforeOption.AddOption("/F ", TextValue, kEmptyList, kEmptyList, false, false));
    ASSERT_TRUE(beforeOption.AddOption("/G", Switch, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(1, ParseArgs(beforeOption, {"/F", "/G"}));
    EXPECT_EQ("3|/F |", ErrorOf(beforeOption));

    CommandLineParser glued;
    ASSERT_TRUE(glued.AddOption("/F ", TextValue, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(1, ParseArgs(glued, {"/Fx"}));
    EXPECT_EQ("1|/Fx|", ErrorOf(glued));
}

TEST(CommandLineParser, NumberValuesMustBeCanonical32BitDecimals) {
    const char* const good[] = {"12", "-12", "0", "2147483647", "-2147483648"};
    const char* const bad[] = {"012", "+12",        "1.5",         "12a",        " 12",
                               "-0",  "2147483648", "-2147483649", "99999999999"};
    for (const char* value : good) {
        CommandLineParser parser;
        ASSERT_TRUE(parser.AddParameter("/N:", "count", NumberValue, false, false));
        const std::string argument = std::string("/N:") + value;
        EXPECT_EQ(0, ParseArgs(parser, {argument.c_str()})) << value;
    }
    for (const char* value : bad) {
        CommandLineParser parser;
        ASSERT_TRUE(parser.AddParameter("/N:", "count", NumberValue, false, false));
        const std::string argument = std::string("/N:") + value;
        EXPECT_EQ(1, ParseArgs(parser, {argument.c_str()})) << value;
        EXPECT_EQ("4|count|", ErrorOf(parser)) << value;
    }
}

TEST(CommandLineParser, EmptyNumberIsCheckedOnlyForEmptiness) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/N:", NumberValue, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddParameter("/K:", "key", NumberValue, false, false));
    EXPECT_EQ(1, ParseArgs(parser, {"/N:", "/K:"}));
    EXPECT_EQ("3|key|", ErrorOf(parser));
}

TEST(CommandLineParser, UnknownKindEndsTheParseWithoutAnErrorRecord) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/G", Switch, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/Z", 7, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(0, ParseArgs(parser, {"/G"}));  // the odd record is never reached
    CommandLineParser reached;
    ASSERT_TRUE(reached.AddOption("/Z", 0, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(reached.AddOption("/G", Switch, kEmptyList, kEmptyList, false, true));
    EXPECT_EQ(1, ParseArgs(reached, {"/G"}));
    EXPECT_EQ("none", ErrorOf(reached));
    EXPECT_FALSE(reached.IsOptionPresent("/G", 1));
}

// Switches /A, /B, /C; the option under test /R is declared last.
class CommandLineParserRelationTest : public ::testing::Test {
protected:
    int Run(const char* requires, const char* excludes, std::vector<const char*> args) {
        for (const char* name : {"/A", "/B", "/C"}) {
            EXPECT_TRUE(parser_.AddOption(name, Switch, kEmptyList, kEmptyList, false, true));
        }
        EXPECT_TRUE(parser_.AddOption("/R", Switch, requires, excludes, false, true));
        return ParseArgs(parser_, std::move(args));
    }
    CommandLineParser parser_;
};

TEST_F(CommandLineParserRelationTest, RequiresOneItem) {
    EXPECT_EQ(1, Run("/A", kEmptyList, {"/R", "/B"}));
    EXPECT_EQ("6|/R|/A", ErrorOf(parser_));
}

TEST_F(CommandLineParserRelationTest, RequiresSeveralItemsReportsTheWholeList) {
    EXPECT_EQ(1, Run("/A,/B", kEmptyList, {"/R", "/C"}));
    EXPECT_EQ("6|/R|/A,/B", ErrorOf(parser_));
}

TEST_F(CommandLineParserRelationTest, RequiresIsSatisfiedByAnyItem) {
    EXPECT_EQ(0, Run("/A,/B", kEmptyList, {"/B", "/R"}));
}

TEST_F(CommandLineParserRelationTest, ExcludesReportsTheFirstPresentItemInListOrder) {
    EXPECT_EQ(1, Run(kEmptyList, "/R,/C,/B", {"/B", "/C", "/R"}));
    EXPECT_EQ("5|/R|/C", ErrorOf(parser_));
}

TEST_F(CommandLineParserRelationTest, ExcludesIsCheckedBeforeRequires) {
    EXPECT_EQ(1, Run("/A", "/B", {"/B", "/R"}));
    EXPECT_EQ("5|/R|/B", ErrorOf(parser_));
}

TEST_F(CommandLineParserRelationTest, OccurrenceSuffixPassesOverPresentRecords) {
    // "/C~2": the first present record (/A) is passed over, then /C is found.
    EXPECT_EQ(0, Run("/C~2", kEmptyList, {"/A", "/C", "/R"}));
}

TEST_F(CommandLineParserRelationTest, OccurrenceSuffixCanPassOverTheMatch) {
    // /B is the first present record, so it is passed over and never compared.
    EXPECT_EQ(1, Run("/B~2", kEmptyList, {"/B", "/R"}));
    EXPECT_EQ("6|/R|/B~2", ErrorOf(parser_));
}

TEST_F(CommandLineParserRelationTest, ZeroOrNonNumericSuffixNeverFinds) {
    EXPECT_EQ(0, Run(kEmptyList, "/A~0,/A~x", {"/A", "/R"}));
}

TEST_F(CommandLineParserRelationTest, ExcludedItemIsReportedWithoutItsSuffix) {
    EXPECT_EQ(1, Run(kEmptyList, "/A~1", {"/A", "/R"}));
    EXPECT_EQ("5|/R|/A", ErrorOf(parser_));
}

TEST(CommandLineParser, OccurrenceCountingIncludesTheRecordItself) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/R", Switch, "/C~2", kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/B", Switch, kEmptyList, kEmptyList, false, true));
    ASSERT_TRUE(parser.AddOption("/C", Switch, kEmptyList, kEmptyList, false, true));
    // /R itself is the first present record and counts "~2" down; then /C is found.
    EXPECT_EQ(0, ParseArgs(parser, {"/R", "/C"}));
}

TEST(CommandLineParser, OptionWithDisplayNameIsListedUnderItOnly) {
    CommandLineParser byDisplay;
    ASSERT_TRUE(byDisplay.AddParameter("/C", "cee", Switch, false, true));
    ASSERT_TRUE(byDisplay.AddOption("/E", Switch, "cee", kEmptyList, false, true));
    EXPECT_EQ(0, ParseArgs(byDisplay, {"/C", "/E"}));

    CommandLineParser byName;
    ASSERT_TRUE(byName.AddParameter("/C", "cee", Switch, false, true));
    ASSERT_TRUE(byName.AddOption("/D", Switch, "/C", kEmptyList, false, true));
    EXPECT_EQ(1, ParseArgs(byName, {"/C", "/D"}));
    EXPECT_EQ("6|/D|/C", ErrorOf(byName));
}

TEST(CommandLineParser, FirstFailingRecordInTableOrderIsReported) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddOption("/Q", Switch, kEmptyList, kEmptyList, true, true));
    ASSERT_TRUE(parser.AddOption("/E:", TextValue, kEmptyList, kEmptyList, false, false));
    EXPECT_EQ(1, ParseArgs(parser, {"/E:"}));
    EXPECT_EQ("2|/Q|", ErrorOf(parser));
}

TEST(CommandLineParser, LookupsCountOccurrencesOfNameOrDisplayName) {
    CommandLineParser parser;
    ASSERT_TRUE(parser.AddParameter("", "first", TextValue, false, true));
    ASSERT_TRUE(parser.AddParameter("", "second", TextValue, false, true));
    ASSERT_TRUE(parser.AddParameter("", "third", TextValue, false, true));
    EXPECT_EQ(0, ParseArgs(parser, {"one", "two"}));
    EXPECT_EQ("+one", ValueOf(parser, "", 0));
    EXPECT_EQ("+one", ValueOf(parser, "", 1));
    EXPECT_EQ("+two", ValueOf(parser, "", 2));
    EXPECT_EQ("-", ValueOf(parser, "", 3));  // declared, not given
    EXPECT_EQ("-", ValueOf(parser, "", 4));  // no such record
    EXPECT_EQ("+two", ValueOf(parser, "second"));
    EXPECT_EQ("-", ValueOf(parser, "second", 2));
    EXPECT_FALSE(parser.IsOptionPresent("Second", 1));
}

}  // namespace
