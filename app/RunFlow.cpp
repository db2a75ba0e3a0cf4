// The application object's construction and its run flow: each stage either
// hands on to the next or ends the run with its exit code.
#include "DriverSearchTool.h"

#include "ErrorHandler.h"

DriverSearchTool::DriverSearchTool()
    : programName(""),
      version("1.1"),
      osVersionName("Win2003Server"),
      osFamily(""),
      osArch(""),
      osArchType(""),
      hasMachineTypes(false),
      hasBatchPath(false),
      hasMediaPath(false),
      osVersionIndex(1),
      outputLevel(3) {}

DriverSearchTool::~DriverSearchTool() = default;

void DriverSearchTool::PrintLine(const CString& text) const { PrintLine(text, 3); }

void DriverSearchTool::PrintLine(const CString& text, int threshold) const {
    if (outputLevel >= threshold) WriteConsoleLine(text);
}

void DriverSearchTool::PrintLine(std::string_view first, std::string_view second) const {
    if (outputLevel >= 3) WriteConsoleLine(first, second);
}

int DriverSearchTool::Run(int argc, const char* const* argv) {
    PrintLine("\nHalvard Started...");
    int result = HandleCommandLine(argc, argv);
    if (result != kSuccessFound) return result;

    if (hasMediaPath && DetectWindowsVersion(mediaPath) != kSuccessFound) {
        PrintLine(CString("\nNo ") + "PRODSPEC.INI" + " or " + "idwbinfo.txt" + " file found in " +
                  mediaPath.GetFullPath());
        return kMediaNotFound;
    }

    allSets = std::make_unique<CString>();
    if (FindAllDriverSets(driverPath, *allSets) == 0) {
        // Nothing could be read there: an error, not a search that found nothing.
        return driverPathUnreadable_ ? kDriverPathNotFound : ReportNotFound();
    }

    osMatches = std::make_unique<CString>();
    int count = SearchWindowsVersionSets(osVersionIndex, *allSets, *osMatches);
    if (count == 0) return ReportNotFound();

    CString* finalList = osMatches.get();
    if (hasMachineTypes) {
        machineTypeMatches = std::make_unique<CString>();
        // Each type filters the Windows-version matches; a type that matches nothing ends
        // the run as not found; the sets of the last type are the result.
        for (const CString& machineType : machineTypes.GetItems(",")) {
            machineTypeMatches->Empty();
            count = SearchMachineTypeSets(machineType, *osMatches, *machineTypeMatches);
            if (count == 0) return ReportNotFound();
            finalList = machineTypeMatches.get();
        }
    }

    ReportDriverSets(*finalList);
    CString chosen = count == 1 ? finalList->GetItem(0, ",") : FindLatestDriverSet(*finalList);
    ReportDriverSetFound(chosen);

    if (!hasBatchPath) return kSuccessFound;
    PrintLine("\nWriting Batch File...");
    return WriteBatchFile(RemoveDuplicateItems(*finalList));
}

int DriverSearchTool::ReportNotFound() {
    if (hasBatchPath) {
        PrintLine("Writing Batch File");
        int result = WriteBatchFile(RemoveDuplicateItems(foundSetDirectories));
        if (result != kSuccessFound) return result;
    }
    PrintLine("Driver Set not Found");
    return kSuccessNotFound;
}
