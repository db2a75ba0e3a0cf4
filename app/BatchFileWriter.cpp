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

#include "BatchFileWriter.h"
#include "DriverSearchTool.h"
#include "PathList.h"
#include "PathName.h"
#include "Platform.h"
#include "TextFile.h"

namespace {

// Whether text holds any of the characters: a memchr pass for each, since a
// value can be the directories of thousands of sets in one line.
bool HoldsAnyOf(std::string_view text, std::string_view characters) {
    if (text.empty()) return false;
    for (char c : characters) {
        if (std::memchr(text.data(), c, text.size()) != nullptr) return true;
    }
    return false;
}

}  // namespace

namespace batch_text {

bool IsSafe(std::string_view text) { return !HoldsAnyOf(text, std::string_view("\r\n\x1A\"", 4)); }

CString DoublePercents(const CString& text) {
    CString doubled(text);
    doubled.ReplaceAll("%", "%%");
    return doubled;
}

namespace {

// What cmd.exe acts on outside double quotes: each is escaped with ^.
const char* const kCaretEscaped = "&|<>^";

}  // namespace

void AppendEscaped(std::string& line, std::string_view value) {
    if (!HoldsAnyOf(value, kCaretEscaped) && !HoldsAnyOf(value, "%")) {
        line += value;  // most values need nothing
        return;
    }
    bool quoted = false;
    for (char c : value) {
        if (c == '"') quoted = !quoted;
        if (c == '%') {
            line += '%';
        } else if (!quoted && std::strchr(kCaretEscaped, c) != nullptr) {
            line += '^';
        }
        line += c;
    }
}

Value RelativeDirectories(const CString& sets, std::string_view driverPath) {
    Value relative;
    std::vector<std::string_view> directories = sets.GetItemViews(path_list::kDelimiter);
    std::size_t length = 0;
    for (std::string_view& set : directories) {
        set = PathName::DirectoryOf(path_list::BelowDriverPath(set, driverPath));
        length += set.size() + 3;
    }
    relative.text.reserve(length);  // the value of thousands of sets grows once
    for (std::string_view directory : directories) {
        relative.safe = relative.safe && IsSafe(directory);
        if (!relative.text.empty()) relative.text += ';';
        relative.text += '"';
        relative.text += directory;
        relative.text += '"';
    }
    return relative;
}

}  // namespace batch_text

namespace {

const char* const kDdlPath = "QL_NOS_DDL_Path";

}  // namespace

struct DriverSearchTool::BatchVariable {
    std::string_view name;
    std::string_view value;  // as it stands, before escaping
};

namespace {

// The names and values of thousands of variables, one after another in one
// buffer; views of them are made once all are in (the buffer moves as it grows).
class BatchTexts {
public:
    // Room for this many variables and bytes: what is not filled is never touched.
    void Reserve(std::size_t count, std::size_t bytes) {
        pieces_.reserve(count);
        texts_.reserve(bytes);
    }
    void Add(std::string_view name, std::string_view value) {
        pieces_.push_back({texts_.size(), name.size(), value.size()});
        texts_.append(name).append(value);
    }
    template <class OnVariable>
    void ForEach(OnVariable onVariable) const {
        for (const Piece& piece : pieces_) {
            const std::string_view name(texts_.data() + piece.offset, piece.name);
            onVariable(name, std::string_view(name.data() + piece.name, piece.value));
        }
    }

private:
    struct Piece {
        std::size_t offset;
        std::size_t name;
        std::size_t value;
    };
    std::string texts_;
    std::vector<Piece> pieces_;
};

}  // namespace

