// The application object's construction and its run flow: each stage either
// hands on to the next or ends the run with its exit code.
#include "DriverSearchTool.h"

#include "ErrorHandler.h"
#include "Version.h"
#include "WindowsVersionCatalogue.h"

DriverSearchTool::DriverSearchTool()
    : programName(""),
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

void DriverSearchTool::PrintLine(const CString& text) const { WriteConsoleLine(text); }

void DriverSearchTool::PrintLine(std::string_view first, std::string_view second) const {
    WriteConsoleLine(first, second);
}

int DriverSearchTool::Run(int argc, const char* const* argv) {
    PrintLine("\nHalvard Started...");
    int result = HandleCommandLine(argc, argv);
    if (result != kContinue) return result;

    const int detected = hasMediaPath ? DetectWindowsVersion(mediaPath) : kContinue;
    if (detected == kGeneralError) return kGeneralError;  // a read failed: said already
    if (detected != kContinue) {
        PrintLine(CString("\nNo ") + "PRODSPEC.INI" + " or " + "idwbinfo.txt" + " file found in " +
                  mediaPath.GetFullPath());
        return kMediaNotFound;
    }

    allSets = std::make_unique<CString>();
    TreeWalk::Outcome walked;
    const int found = FindAllDriverSets(driverPath, *allSets, walked);
    // A driver path that could not be read at all is not found; a failure further
    // down leaves no answer to give.
    if (!walked.startListed && (found == 0 || walked.failure.happened())) {
        return kDriverPathNotFound;
    }
    if (walked.failure.happened()) return kGeneralError;
    if (found == 0) {
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

    if (!hasBatchPath) return kSuccessFound;
    PrintLine("\nWriting Batch File...");
    return WriteBatchFile(RemoveDuplicateItems(*finalList), osMatches.get());
}

// The batch file of a run that found no set records zero sets; windowsVersionMatches is
// null when the search ended before the Windows-version filter ran.
int DriverSearchTool::ReportNotFound(const CString* windowsVersionMatches) {
    if (hasBatchPath) {
        PrintLine("Writing Batch File");
        int result = WriteBatchFile(CString(), windowsVersionMatches);
        if (result != kContinue) return result;
    }
    PrintLine("Driver Set not Found");
    return kSuccessNotFound;
}
