// The tool's command line: option table, checks of /W: and the paths, the
// banner, the usage screen and the syntax-error messages.
#include "CommandLineParser.h"
#include "DriverSearchTool.h"
#include "PathList.h"
#include "WindowsVersionCatalogue.h"

namespace {

// Display name: base name of the program, lower case, first three letters upper case.
CString MakeProgramName(int argc, const char* const* argv) {
    if (argc < 1 || argv[0] == nullptr) return CString();
    CString name = PathName(argv[0]).GetBaseName();
    name.MakeLower();
    for (unsigned index = 0; index < 3; ++index) name.MakeUpper(index);
    return name;
}

const char* const kUsageLines[] = {
    "Where...",
    "  driverpath      Fully qualified directory path to start searching for drivers",
    "                      i.e. F:\\kitroot\\drvs",
    "  /M:machinetype  Specifies the machine type to limit the search. Multiple",
    "                      machine types can be specified using",
    "                      a comma  as the delimiter. i.e. /M:6123,7340",
    "  /W:n            Windows version to prefer when searching device drivers",
    "                      0 = Windows 2000 Server",
    "                      1 = Windows 2003 Server (Default)",
    "                      2 = Windows 2000 Professional",
    "                      3 = Windows XP",
    "                      4 = Windows 2003 Server x64",
    "                      5 = Windows 2008 Server",
    "                      6 = Windows 2008 Server x64",
    "                      7 = WindowsPE 2.1 x86",
    "                      8 = WindowsPE 2.1 x64",
    "  /WP:[dir | filename] Fully qualified path to directory to start searching",
    "                      for Windows PRODSPEC.INI or idwbinfo.txt file.",
    "                      e.g. F:\\kitroot\\os\\w23_std ",
    "                      or F:\\kitroot\\os\\w23_std\\i386\\prodspec.ini",
    "                      or F:\\kitroot\\os\\Win2008_x86",
    "  /B:filename    Name of the batch file to place the environment variables",
    "                     Default = .\\DrvSet.bat.",
    "                 Environment Variables are:",
    "                 QL_NOS_Type\t (Win2000,Win2003,Win2008,WinPE21)",
    "                 QL_NOS_Arch\t (I386,AMD64)",
    "                 QL_NOS_Arch_Type(x86,x64)",
    "                 QL_NOS_DDL_Type (Win2000Server,Win2003Server,Win2003Serverx64,"
    "Win2008Server,Win2008Serverx64,WinPE21x86,WinPE21x64)",
    "                 QL_NOS_DDL_Path_# (number of drivers sets found)",
    "                 QL_NOS_DDL_Path_1 (corresponding drivers set)",
    "                 QL_NOS_DDL_Path_2 (corresponding drivers set)",
    "                 QL_NOS_DDL_Path_3 (corresponding drivers set)",
    "                 QL_NOS_All_DDL_Paths semicolon delimited list of drivers sets "
    "relative to the driverpath specified",
    " ",
};

const char* const kReturnCodeTexts[] = {
    " = Success:One or more driver library found",
    " = Success:Zero driver library found",
    " = Error:Command line syntax error",
    " = Error:Writing output batch file",
    " = Error:Driver Path not found",
    " = Error:NOS not found in path /WP:",
    " = Error:General application error",
};

DriverSearchTool::ParsedCommandLine EndedWith(ReturnCode code) {
    DriverSearchTool::ParsedCommandLine result;
    result.end = code;
    return result;
}

}  // namespace

StageResult DriverSearchTool::HandleCommandLine(int argc, const char* const* argv) {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (!parsed.end) return RefuseUnlistablePaths();

    PrintUsage();
    if (parsed.end == ReturnCode::kDriverPathNotFound) {
        PrintLine("\nDirectory " + driverPath.GetPath() + " Not Found:");
    }
    if (parsed.end == ReturnCode::kMediaNotFound) {
        PrintLine("\nFile " + mediaPath.GetPath() + " Not Found:");
    }
    if (parsed.syntax.code != 0) PrintSyntaxError(parsed.syntax);
    return parsed.end;
}

// Found paths travel in comma lists whose items begin with the path as typed
// (PathList.h): a path those lists cannot carry is refused rather than searched
// under a name that is not its own.
StageResult DriverSearchTool::RefuseUnlistablePaths() {
    if (const char* why = path_list::UnlistableReason(driverPath.Text().View())) {
        PrintLine("Driver path" + CString(why) + driverPath.GetPath());
        return ReturnCode::kDriverPathNotFound;
    }
    if (const char* why =
            hasMediaPath ? path_list::UnlistableReason(mediaPath.Text().View()) : nullptr) {
        PrintLine("Media path" + CString(why) + mediaPath.GetPath());
        return ReturnCode::kMediaNotFound;
    }
    return kGoOn;
}

