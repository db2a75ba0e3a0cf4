// DriverSearchTool: the application object. It holds all the state of one run;
// Run handles the command line, selects the target Windows version, finds and
// filters the driver sets, reports and chooses the latest, and writes the batch
// file, returning the process exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "CString.h"
#include "PathName.h"
#include "Platform.h"

// Exit codes of the tool.
enum ReturnCode {
    kSuccessFound = 0,
    kSuccessNotFound = 1,
    kSyntaxError = 2,
    kBatchFileError = 3,
    kDriverPathNotFound = 4,
    kMediaNotFound = 5,
    kGeneralError = 6
};

// The values of a DrvSet.ini that the tool uses, read once per file and kept
// compactly: tens of thousands of them stay in memory for the whole run.
class DriverSetInfo {
public:
    enum Field {
        WindowsVersion,
        SupportedSystems,
        KastrelVersion,
        QuillonVersion,
        CreationDate,
        CreationTime,
        BuildId,
        FieldCount
    };

    // values[i] is the value of field i (none holds a NUL byte).
    void Assign(const std::string* values, int windowsVersionIndex);
    const char* Get(Field field) const;  // the value; "" when the key is missing
    int WindowsVersionIndex() const { return windowsVersionIndex_; }

private:
    std::string values_;  // the field values in field order, each ended by a NUL
    int windowsVersionIndex_ = 1;
};

class DriverSearchTool {
public:
    DriverSearchTool();
    ~DriverSearchTool();
    DriverSearchTool(const DriverSearchTool&) = delete;
    DriverSearchTool& operator=(const DriverSearchTool&) = delete;

    int Run(int argc, const char* const* argv);

    // Run flow
    int ReportNotFound();
    void PrintLine(const CString& text) const;
    void PrintLine(const CString& text, int threshold) const;

    // Command line, banner, usage
    int HandleCommandLine(int argc, const char* const* argv);
    int ParseCommandLine(int argc, const char* const* argv, int& errorCode, CString& optionName,
                         CString& relatedNames);
    void PrintSyntaxError(int errorCode, const CString& optionName, const CString& relatedNames);
    void PrintBanner();
    void PrintUsage();

    // Windows version catalogue
    int GetWindowsVersionIndex(const CString& name) const;
    CString SetWindowsVersion(int number);

    // Media detection
    int DetectWindowsVersion(PathName mediaPath);

    // Search and filters
    void FindFileInTree(const PathName& directory, const CString& fileName, CString& list);
    void PrintListItems(const CString& list) const;
    int FindAllDriverSets(const PathName& driverPath, CString& list);
    int SearchWindowsVersionSets(int number, const CString& sets, CString& list);
    int FilterByWindowsVersion(int number, const CString& sets, CString& list);
    int SearchMachineTypeSets(const CString& machineType, const CString& sets, CString& list);
    int FilterByMachineType(const CString& machineType, const CString& sets, CString& list);

    // Report and latest choice
    void ReportDriverSets(const CString& list);
    CString FindLatestDriverSet(CString& list);
    double GetCreationTimestamp(const CString& date, const CString& time) const;
    int GetMonthIndex(const CString& month) const;
    int ReportDriverSetFound(const CString& path);
    // Reorders items (and their timestamps) latest first, as a selection sort
    // that keeps the earliest position among equal timestamps does.
    static void OrderLatestFirst(std::vector<CString>& items, std::vector<double>& timestamps);

    // Batch file
    int WriteBatchFile(const CString& list);
    CString RemoveDuplicateItems(const CString& list) const;

    // The descriptor values of a DrvSet.ini path: read from disk the first time,
    // from memory after that.
    const DriverSetInfo& GetDriverSetInfo(const CString& path);

private:
    struct TreeWalk;
    void FindFileInTree(const PathName& directory, const CString& fileName, CString& list,
                        bool keepContents);
    void WalkDirectory(const PathName& directory, const platform::FileId& id, TreeWalk& walk);
    bool TakeHit(const PathName& candidate, TreeWalk& walk);
    void RememberDriverSet(const CString& path, const std::string& contents);
    void ReadDriverSetInfo(const std::string& contents, DriverSetInfo& info) const;
    void PrintReportLine(const char* label, const char* value) const;

    CString programName;
    CString version;
    CString machineTypes;
    CString osVersionName;
    CString variableName;
    CString foundSetDirectories;
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
    int32_t outputLevel;
    std::unique_ptr<CString> allSets;
    std::unique_ptr<CString> machineTypeMatches;
    std::unique_ptr<CString> osMatches;

    struct PathHash {
        std::size_t operator()(const CString& path) const;
    };
    // The driver path itself could not be listed: the search saw nothing.
    bool driverPathUnreadable_ = false;
    // Descriptor values by path text, filled as the tree walk reads each file.
    std::unordered_map<CString, DriverSetInfo, PathHash> driverSetInfo_;
};
