// DriverSearchTool: the application object. It holds all the state of one run;
// Run handles the command line, selects the target Windows version, finds and
// filters the driver sets, reports and chooses the latest, and writes the batch
// file, returning the process exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CString.h"
#include "DriverSetStore.h"
#include "PathName.h"
#include "Platform.h"
#include "TreeWalk.h"

// Exit codes of the tool: what the calling script is told.
enum class ReturnCode {
    kSuccessFound = 0,
    kSuccessNotFound = 1,
    kSyntaxError = 2,
    kBatchFileError = 3,
    kDriverPathNotFound = 4,
    kMediaNotFound = 5,
    kGeneralError = 6
};

// What a stage of the run gives: empty when it went well and the run goes on,
// else the exit code the run ends with.
using StageResult = std::optional<ReturnCode>;
constexpr std::nullopt_t kGoOn = std::nullopt;

// A syntax error the command-line parser recorded: its code (0: none), the
// option it is about and the options related to it.
struct SyntaxError {
    int code = 0;
    CString optionName;
    CString relatedNames;
};

// Where the run's console lines go: the console (Console()), or a test's record.
// Flush comes before anything that must follow the lines written so far.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void Write(std::string_view first, std::string_view second) = 0;  // first + second
    virtual void Flush() = 0;
    static LineSink& Console();
};

class IniFile;

class DriverSearchTool {
public:
    // lines: where the console lines go; fileSystem: what the search reads.
    explicit DriverSearchTool(LineSink& lines = LineSink::Console(),
                              WalkFileSystem& fileSystem = WalkFileSystem::Real());
    ~DriverSearchTool();
    DriverSearchTool(const DriverSearchTool&) = delete;
    DriverSearchTool& operator=(const DriverSearchTool&) = delete;

    ReturnCode Run(int argc, const char* const* argv);

    // Run flow
    ReturnCode ReportNotFound(const CString* windowsVersionMatches);
    void PrintLine(const CString& text) const;
    void PrintLine(std::string_view first, std::string_view second) const;  // first + second

    // Command line, banner, usage
    struct ParsedCommandLine {
        StageResult end;     // empty: the run goes on with the values taken
        SyntaxError syntax;  // the error the parser recorded, if any
    };
    StageResult HandleCommandLine(int argc, const char* const* argv);
    ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);
    void PrintSyntaxError(const SyntaxError& error);
    StageResult RefuseUnlistablePaths();
    void PrintBanner();
    void PrintUsage();

    // Windows version catalogue (GetWindowsVersionIndex: WindowsVersionCatalogue.h)
    // The version's name; sets the family and architecture members to its own.
    CString SetWindowsVersion(int number);

    // Media detection
    StageResult DetectWindowsVersion(PathName media);
    bool ReadMediaFile(const PathName& media, IniFile& file);

    // Search and filters (the counts are the lengths of the lists made)
    // Appends the hits to list, in walk order or in path order (as
    // SortPathItems orders them); a walk that ended on a failure has said so and
    // appends nothing. keepContents: read each hit and keep its values.
    enum class HitOrder { Walk, Path };
    TreeWalk::Outcome FindFileInTree(const PathName& directory, const CString& fileName,
                                     CString& list, bool keepContents = false,
                                     HitOrder order = HitOrder::Walk);
    void PrintListItems(const CString& list) const;
    void PrintReadError(const char* path, int error) const;
    struct SetsFound {
        int count = 0;             // of the list
        TreeWalk::Outcome walked;  // how the walk below the driver path ended
    };
    SetsFound FindAllDriverSets(const PathName& driverPath, CString& list);
    int SearchWindowsVersionSets(int number, const CString& sets, CString& list);
    int FilterByWindowsVersion(int number, const CString& sets, CString& list);
    int SearchMachineTypeSets(const CString& machineType, const CString& sets, CString& list);
    int FilterByMachineType(const CString& machineType, const CString& sets, CString& list);

    // Report and latest choice
    void ReportDriverSets(const CString& list);
    CString FindLatestDriverSet(CString& list);
    void ReportDriverSetFound(const CString& path);

    // Batch file
    // windowsVersionMatches: the sets of QL_NOS_All_DDL_Paths; null (no such
    // line) when the run ended before the Windows-version filter.
    StageResult WriteBatchFile(const CString& list, const CString* windowsVersionMatches);
    CString RemoveDuplicateItems(const CString& list) const;

    // The descriptor values of a DrvSet.ini path: read from disk the first time,
    // from memory after that.
    DriverSetInfo GetDriverSetInfo(std::string_view path);

private:
    class SearchEvents;
    struct BatchVariable;
    StageResult WriteBatchLines(const CString& shown, const std::vector<BatchVariable>& variables);
    // Keeps the values a descriptor gives; returns the path as kept with them.
    std::string_view RememberDriverSet(std::string_view path, const std::string& contents);
    // The absolute directory of a set in the final list; the one of the set
    // asked for last is kept, so the chosen set's, asked for by the found line
    // and then first by the batch file, is made once. The view lasts until the
    // next call.
    std::string_view AbsoluteDirectoryOf(std::string_view set);
    void PrintReportLine(const char* label, const char* value) const;

    LineSink& lines;
    WalkFileSystem& fileSystem;
    CString programName;
    CString version;
    CString machineTypes;
    CString osVersionName;
    CString osFamily;
    CString osArch;
    CString osArchType;
    PathName driverPath;
    PathName batchPath;
    PathName mediaPath;
    bool hasMachineTypes;
    bool hasBatchPath;
    bool hasMediaPath;
    int32_t osVersionIndex;
    std::unique_ptr<CString> allSets;
    std::unique_ptr<CString> machineTypeMatches;
    std::unique_ptr<CString> osMatches;

    // Descriptor values by path text, filled as the tree walk reads each file.
    DriverSetStore driverSets;
    // The set AbsoluteDirectoryOf was asked for last, and its directory.
    std::string absoluteSet;
    std::string absoluteDirectory;
    // Where a descriptor read last had to be rewritten to be read (NUL bytes in it).
    std::string descriptorScratch;
};
