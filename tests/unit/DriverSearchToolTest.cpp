// The tool's own rules as plain functions (batch text, media files, path
// lists), and the run flow in-process on an in-memory repository: every exit
// code the calling script can be given, with the lines that go with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BatchFileWriter.h"
#include "DriverSearchTool.h"
#include "MediaDetection.h"
#include "MemoryFileSystem.h"
#include "PathList.h"
#include "ScratchDir.h"
#include "WindowsVersionCatalogue.h"

namespace {

TEST(BatchText, EscapingAndSafetyOfValues) {
    const struct {
        const char* value;
        const char* escaped;
        bool safe;
    } kCases[] = {
        {"C:\\drivers\\w23", "C:\\drivers\\w23", true},
        {"a&b|c<d>e^f", "a^&b^|c^<d^>e^^f", true},
        {"100%", "100%%", true},
        {"%PATH%", "%%PATH%%", true},
        {"", "", true},
        {"x\"&\"y", "x\"&\"y", false},  // a quote: unsafe, and & inside quotes stays
        {"line\nbreak", "line\nbreak", false},
        {"cr\rhere", "cr\rhere", false},
        {"ctrl\x1Az", "ctrl\x1Az", false},
    };
    for (const auto& c : kCases) {
        std::string line = "SET X=";
        batch_text::AppendEscaped(line, c.value);
        EXPECT_EQ(line, std::string("SET X=") + c.escaped) << c.value;
        EXPECT_EQ(batch_text::IsSafe(c.value), c.safe) << c.value;
    }
    EXPECT_EQ(batch_text::DoublePercents("a%~b%%.bat"), CString("a%%~b%%%%.bat"));
}

TEST(BatchText, RelativeDirectoriesBelowTheDriverPath) {
    const struct {
        const char* sets;
        const char* driverPath;
        const char* text;
        bool safe;
    } kCases[] = {
        {"", "r", "", true},
        {"r\\a\\DrvSet.ini", "r", "\"a\"", true},
        {"r\\a\\DrvSet.ini,r\\b\\c\\DrvSet.ini", "r", "\"a\";\"b\\c\"", true},
        {"r\\DrvSet.ini", "r", "\"\"", true},          // the driver path itself
        {"r\\a\\DrvSet.ini", "r\\", "\"a\"", true},    // typed with a separator
        {"r\\x&y\\DrvSet.ini", "r", "\"x&y\"", true},  // escaped when written
        {"r\\q\"q\\DrvSet.ini", "r", "\"q\"q\"", false},
    };
    for (const auto& c : kCases) {
        const batch_text::Value value = batch_text::RelativeDirectories(c.sets, c.driverPath);
        EXPECT_EQ(value.text, c.text) << c.sets;
        EXPECT_EQ(value.safe, c.safe) << c.sets;
    }
}

TEST(MediaRules, FileKindsAndVersions) {
    using media_rules::MediaFile;
    EXPECT_EQ(media_rules::KindOfExtension(".INI"), MediaFile::ProductSpec);
    EXPECT_EQ(media_rules::KindOfExtension(".txt"), MediaFile::BuildInfo);
    EXPECT_EQ(media_rules::KindOfExtension(""), MediaFile::None);
    EXPECT_EQ(media_rules::KindOfExtension(".inf"), MediaFile::None);

    const struct {
        const char* product;
        const char* version;  // null: the version no set can match
    } kProducts[] = {
        {"Windows 2000 Server", "Win2000Server"},
        {"Windows 2000 Professional", "Win2000Pro"},
        {"Windows XP Professional", "WinXP"},
        {"Windows Server 2003 x64", "Win2003Serverx64"},
        {"Windows Server 2003", "Win2003Server"},
        {"Windows Server 2003 for IA64", nullptr},
        {"Something else", "Win2003Server"},
        {"Server 2000", "Win2000Server"},  // words in any order
    };
    for (const auto& c : kProducts) {
        const int expected =
            c.version ? GetWindowsVersionIndex(c.version) : kUnlistedWindowsVersion;
        EXPECT_EQ(media_rules::VersionFromProduct(c.product), expected) << c.product;
    }
    EXPECT_EQ(media_rules::VersionFromBuildArch("x86fre", 3),
              GetWindowsVersionIndex("Win2008Server"));
    EXPECT_EQ(media_rules::VersionFromBuildArch("amd64fre", 3),
              GetWindowsVersionIndex("Win2008Serverx64"));
    EXPECT_EQ(media_rules::VersionFromBuildArch("ia64", 3), 3);
}

TEST(PathList, TheInvariantsAndTheDirectoryOfAnItem) {
    EXPECT_EQ(path_list::UnlistableReason("C:\\drivers"), nullptr);
    EXPECT_NE(path_list::UnlistableReason("C:\\a,b"), nullptr);
    EXPECT_NE(path_list::UnlistableReason(" C:\\drivers"), nullptr);
    EXPECT_NE(path_list::UnlistableReason("\tx"), nullptr);
    EXPECT_EQ(path_list::UnlistableReason("x "), nullptr);  // only the start is trimmed
    EXPECT_FALSE(path_list::NameFitsAnItem("a,b"));
    EXPECT_TRUE(path_list::NameFitsAnItem("a b"));

    EXPECT_EQ(path_list::BelowDriverPath("r\\a\\DrvSet.ini", "r"), "a\\DrvSet.ini");
    EXPECT_EQ(path_list::BelowDriverPath("r\\DrvSet.ini", "r\\"), "DrvSet.ini");

    const struct {
        const char* item;
        const char* directory;
    } kItems[] = {
        {"r\\a\\DrvSet.ini", "r\\a"},
        {"\\DrvSet.ini", "\\"},  // a root keeps its separator
        {"C:\\DrvSet.ini", "C:\\"},
        {"\\\\server\\share\\DrvSet.ini", "\\\\server\\share"},
    };
    for (const auto& c : kItems) {
        EXPECT_EQ(path_list::DirectoryOfItem(c.item), c.directory) << c.item;
    }
}

// The lines of a run, as the console would show them, separators as "/".
class RecordingSink : public LineSink {
public:
    void Write(std::string_view first, std::string_view second) override {
        std::string line = std::string(first) + std::string(second);
        std::replace(line.begin(), line.end(), '\\', '/');
        lines.push_back(line);
    }
    void Flush() override { ++flushes; }
    bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::vector<std::string> lines;
    int flushes = 0;
};

std::string Descriptor(const char* version, const char* systems, const char* date) {
    return std::string("[Main]\r\nWindows Version=") + version +
           "\r\nSupported Systems=" + systems + "\r\nCreation Date=" + date +
           "\r\nCreation Time=10:00:00\r\n";
}

// r/w23/old and r/w23/new for Win2003Server (machine 6123 in both, 7340 in new
// only), r/w08 for Win2008Server, and media at m (PRODSPEC.INI) and e (empty).
void MakeRepository(MemoryFileSystem& files) {
    for (const char* directory :
         {"r", "r/w23", "r/w23/old", "r/w23/new", "r/w08", "m", "m/i386", "e", "empty", "r,s"}) {
        files.Directory(directory);
    }
    files.File("r/w23/old/DrvSet.ini", Descriptor("Win2003Server", "6123", "05 Mar 2008"));
    files.File("r/w23/new/DrvSet.ini", Descriptor("Win2003Server", "6123,7340", "05 Mar 2009"));
    files.File("r/w08/DrvSet.ini", Descriptor("Win2008Server", "6123", "05 Mar 2010"));
    files.File("m/i386/PRODSPEC.INI", "[Product Specification]\r\nProduct=Windows XP\r\n");
}

struct Ran {
    ReturnCode code;
    RecordingSink sink;
};

Ran RunTool(MemoryFileSystem& files, std::vector<const char*> args) {
    args.insert(args.begin(), "halvard");
    Ran ran;
    DriverSearchTool tool(ran.sink, files);
    ran.code = tool.Run(static_cast<int>(args.size()), args.data());
    return ran;
}

TEST(RunFlow, EveryExitCodeWithItsLines) {
    const struct {
        std::vector<const char*> args;
        std::vector<MemoryFileSystem::Fault> faults;
        ReturnCode code;
        const char* line;  // a line the run must print
    } kCases[] = {
        {{"r"}, {}, ReturnCode::kSuccessFound, "Driver Set Found!"},
        {{"r", "/M:7340"},
         {},
         ReturnCode::kSuccessFound,
         "Searching for MachineType=7340 Driver Sets..."},
        {{"r", "/W:5"},
         {},
         ReturnCode::kSuccessFound,
         "Searching for Win2008Server Driver Sets..."},
        {{"r", "/W:winxp"}, {}, ReturnCode::kSuccessNotFound, "Driver Set not Found"},
        {{"r", "/M:9999"}, {}, ReturnCode::kSuccessNotFound, "Driver Set not Found"},
        {{"empty"}, {}, ReturnCode::kSuccessNotFound, "Driver Set not Found"},
        {{"r", "/WP:m"}, {}, ReturnCode::kSuccessNotFound, "Windows Version=Windows XP"},
        {{"/?"}, {}, ReturnCode::kSyntaxError, "Device Driver Search Tool"},
        {{"r", "/W:9"}, {}, ReturnCode::kSyntaxError, "Device Driver Search Tool"},
        {{"r", "/X:1"}, {}, ReturnCode::kSyntaxError, "Syntax Error"},
        {{"r", "/W:1", "/WP:m"}, {}, ReturnCode::kSyntaxError, "Syntax Error"},
        {{"nowhere"}, {}, ReturnCode::kDriverPathNotFound, "/nDirectory nowhere Not Found:"},
        {{"r,s"},
         {},
         ReturnCode::kDriverPathNotFound,
         "Driver path with a comma in its name cannot be searched:r,s"},
        {{"r"},
         {{MemoryFileSystem::Call::List, "r", EIO, -1}},
         ReturnCode::kDriverPathNotFound,
         "Searching for all Driver Sets..."},
        {{"r", "/WP:nothing"}, {}, ReturnCode::kMediaNotFound, "/nFile nothing Not Found:"},
        {{"r", "/WP:e"}, {}, ReturnCode::kMediaNotFound, "Searching for idwbinfo.txt in "},
        {{"r"},
         {{MemoryFileSystem::Call::List, "r/w23", EIO, -1}},
         ReturnCode::kGeneralError,
         "Searching for all Driver Sets..."},
        {{"r", "/WP:m"},
         {{MemoryFileSystem::Call::Read, "m/i386/PRODSPEC.INI", EIO, -1}},
         ReturnCode::kGeneralError,
         "Error reading:m/i386/PRODSPEC.INI ("},
        {{"r", "/WP:m/i386/PRODSPEC.INI"},
         {{MemoryFileSystem::Call::Read, "m/i386/PRODSPEC.INI", EIO, 3}},
         ReturnCode::kSuccessNotFound,
         "Windows Version=Windows XP"},  // made again until it is read
    };
    for (const auto& c : kCases) {
        MemoryFileSystem files;
        MakeRepository(files);
        for (const auto& fault : c.faults) files.Fail(fault);
        const Ran ran = RunTool(files, c.args);
        const std::string args = std::string(c.args[0]) + (c.args.size() > 1 ? " ..." : "");
        EXPECT_EQ(ran.code, c.code) << args;
        std::string wanted = c.line;
        std::replace(wanted.begin(), wanted.end(), '\\', '/');
        if (wanted.rfind("/n", 0) == 0) wanted = "\n" + wanted.substr(2);
        const bool printed =
            std::any_of(ran.sink.lines.begin(), ran.sink.lines.end(),
                        [&](const std::string& line) { return line.rfind(wanted, 0) == 0; });
        EXPECT_TRUE(printed) << args << ": no line starts with " << wanted << " in\n"
                             << testing::PrintToString(std::vector<std::string>(
                                    ran.sink.lines.end() -
                                        std::min<std::size_t>(3, ran.sink.lines.size()),
                                    ran.sink.lines.end()));
        EXPECT_EQ(ran.sink.lines.front(), "\nHalvard Started...");
    }
}

TEST(RunFlow, TheLatestSetIsFoundAndWrittenToTheBatchFile) {
    MemoryFileSystem files;
    MakeRepository(files);
    ScratchDir scratch;
    const std::string batch = scratch.Join("out.bat");
    const std::string option = "/B:" + batch;
    const Ran ran = RunTool(files, {"r", option.c_str()});
    ASSERT_EQ(ran.code, ReturnCode::kSuccessFound);

    std::string absolute;
    PathName::FullPathOf("r/w23/new", absolute);
    std::replace(absolute.begin(), absolute.end(), '\\', '/');
    EXPECT_TRUE(ran.sink.Has("\tDriverSetPath:" + absolute));
    EXPECT_GE(ran.sink.flushes, 1);  // before the file is made

    std::ifstream in(batch, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::replace(text.begin(), text.end(), '\\', '/');
    for (const std::string& line :
         {std::string("SET QL_NOS_DDL_Path_#=2\r\n"), "SET QL_NOS_DDL_Path_1=" + absolute + "\r\n",
          std::string("SET QL_NOS_All_DDL_Paths=\"w23/new\";\"w23/old\"\r\n")}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

TEST(RunFlow, BatchFilesThatCannotBeWrittenEndWithThree) {
    MemoryFileSystem files;
    MakeRepository(files);
    files.Directory("r/q\"q");
    files.File("r/q\"q/DrvSet.ini", Descriptor("Win2008Server", "1", "01 Jan 2011"));
    ScratchDir scratch;
    const std::string unsafe = "/B:" + scratch.Join("out.bat");
    const std::string unopenable = "/B:" + scratch.Join("no-such-directory/out.bat");
    for (const auto& args : std::vector<std::vector<const char*>>{{"r", "/W:5", unsafe.c_str()},
                                                                  {"r", unopenable.c_str()}}) {
        const Ran ran = RunTool(files, args);
        EXPECT_EQ(ran.code, ReturnCode::kBatchFileError) << args.back();
        EXPECT_TRUE(
            std::any_of(ran.sink.lines.begin(), ran.sink.lines.end(),
                        [](const std::string& line) { return line.rfind("Error ", 0) == 0; }))
            << args.back();
    }
}

}  // namespace
