// A plain reference model of a whole search run over a tree in memory: the
// command line (driver path, /W:, /M:, /B:), the walk for DrvSet.ini, the
// Windows-version and machine-type filters, the report, the latest choice and
// the batch file, with every console line in order. Each rule is written out
// step by step on std::string, with the parser, INI, list and path models of
// reference_model.h; the absolute form of a path and the creation timestamp
// (mktime) are the platform's and come from the caller.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "reference_model.h"

namespace ref {

// Directories and files by "/"-separated path; a directory's bytes are empty.
struct TreeNode {
    bool directory = false;
    std::string bytes;
};
using Tree = std::map<std::string, TreeNode>;

struct SearchPlatform {
    std::string (*fullPath)(const std::string& path);
    double (*timestamp)(const std::string& date, const std::string& time);
    bool batchOpens;  // the batch file can be created where /B: names it
};

struct SearchOutcome {
    int code = 0;
    bool usage = false;  // ended on the usage screen: only lastLine is modelled
    std::string lastLine;
    std::vector<std::string> lines;  // every console line, when not usage
    bool batchWritten = false;
    std::string batch;  // the batch file's bytes
};

struct CatalogueRow {
    const char* name;
    const char* family;
    const char* archType;
    const char* arch;
};

inline constexpr CatalogueRow kCatalogue[9] = {
    {"Win2000Server", "Win2000", "x86", "I386"},     {"Win2003Server", "Win2003", "x86", "I386"},
    {"Win2000Pro", "Win2000", "x86", "I386"},        {"WinXP", "WinXP", "x86", "I386"},
    {"Win2003Serverx64", "Win2003", "x64", "AMD64"}, {"Win2008Server", "Win2008", "x86", "I386"},
    {"Win2008Serverx64", "Win2008", "x64", "AMD64"}, {"WinPE21x86", "WinPE21", "x86", "I386"},
    {"WinPE21x64", "WinPE21", "x64", "AMD64"},
};

// Whole name, case ignored, nothing trimmed; anything else is number 1.
inline int WindowsVersionIndex(const std::string& name) {
    for (int number = 0; number < 9; ++number) {
        if (CompareNoCase(name, kCatalogue[number].name) == 0) return number;
    }
    return 1;
}

// What cmd.exe reads back as written: no line end, no Ctrl-Z, no double quote.
inline bool BatchSafe(const std::string& text) {
    return text.find_first_of("\r\n\x1A\"") == std::string::npos;
}

// A value for "SET NAME=value": each % doubled, ^ before & | < > ^ outside quotes.
inline std::string BatchEscaped(const std::string& value) {
    std::string out;
    bool quoted = false;
    for (char c : value) {
        if (c == '"') quoted = !quoted;
        if (c == '%') {
            out += '%';
        } else if (!quoted && InSet(c, "&|<>^")) {
            out += '^';
        }
        out += c;
    }
    return out;
}

class SearchModel {
public:
    SearchModel(const Tree& tree, const SearchPlatform& platform)
        : tree_(tree), platform_(platform) {}

