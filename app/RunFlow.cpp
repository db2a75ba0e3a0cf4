// The application object's construction and its run flow: each stage either
// hands on to the next or ends the run with its exit code.
#include "DriverSearchTool.h"

#include "ErrorHandler.h"
#include "Version.h"
#include "WindowsVersionCatalogue.h"

namespace {

// The console, through the buffer that gathers its lines into blocks.
class ConsoleSink : public LineSink {
public:
    void Write(std::string_view first, std::string_view second) override {
        WriteConsoleLine(first, second);
    }
    void Flush() override { FlushConsoleLines(); }
};

}  // namespace

LineSink& LineSink::Console() {
    static ConsoleSink console;
    return console;
}

DriverSearchTool::DriverSearchTool(LineSink& lines, WalkFileSystem& fileSystem)
    : lines(lines),
      fileSystem(fileSystem),
      programName(""),
      version(kHalvardVersion),
      osVersionName("Win2003Server"),
      osFamily(""),
      osArch(""),
      osArchType(""),
      hasMachineTypes(false),
      hasBatchPath(false),
      hasMediaPath(false),
      osVersionIndex(kDefaultWindowsVersion) {}

DriverSearchTool::~DriverSearchTool() = default;

void DriverSearchTool::PrintLine(const CString& text) const {
    lines.Write(text.View(), std::string_view());
}

void DriverSearchTool::PrintLine(std::string_view first, std::string_view second) const {
    lines.Write(first, second);
}

ReturnCode DriverSearchTool::Run(int argc, const char* const* argv) {
    PrintLine("\nHalvard Started...");
    if (StageResult end = HandleCommandLine(argc, argv)) return *end;
    if (hasMediaPath) {
        if (StageResult end = DetectWindowsVersion(mediaPath)) {
            if (*end == ReturnCode::kGeneralError) return *end;  // a read failed: said already
            PrintLine(CString("\nNo ") + "PRODSPEC.INI" + " or " + "idwbinfo.txt" +
                      " file found in " + mediaPath.GetFullPath());
            return ReturnCode::kMediaNotFound;
        }
    }

    allSets = std::make_unique<CString>();
    const SetsFound found = FindAllDriverSets(driverPath, *allSets);
    // A driver path that could not be read at all is not found; a failure further
    // down leaves no answer to give.
    const TreeWalk::Outcome& walked = found.walked;
    if (!walked.startListed && (found.count == 0 || walked.failure.happened())) {
        return ReturnCode::kDriverPathNotFound;
    }
    if (walked.failure.happened()) return ReturnCode::kGeneralError;
    if (found.count == 0) {
        // The Windows-version filter, which names the target's family and architecture,
        // does not run: the batch file names them all the same, whether /W: was given or not.
        SetWindowsVersion(osVersionIndex);
        return ReportNotFound(nullptr);
    }

    osMatches = std::make_unique<CString>();
    int count = SearchWindowsVersionSets(osVersionIndex, *allSets, *osMatches);
    if (count == 0) return ReportNotFound(osMatches.get());

    CString* finalList = osMatches.get();
    if (hasMachineTypes) {
        machineTypeMatches = std::make_unique<CString>();
        // Each type filters the Windows-version matches; a type that matches nothing ends
        // the run as not found; the sets of the last type are the result.
        for (const CString& machineType : machineTypes.GetItems(",")) {
            machineTypeMatches->Empty();
            count = SearchMachineTypeSets(machineType, *osMatches, *machineTypeMatches);
            if (count == 0) return ReportNotFound(osMatches.get());
            finalList = machineTypeMatches.get();
        }
    }

    ReportDriverSets(*finalList);
    CString chosen = count == 1 ? finalList->GetItem(0, ",") : FindLatestDriverSet(*finalList);
    ReportDriverSetFound(chosen);

    if (!hasBatchPath) return ReturnCode::kSuccessFound;
    PrintLine("\nWriting Batch File...");
    const StageResult written = WriteBatchFile(RemoveDuplicateItems(*finalList), osMatches.get());
    return written.value_or(ReturnCode::kSuccessFound);
}

// The batch file of a run that found no set records zero sets; windowsVersionMatches is
// null when the search ended before the Windows-version filter ran.
ReturnCode DriverSearchTool::ReportNotFound(const CString* windowsVersionMatches) {
    if (hasBatchPath) {
        PrintLine("Writing Batch File");
        if (StageResult end = WriteBatchFile(CString(), windowsVersionMatches)) return *end;
    }
    PrintLine("Driver Set not Found");
    return ReturnCode::kSuccessNotFound;
}