StageResult DriverSearchTool::WriteBatchFile(const CString& list,
                                             const CString* windowsVersionMatches) {
    if (!hasBatchPath || batchPath.IsEmpty()) batchPath = PathName("DrvSet.bat");
    const CString typed = batchPath.GetPath();
    batchPath.MakeFullPath();
    // Messages name the absolute path, or the path as typed when it has none.
    const CString shown = batchPath.IsEmpty() ? typed : batchPath.GetPath();

    std::vector<BatchVariable> variables = {{"QL_NOS_Type", osFamily.View()},
                                            {"QL_NOS_Arch_Type", osArchType.View()},
                                            {"QL_NOS_Arch", osArch.View()},
                                            {"QL_NOS_DDL_Type", osVersionName.View()}};
    const std::vector<std::string_view> sets = list.GetItemViews(path_list::kDelimiter);
    BatchTexts paths;
    // An absolute directory is rarely more than twice as long as the set's path.
    paths.Reserve(sets.size() + 1, 2 * std::size_t(list.GetLength()) + 32 * (sets.size() + 1));
    std::string name = std::string(kDdlPath) + "_";
    const std::size_t prefix = name.size();
    paths.Add(name + "#", std::to_string(sets.size()));
    for (std::size_t k = 1; k <= sets.size(); ++k) {
        name.resize(prefix);
        name += std::to_string(k);
        paths.Add(name, AbsoluteDirectoryOf(sets[k - 1]));
    }
    variables.reserve(variables.size() + sets.size() + 2);
    paths.ForEach([&](std::string_view name, std::string_view value) {
        variables.push_back({name, value});
    });
    bool safe = batch_text::IsSafe(batchPath.GetFileName().View());
    for (const BatchVariable& variable : variables) {
        safe = safe && batch_text::IsSafe(variable.value);
    }
    batch_text::Value relative;
    if (windowsVersionMatches != nullptr) {
        relative =
            batch_text::RelativeDirectories(*windowsVersionMatches, driverPath.Text().View());
        safe = safe && relative.safe;
        variables.push_back({"QL_NOS_All_DDL_Paths", relative.text});
    }
    if (!safe) {
        PrintLine("Error writing file:  " + shown);
        return ReturnCode::kBatchFileError;
    }
    return WriteBatchLines(shown, variables);
}

StageResult DriverSearchTool::WriteBatchLines(const CString& shown,
                                              const std::vector<BatchVariable>& variables) {
    TextFile file;
    lines.Flush();  // the console shows the run up to here before the file is made
    if (!file.Open(batchPath, "w+")) {
        PrintLine("Error opening file:  " + shown);
        return ReturnCode::kBatchFileError;
    }
    PrintLine("Writing Batch File:" + batchPath.GetPath());

    bool written = file.WriteLine("@Echo off");
    written = file.WriteLine("rem " + CString('/', 60)) && written;
    written = file.WriteLine("rem //") && written;
    written = file.WriteLine("rem //  Norvik Kastrel Quillon") && written;
    written = file.WriteLine("rem //  Device Driver Search Batch File") && written;
    written =
        file.WriteLine("rem //  " + batch_text::DoublePercents(batchPath.GetFileName())) && written;
    written = file.WriteLine("rem //  Generated by Halvard version " + version) && written;
    written = file.WriteNewLine() && written;
    std::string line;  // one buffer for the thousands of lines written here
    for (const BatchVariable& variable : variables) {
        line.assign("\tSaving Environment Variable:%").append(variable.name);
        line.append("%=").append(variable.value);
        PrintLine(line, std::string_view());
        line.assign("SET ").append(variable.name).append("=");
        batch_text::AppendEscaped(line, variable.value);
        written = file.WriteLine(line.c_str()) && written;
    }
    written = file.Close() && written;
    if (!written) {
        PrintLine("Error writing file:  " + shown);
        return ReturnCode::kBatchFileError;
    }
    return kGoOn;
}

CString DriverSearchTool::RemoveDuplicateItems(const CString& list) const {
    const CString comma(path_list::kDelimiter);
    CString result;
    const std::vector<std::string_view> items = list.GetItemViews(comma);
    std::unordered_set<std::string_view> seen;
    seen.reserve(items.size());
    for (std::string_view item : items) {
        if (seen.insert(item).second) result.AddItem(item, comma);
    }
    return result;
}