    // args[0] is the program; no /WP: (media are not modelled here).
    SearchOutcome Run(const std::vector<std::string>& args) {
        Print("\nHalvard Started...");
        if (!CommandLine(args)) return out_;

        std::vector<std::string> all;
        Print("Searching for all Driver Sets...");
        Walk(driverPath_, all);
        // Byte order, every separator compared as a backslash.
        auto backslashed = [](std::string text) {
            std::replace(text.begin(), text.end(), '/', '\\');
            return text;
        };
        std::sort(all.begin(), all.end(), [&](const std::string& a, const std::string& b) {
            return CompareBytes(backslashed(a), backslashed(b)) < 0;
        });
        PrintItems(all);
        if (all.empty()) return NotFound(nullptr);

        std::vector<std::string> matches;
        Print(std::string("Searching for ") + Row().name + " Driver Sets...");
        for (const std::string& set : all) {
            if (WindowsVersionIndex(Value(set, "Windows Version")) == index_)
                matches.push_back(set);
        }
        PrintItems(matches);
        if (matches.empty()) return NotFound(&matches);

        std::vector<std::string> final = matches;
        if (hasMachineTypes_) {
            List types;
            types.text = machineTypes_;
            for (const std::string& type : GetItems(types, ",")) {
                Print("Searching for MachineType=" + type + " Driver Sets...");
                final.clear();
                for (const std::string& set : matches) {
                    const std::string supported = Value(set, "Supported Systems");
                    if (!type.empty() && supported.find(type) != std::string::npos) {
                        final.push_back(set);
                    }
                }
                PrintItems(final);
                if (final.empty()) return NotFound(&matches);
            }
        }

        Report(final);
        if (final.size() > 1) OrderLatestFirst(final);
        Print("Driver Set Found!");
        Print("\tDriverSetPath:" + AbsoluteDirectory(final[0]));
        if (!hasBatch_) return End(0);
        Print("\nWriting Batch File...");
        return End(WriteBatch(Unique(final), &matches) ? 0 : 3);
    }

private:
    bool CommandLine(const std::vector<std::string>& args) {
        CommandLineModel parser;
        parser.Declare("", "driverpath", 5, kNoList, kNoList, true, true);
        parser.Declare("/W:", "", 4, kNoList, "/WP:,/W:", false, true);
        parser.Declare("/WP:", "", 5, kNoList, "/WP:,/W:", false, false);
        parser.Declare("/M:", "", 4, kNoList, kNoList, false, true);
        parser.Declare("/?", "", 1, kNoList, kNoList, false, true);
        parser.Declare("/B:", "", 5, kNoList, kNoList, false, true);
        const int parsed = parser.Parse(args, false, true);
        auto present = [&](const char* name) { return parser.Lookup(name, 1)->present; };
        auto value = [&](const char* name) { return parser.Lookup(name, 1)->value; };
        if (present("/?") || parsed != 0) return Usage(2, "");

        driverPath_ = value("");
        hasMachineTypes_ = present("/M:");
        machineTypes_ = value("/M:");
        hasBatch_ = present("/B:");
        batchPath_ = value("/B:");
        const std::string version = value("/W:");
        if (version.size() == 1) {
            const int number = ToInt(version);
            if (std::to_string(number) != version || number > 8) return Usage(2, "");
            index_ = number;
        } else if (!version.empty()) {
            index_ = WindowsVersionIndex(version);
        }
        auto node = tree_.find(Normal(driverPath_));
        if (driverPath_.empty() || node == tree_.end() || !node->second.directory) {
            return Usage(4, "\nDirectory " + driverPath_ + " Not Found:");
        }
        // Found paths are comma lists that begin with the driver path as typed.
        const char* why = nullptr;
        if (driverPath_.find(',') != std::string::npos) {
            why = " with a comma in its name cannot be searched:";
        } else if (InSet(driverPath_[0], " \t\n")) {
            why = " that starts with white space cannot be searched:";
        }
        if (why == nullptr) return true;
        Print("Driver path" + std::string(why) + driverPath_);
        End(4);
        return false;
    }

    // The file in the directory, else one under another case that the listing
    // shows (the first), else each subdirectory in listing order.
    void Walk(const std::string& directory, std::vector<std::string>& hits) {
        const std::string candidate = Append(directory, "DrvSet.ini");
        if (tree_.count(Normal(candidate)) != 0) {
            hits.push_back(candidate);
            return;
        }
        const std::vector<std::pair<std::string, bool>> entries = Listing(directory);
        for (const auto& entry : entries) {
            if (CompareNoCase(entry.first, "DrvSet.ini") == 0) {
                hits.push_back(Append(directory, entry.first));
                return;
            }
        }
        for (const auto& entry : entries) {
            if (!entry.second) continue;
            const std::string subdirectory = Append(directory, entry.first);
            if (entry.first.find(',') != std::string::npos) {
                Print("Skipping directory with a comma in its name:" + subdirectory);
                continue;
            }
            Walk(subdirectory, hits);
        }
    }

    // Names and directory flags below a directory, in the order the file
    // system in memory lists them: byte order of the names.
    std::vector<std::pair<std::string, bool>> Listing(const std::string& directory) const {
        const std::string prefix = Normal(directory) + "/";
        std::vector<std::pair<std::string, bool>> entries;
        for (const auto& node : tree_) {
            if (node.first.compare(0, prefix.size(), prefix) != 0) continue;
            const std::string name = node.first.substr(prefix.size());
            if (name.find('/') == std::string::npos)
                entries.push_back({name, node.second.directory});
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return CompareBytes(a.first, b.first) < 0; });
        return entries;
    }

    std::string Value(const std::string& set, const std::string& key) const {
        auto node = tree_.find(Normal(set));
        const std::string bytes = node == tree_.end() ? std::string() : node->second.bytes;
        return GetValue(IniLines(bytes), "Main", key, "");
    }

    void Report(const std::vector<std::string>& sets) {
        Print("\nAll matching DrvSet.ini files...");
        auto line = [&](const std::string& set, const std::string& key, bool always) {
            const std::string value = Value(set, key);
            if (always || !value.empty())
                Print(key + std::string(25 - key.size(), ' ') + "= " + value);
        };
        for (const std::string& set : sets) {
            Print("\nDriverSet:" + platform_.fullPath(set));
            line(set, "Windows Version", true);
            line(set, "Kastrel Version", false);
            line(set, "Quillon Version", false);
            line(set, "Creation Date", true);
            line(set, "Creation Time", true);
            line(set, "BuildID", true);
        }
    }