DriverSearchTool::ParsedCommandLine DriverSearchTool::ParseCommandLine(int argc,
                                                                       const char* const* argv) {
    programName = MakeProgramName(argc, argv);

    CommandLineParser parser;
    CString versionOptions;
    versionOptions.AddItem("/WP:", ",");
    versionOptions.AddItem("/W:", ",");
    parser.AddParameter("", "driverpath", PathValue, true, true);
    parser.AddOption("/W:", MultiWordValue, kEmptyList, versionOptions, false, true);
    parser.AddOption("/WP:", PathValue, kEmptyList, versionOptions, false, false);
    parser.AddOption("/M:", MultiWordValue, kEmptyList, kEmptyList, false, true);
    parser.AddOption("/?", Switch, kEmptyList, kEmptyList, false, true);
    parser.AddOption("/B:", PathValue, kEmptyList, kEmptyList, false, true);

    ParsedCommandLine result;
    const int parsed = parser.Parse(argc, argv, false, true);
    if (parsed != 0 && parsed != 1) return EndedWith(ReturnCode::kGeneralError);
    if (parser.IsOptionPresent("/?", 1)) return EndedWith(ReturnCode::kSyntaxError);
    if (parsed == 1) {
        result.end = ReturnCode::kSyntaxError;
        parser.GetError(result.syntax.code, result.syntax.optionName, result.syntax.relatedNames);
        return result;
    }

    parser.GetOptionPath("", driverPath, 1);
    hasMachineTypes = parser.GetOptionValue("/M:", machineTypes, 1);
    hasBatchPath = parser.GetOptionPath("/B:", batchPath, 1);
    hasMediaPath = parser.GetOptionPath("/WP:", mediaPath, 1);
    CString windowsVersion;
    parser.GetOptionValue("/W:", windowsVersion, 1);

    if (!windowsVersion.IsEmpty()) {
        // One character is a catalogue number; a longer text, a version name.
        if (windowsVersion.GetLength() == 1) {
            const int number = windowsVersion.ToInt();
            if (CString(number) != windowsVersion || !IsWindowsVersionNumber(number)) {
                return EndedWith(ReturnCode::kSyntaxError);
            }
            osVersionName = SetWindowsVersion(number);
            osVersionIndex = GetWindowsVersionIndex(osVersionName.View());
        } else {
            osVersionIndex = GetWindowsVersionIndex(windowsVersion.View());
            osVersionName = SetWindowsVersion(osVersionIndex);
        }
    }

    // A file or device is no repository: it is not found, as a missing path.
    if (driverPath.IsEmpty() || !fileSystem.IsDirectory(driverPath.c_str())) {
        return EndedWith(ReturnCode::kDriverPathNotFound);
    }
    if (hasMediaPath && !mediaPath.IsEmpty() && !fileSystem.Exists(mediaPath.c_str())) {
        return EndedWith(ReturnCode::kMediaNotFound);
    }
    return result;
}

void DriverSearchTool::PrintSyntaxError(const SyntaxError& error) {
    const CString& optionName = error.optionName;
    const CString& relatedNames = error.relatedNames;
    PrintLine("");
    PrintLine("Syntax Error");
    PrintLine("");
    const CString quoted = "The '" + optionName;
    switch (error.code) {
    case InvalidParameter: PrintLine(quoted + "' parameter is invalid."); break;
    case RequiredParameter: PrintLine(quoted + "' parameter is required."); break;
    case EmptyValue:
        PrintLine("The value of the '" + optionName + "' parameter must not be empty.");
        break;
    case NotANumber:
        PrintLine("The value of the '" + optionName + "' parameter must be a number.");
        break;
    case ExcludedParameter:
        PrintLine(quoted + "' parameter cannot be used with the '" + relatedNames + "' parameter.");
        break;
    case RequiresParameter: {
        int count = relatedNames.GetItemCount(",");
        CString others = relatedNames;
        others.ReplaceAll(",", " ");
        if (count <= 1) {
            PrintLine(quoted + "' parameter requires the '" + others + "' parameter.");
        } else {
            PrintLine(quoted +
                      "' parameter requires at least one of the following\nparameters:  " + others);
        }
        break;
    }
    default: break;
    }
}

void DriverSearchTool::PrintBanner() {
    PrintLine("Norvik (R) " + programName + " version " + version);
    PrintLine("Copyright (C) Norvik Corporation. All rights reserved.");
    PrintLine("Device Driver Search Tool");
}

void DriverSearchTool::PrintUsage() {
    PrintBanner();
    PrintLine("Usage... ");
    PrintLine("  " + programName + " driverpath [/W:n | /WP:nospath] [/M:machtype] [/B:batch] ");
    for (const char* line : kUsageLines) PrintLine(line);
    PrintLine(" Return Codes for " + programName + ":");
    int code = 0;
    for (const char* text : kReturnCodeTexts) {
        PrintLine(CString("                      ") + CString(code++) + text);
    }
}
