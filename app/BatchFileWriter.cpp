// The batch file of SET commands that hands the result to later deployment steps.
//
// Directory names end up inside the file, so every value is escaped for cmd.exe,
// and a value that cannot be written safely (a line break, a Ctrl-Z or a double
// quote in it) stops the run before the file is touched.
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "DriverSearchTool.h"
#include "ErrorHandler.h"
#include "PathName.h"
#include "Platform.h"
#include "TextFile.h"

namespace {

const char* const kDdlPath = "QL_NOS_DDL_Path";

// cmd.exe ends a line at a CR or LF, and may at a Ctrl-Z; a double quote would
// turn the escaping of what follows it around.
bool IsUnsafeForBatch(std::string_view text) {
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\x1A' || c == '"') return true;
    }
    return false;
}

// cmd.exe expands % on every line of a batch file, rem lines too: a "%~" with
// no valid modifier after it ends the batch file there.
CString DoublePercents(const CString& text) {
    CString doubled(text);
    doubled.ReplaceAll("%", "%%");
    return doubled;
}

bool NeedsEscaping(std::string_view value) {
    for (char c : value) {
        if (c == '%' || c == '&' || c == '|' || c == '<' || c == '>' || c == '^') return true;
    }
    return false;
}

// Appends a value for "SET NAME=value": cmd.exe would act on & | < > ^ outside
// quotes, and batch files expand % everywhere.
void AppendEscaped(std::string& line, std::string_view value) {
    if (!NeedsEscaping(value)) {
        line += value;  // most values need nothing
        return;
    }
    bool quoted = false;
    for (char c : value) {
        if (c == '"') quoted = !quoted;
        if (c == '%') {
            line += '%';
        } else if (!quoted && std::strchr("&|<>^", c) != nullptr) {
            line += '^';
        }
        line += c;
    }
}

// The directories of the Windows-version matches, relative to the driver path,
// each in double quotes, joined with ";".
std::string RelativeDirectories(const CString& sets, std::string_view root, bool& unsafe) {
    std::string relative;
    for (std::string_view path : sets.GetItemViews(",")) {
        std::string_view rest = path;
        CString cut;
        if (!root.empty() && rest.substr(0, root.size()) == root) {
            rest.remove_prefix(root.size());
        } else {
            cut = CString(path);
            cut.RemoveFirst(CString(root));
            rest = cut.View();
        }
        if (!rest.empty() && platform::IsSeparator(rest[0])) rest.remove_prefix(1);
        const std::string_view directory = PathName::DirectoryOf(rest);
        unsafe = unsafe || IsUnsafeForBatch(directory);
        if (!relative.empty()) relative += ';';
        relative += '"';
        relative += directory;
        relative += '"';
    }
    return relative;
}

}  // namespace

struct DriverSearchTool::BatchVariable {
    std::string name;
    std::string value;  // as it stands, before escaping
};

int DriverSearchTool::WriteBatchFile(const CString& list, const CString* windowsVersionMatches) {
    if (!hasBatchPath || batchPath.IsEmpty()) batchPath = PathName("DrvSet.bat");
    const CString typed = batchPath.GetPath();
    batchPath.MakeFullPath();
    // Messages name the absolute path, or the path as typed when it has none.
    const CString shown = batchPath.IsEmpty() ? typed : batchPath.GetPath();

    std::vector<BatchVariable> variables = {{"QL_NOS_Type", osFamily.GetCharString()},
                                            {"QL_NOS_Arch_Type", osArchType.GetCharString()},
                                            {"QL_NOS_Arch", osArch.GetCharString()},
                                            {"QL_NOS_DDL_Type", osVersionName.GetCharString()}};
    const std::vector<std::string_view> sets = list.GetItemViews(",");
    variables.reserve(variables.size() + sets.size() + 2);
    variables.push_back({std::string(kDdlPath) + "_#", std::to_string(sets.size())});
    for (std::size_t k = 1; k <= sets.size(); ++k) {
        std::string directory;
        PathName::FullPathOf(PathName::DirectoryOf(sets[k - 1]), directory);
        variables.push_back(
            {std::string(kDdlPath) + "_" + std::to_string(k), std::move(directory)});
    }
    bool unsafe = IsUnsafeForBatch(batchPath.GetFileName().View());
    for (const BatchVariable& variable : variables) {
        unsafe = unsafe || IsUnsafeForBatch(variable.value);
    }
    if (windowsVersionMatches != nullptr) {
        variables.push_back(
            {"QL_NOS_All_DDL_Paths",
             RelativeDirectories(*windowsVersionMatches, driverPath.Text().View(), unsafe)});
    }
    if (unsafe) {
        PrintLine("Error writing file:  " + shown);
        return kBatchFileError;
    }
    return WriteBatchLines(shown, variables);
}

int DriverSearchTool::WriteBatchLines(const CString& shown,
                                      const std::vector<BatchVariable>& variables) {
    TextFile file;
    FlushConsoleLines();  // the console shows the run up to here before the file is made
    if (!file.Open(batchPath, "w+")) {
        PrintLine("Error opening file:  " + shown);
        return kBatchFileError;
    }
    PrintLine("Writing Batch File:" + batchPath.GetPath());

    bool written = file.WriteLine("@Echo off");
    written = file.WriteLine("rem " + CString('/', 60)) && written;
    written = file.WriteLine("rem //") && written;
    written = file.WriteLine("rem //  Norvik Kastrel Quillon") && written;
    written = file.WriteLine("rem //  Device Driver Search Batch File") && written;
    written = file.WriteLine("rem //  " + DoublePercents(batchPath.GetFileName())) && written;
    written = file.WriteLine("rem //  Generated by Halvard version " + version) && written;
    written = file.WriteNewLine() && written;
    std::string line;  // one buffer for the thousands of lines written here
    for (const BatchVariable& variable : variables) {
        line.assign("\tSaving Environment Variable:%").append(variable.name);
        line.append("%=").append(variable.value);
        PrintLine(line, std::string_view());
        line.assign("SET ").append(variable.name).append("=");
        AppendEscaped(line, variable.value);
        written = file.WriteLine(line.c_str()) && written;
    }
    written = file.Close() && written;
    if (!written) {
        PrintLine("Error writing file:  " + shown);
        return kBatchFileError;
    }
    return kContinue;
}

CString DriverSearchTool::RemoveDuplicateItems(const CString& list) const {
    const CString comma(",");
    CString result;
    const std::vector<std::string_view> items = list.GetItemViews(comma);
    std::unordered_set<std::string_view> seen;
    seen.reserve(items.size());
    for (std::string_view item : items) {
        if (seen.insert(item).second) result.AddItem(item, comma);
    }
    return result;
}