    // The selection sort: latest first, the earliest position among equals.
    void OrderLatestFirst(std::vector<std::string>& sets) {
        Print("\nSearching for latest Driver Set...");
        auto timestamp = [&](const std::string& set) {
            return platform_.timestamp(Value(set, "Creation Date"), Value(set, "Creation Time"));
        };
        for (size_t i = 0; i < sets.size(); ++i) {
            size_t best = i;
            double latest = timestamp(sets[i]);
            for (size_t j = i; j < sets.size(); ++j) {
                const double t = timestamp(sets[j]);
                if (t > latest) {
                    latest = t;
                    best = j;
                }
            }
            std::swap(sets[i], sets[best]);
        }
    }

    std::string AbsoluteDirectory(const std::string& set) const {
        return GetDirectory(platform_.fullPath(set));
    }

    bool WriteBatch(const std::vector<std::string>& sets, const std::vector<std::string>* matches) {
        const std::string typed = batchPath_.empty() ? "DrvSet.bat" : batchPath_;
        const std::string full = platform_.fullPath(typed);
        const std::string shown = full.empty() ? typed : full;
        const CatalogueRow& row = Row();
        std::vector<std::pair<std::string, std::string>> variables = {
            {"QL_NOS_Type", row.family},
            {"QL_NOS_Arch_Type", row.archType},
            {"QL_NOS_Arch", row.arch},
            {"QL_NOS_DDL_Type", row.name},
            {"QL_NOS_DDL_Path_#", std::to_string(sets.size())}};
        for (size_t k = 1; k <= sets.size(); ++k) {
            variables.push_back(
                {"QL_NOS_DDL_Path_" + std::to_string(k), AbsoluteDirectory(sets[k - 1])});
        }
        bool safe = BatchSafe(GetFileName(full));
        for (const auto& variable : variables) safe = safe && BatchSafe(variable.second);
        if (matches != nullptr) {
            std::string relative;
            for (const std::string& set : *matches) {
                List below;
                below.text = set;
                RemoveFirst(below, driverPath_);
                if (!below.text.empty() && IsSeparator(below.text[0])) below.text.erase(0, 1);
                const std::string directory = GetDirectory(below.text);
                safe = safe && BatchSafe(directory);
                relative += (relative.empty() ? "\"" : ";\"") + directory + "\"";
            }
            variables.push_back({"QL_NOS_All_DDL_Paths", relative});
        }
        if (!safe || !platform_.batchOpens) {
            Print((safe ? "Error opening file:  " : "Error writing file:  ") + shown);
            return false;
        }
        Print("Writing Batch File:" + full);
        List name;
        name.text = GetFileName(full);
        ReplaceAll(name, "%", "%%");
        std::string& file = out_.batch;
        for (const std::string& header :
             {std::string("@Echo off"), "rem " + std::string(60, '/'), std::string("rem //"),
              std::string("rem //  Norvik Kastrel Quillon"),
              std::string("rem //  Device Driver Search Batch File"), "rem //  " + name.text,
              std::string("rem //  Generated by Halvard version 1.1"), std::string()}) {
            file += header + "\r\n";
        }
        for (const auto& variable : variables) {
            Print("\tSaving Environment Variable:%" + variable.first + "%=" + variable.second);
            file += "SET " + variable.first + "=" + BatchEscaped(variable.second) + "\r\n";
        }
        out_.batchWritten = true;
        return true;
    }

    SearchOutcome NotFound(const std::vector<std::string>* matches) {
        if (hasBatch_) {
            Print("Writing Batch File");
            if (!WriteBatch({}, matches)) return End(3);
        }
        Print("Driver Set not Found");
        return End(1);
    }

    static std::vector<std::string> Unique(const std::vector<std::string>& sets) {
        std::vector<std::string> unique;
        for (const std::string& set : sets) {
            if (std::find(unique.begin(), unique.end(), set) == unique.end()) unique.push_back(set);
        }
        return unique;
    }

    static std::string Normal(std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }

    const CatalogueRow& Row() const { return kCatalogue[index_]; }
    void Print(const std::string& line) { out_.lines.push_back(line); }
    void PrintItems(const std::vector<std::string>& items) {
        for (const std::string& item : items) Print("\t" + item);
    }
    SearchOutcome End(int code) {
        out_.code = code;
        return out_;
    }
    bool Usage(int code, const std::string& lastLine) {
        out_.usage = true;
        out_.lastLine = lastLine;
        End(code);
        return false;
    }

    const Tree& tree_;
    const SearchPlatform platform_;
    SearchOutcome out_;
    std::string driverPath_, machineTypes_, batchPath_;
    bool hasMachineTypes_ = false, hasBatch_ = false;
    int index_ = 1;
};

}  // namespace ref
