// DriverSearchTool: the application object. It holds all the state of one run;
// Run handles the command line, selects the target Windows version, finds and
// filters the driver sets, reports and chooses the latest, and writes the batch
// file, returning the process exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CString.h"
#include "DriverSetStore.h"
#include "PathName.h"
#include "Platform.h"
#include "TreeWalk.h"

// Exit codes of the tool. kContinue is what a stage returns when it went well
// and the run goes on; a finished run that found sets ends with kSuccessFound.
enum ReturnCode {
    kContinue = 0,
    kSuccessFound = 0,
    kSuccessNotFound = 1,
    kSyntaxError = 2,
    kBatchFileError = 3,
    kDriverPathNotFound = 4,
    kMediaNotFound = 5,
    kGeneralError = 6
};

class IniFile;

class DriverSearchTool {
public:
    DriverSearchTool();
    ~DriverSearchTool();
    DriverSearchTool(const DriverSearchTool&) = delete;
    DriverSearchTool& operator=(const DriverSearchTool&) = delete;

    int Run(int argc, const char* const* argv);

    // Run flow
    int ReportNotFound(const CString* windowsVersionMatches);
    void PrintLine(const CString& text) const;
    void PrintLine(std::string_view first, std::string_view second) const;  // first + second

    // Command line, banner, usage
    int HandleCommandLine(int argc, const char* const* argv);
    int ParseCommandLine(int argc, const char* const* argv, int& errorCode, CString& optionName,
                         CString& relatedNames);
    void PrintSyntaxError(int errorCode, const CString& optionName, const CString& relatedNames);
    int RefuseUnlistablePaths();
    void PrintBanner();
    void PrintUsage();

    // Windows version catalogue
    int GetWindowsVersionIndex(std::string_view name) const;
    static CString GetWindowsVersionName(int number);
    // Sets the family and architecture members to those of the version.
    void SetWindowsVersion(int number);
    // Makes the version the target: its number, name, family and architecture.
    void SelectWindowsVersion(int number);

    // Media detection
    int DetectWindowsVersion(PathName mediaPath);
    bool ReadMediaFile(const PathName& media, IniFile& file);

    // Search and filters
    // Appends the hits to list; a walk that ended on a failure has said so and
    // appends nothing. keepContents: read each hit and keep its values.
    TreeWalk::Outcome FindFileInTree(const PathName& directory, const CString& fileName,
                                     CString& list, bool keepContents = false);
    void PrintListItems(const CString& list) const;
    void PrintReadError(const char* path, int error) const;
    // walked: how the walk below the driver path ended.
    int FindAllDriverSets(const PathName& driverPath, CString& list, TreeWalk::Outcome& walked);
    int SearchWindowsVersionSets(int number, const CString& sets, CString& list);
    int FilterByWindowsVersion(int number, const CString& sets, CString& list);
    int SearchMachineTypeSets(const CString& machineType, const CString& sets, CString& list);
    int FilterByMachineType(const CString& machineType, const CString& sets, CString& list);

    // Report and latest choice
    void ReportDriverSets(const CString& list);
    CString FindLatestDriverSet(CString& list);
    int ReportDriverSetFound(const CString& path);

    // Batch file
    // windowsVersionMatches: the sets of QL_NOS_All_DDL_Paths; null (no such
    // line) when the run ended before the Windows-version filter.
    int WriteBatchFile(const CString& list, const CString* windowsVersionMatches);
    CString RemoveDuplicateItems(const CString& list) const;

    // The descriptor values of a DrvSet.ini path: read from disk the first time,
    // from memory after that.
    DriverSetInfo GetDriverSetInfo(std::string_view path);

private:
    class SearchEvents;
    struct BatchVariable;
    int WriteBatchLines(const CString& shown, const std::vector<BatchVariable>& variables);
    // Keeps the values a descriptor gives; returns the path as kept with them.
    std::string_view RememberDriverSet(std::string_view path, const std::string& contents);
    void PrintReportLine(const char* label, const char* value) const;

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
    DriverSetStore driverSets_;
    // Where a descriptor read last had to be rewritten to be read (NUL bytes in it).
    std::string descriptorScratch_;
};
