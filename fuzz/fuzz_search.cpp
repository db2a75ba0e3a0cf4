// Fuzz target for a whole search run, in-process. The input gives a small tree
// in memory (up to 12 directories four levels deep, names with blanks, %, &,
// ^, commas, quotes and DrvSet.ini in other case), descriptors whose [Main]
// values it chooses (catalogue names and junk, machine types, dates and times
// valid and not), and a command line: the driver path, /W:, /M: and /B: (a file
// in a temporary directory made once per process). DriverSearchTool runs it on
// a MemoryFileSystem and the plain model of reference_search.h runs it too: the
// exit code, every console line and the batch file's bytes (or its absence)
// must agree; on a difference the case is printed and the target aborts.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "DriverSearchTool.h"
#include "LatestDriverSet.h"
#include "MemoryFileSystem.h"
#include "PathName.h"
#include "reference_search.h"

namespace {

const char* const kRoots[] = {"r", "R w", "%r%", " r", "r,s"};
const char* const kNames[] = {"a",   "A",          "b",          "a b",        " s",   "t ",  "%x%",
                              "x&y", "a^b",        "p|q<r>",     "c,d",        "q\"q", "w23", "w2",
                              "_z",  "DrvSet.ini", "drvset.INI", "DRVSET.INI", "100%"};
const char* const kFileNames[] = {"DrvSet.ini", "drvset.ini", "DRVSET.INI",
                                  "DrvSet.INI", "DrvSet.inf", "readme.txt"};
const char* const kKeys[] = {"Windows Version", "Supported Systems", "Kastrel Version",
                             "Quillon Version", "Creation Date",     "Creation Time",
                             "BuildID"};
const char* const kVersions[] = {
    "Win2000Server", "Win2003Server",    "Win2000Pro", "WinXP",      "Win2003Serverx64",
    "Win2008Server", "Win2008Serverx64", "WinPE21x86", "WinPE21x64", "winpe21X64",
    "WIN2008SERVER", "Windows2003",      "WinXP x",    "",           "Win\x1Axp"};
const char* const kSystems[] = {"6123", "6123,7340", "61234", " 7340", "7340 ", "", "x&y"};
const char* const kDays[] = {"05", "5", "0", "31", "32", "", "x", "-1"};
const char* const kMonths[] = {"Mar", "March", "MAR", "mar", "Dec", "Jan", "Feb", "", "Oct"};
const char* const kYears[] = {"2009", "2010", "1969", "1970", "2038", "3001", "", "20x9"};
const char* const kTimes[] = {"14:30:05", "14:30", "00:00:00", "23:59:59", "25:61:61",
                              "",         "x:y",   "02:30:00", "1:2:3:4"};
const char* const kTexts[] = {"", "1.0", "2.5.1", "%v%", " ", "a=b"};
const char* const kTypes[] = {"6123", "7340", "1234", " 7340", "", "612", "61234", "x&y"};
const char* const kWindows[] = {
    "0", "1", "3", "5", "8", "9", "x", "12", "Win2008Server", "winxp", "Windows2003", ""};
// The last name cannot be opened (no such directory).
const char* const kBatchNames[] = {"out.bat",  "a b.bat",  "p%~x.bat",
                                   "x&y^.bat", "q\"q.bat", "no-such/out.bat"};
const char* const kUnopenable = "no-such/out.bat";

std::string batchDirectory;

void RemoveBatchDirectory() {
    for (const char* name : kBatchNames) std::remove((batchDirectory + "/" + name).c_str());
    rmdir(batchDirectory.c_str());
}

std::string FullPath(const std::string& path) {
    std::string full;
    PathName::FullPathOf(path, full);
    return full;
}

double Timestamp(const std::string& date, const std::string& time) {
    return GetCreationTimestamp(date, time);
}

std::string Descriptor(FuzzedDataProvider& data) {
    const std::string end = data.ConsumeBool() ? "\r\n" : "\n";
    std::string text = data.ConsumeIntegralInRange(0, 7) == 0 ? "\xEF\xBB\xBF" : "";
    if (data.ConsumeIntegralInRange(0, 3) == 0)
        text += "[Other]" + end + "Windows Version=WinXP" + end;
    const char* const sections[] = {"[Main]", "[ main ]", "[MAIN]", "[Main", "[Mains]"};
    text += std::string(data.PickValueInArray(sections)) + end;
    const int lines = data.ConsumeIntegralInRange(0, 9);
    for (int k = 0; k < lines; ++k) {
        const int key = data.ConsumeIntegralInRange(0, 6);
        std::string value;
        switch (key) {
        case 0: value = data.PickValueInArray(kVersions); break;
        case 1: value = data.PickValueInArray(kSystems); break;
        case 4: {
            const char* const separators[] = {" ", " ", "  ", "-"};
            const char* separator = data.PickValueInArray(separators);
            value = std::string(data.PickValueInArray(kDays)) + separator +
                    data.PickValueInArray(kMonths) + separator + data.PickValueInArray(kYears);
            break;
        }
        case 5: value = data.PickValueInArray(kTimes); break;
        default:
            // Now and then a NUL byte, which adds nothing to a line as it is read.
            value = data.ConsumeIntegralInRange(0, 15) == 0 ? std::string("x\0y", 3)
                                                            : data.PickValueInArray(kTexts);
        }
        std::string name = kKeys[key];
        switch (data.ConsumeIntegralInRange(0, 5)) {
        case 0: name = ref::Upper(name); break;
        case 1: name = " " + name + "\t"; break;
        case 2: name = ";" + name; break;
        case 3: name = "[Next]" + end + name; break;
        default: break;
        }
        const char* const equals[] = {"=", " = ", "= ", "=="};
        text += name + data.PickValueInArray(equals) + value + end;
    }
    return text;
}

struct Case {
    ref::Tree tree;
    std::vector<std::string> args;
    std::string batchFile;  // empty: no /B:
    bool batchOpens = true;
};

Case Decode(FuzzedDataProvider& data) {
    Case c;
    const std::string root = data.PickValueInArray(kRoots);
    c.tree[root].directory = true;
    std::vector<std::string> directories = {root}, files;
    const int count = data.ConsumeIntegralInRange(0, 12);
    for (int k = 0; k < count; ++k) {
        const std::string parent =
            directories[data.ConsumeIntegralInRange<size_t>(0, directories.size() - 1)];
        const std::string path = parent + "/" + data.PickValueInArray(kNames);
        if (c.tree.count(path) != 0 || std::count(path.begin(), path.end(), '/') > 4) continue;
        c.tree[path].directory = true;
        directories.push_back(path);
    }
    for (const std::string& directory : directories) {
        const int descriptors = data.ConsumeIntegralInRange(0, 3) - 1;  // mostly none or one
        for (int k = 0; k < descriptors; ++k) {
            const std::string path = directory + "/" + data.PickValueInArray(kFileNames);
            if (c.tree.count(path) != 0) continue;
            c.tree[path].bytes = Descriptor(data);
            files.push_back(path);
        }
    }

    // The driver path first: /W: and /M: take the words that follow them.
    std::string driverPath = root + "/nowhere";
    const int where = data.ConsumeIntegralInRange(0, 5);
    if (where <= 2) {
        driverPath = directories[data.ConsumeIntegralInRange<size_t>(0, directories.size() - 1)];
        for (char& ch : driverPath) {
            if (ch == '/' && data.ConsumeBool()) ch = '\\';
        }
    } else if (where == 4 && !files.empty()) {
        driverPath = files[data.ConsumeIntegralInRange<size_t>(0, files.size() - 1)];
    }
    c.args = {"halvard", driverPath};
    std::vector<std::string> options;
    const bool lower = data.ConsumeBool();
    if (data.ConsumeBool())
        options.push_back((lower ? "/w:" : "/W:") + std::string(data.PickValueInArray(kWindows)));
    if (data.ConsumeBool()) {
        std::string types = data.PickValueInArray(kTypes);
        if (data.ConsumeBool()) types += std::string(",") + data.PickValueInArray(kTypes);
        options.push_back((lower ? "/m:" : "/M:") + types);
    }
    if (data.ConsumeBool()) {
        const std::string name = data.PickValueInArray(kBatchNames);
        c.batchFile = batchDirectory + "/" + name;
        c.batchOpens = name != kUnopenable;
        options.push_back("/B:" + c.batchFile);
    }
    if (!options.empty()) {
        std::rotate(options.begin(),
                    options.begin() + data.ConsumeIntegralInRange<size_t>(0, options.size() - 1),
                    options.end());
    }
    c.args.insert(c.args.end(), options.begin(), options.end());
    return c;
}

class Sink : public LineSink {
public:
    void Write(std::string_view first, std::string_view second) override {
        lines.push_back(std::string(first) + std::string(second));
    }
    void Flush() override {}
    std::vector<std::string> lines;
};

std::string Shown(const std::string& text) {
    std::string out;
    for (unsigned char ch : text) {
        if (ch >= 0x20 && ch < 0x7F && ch != '\\') {
            out += static_cast<char>(ch);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", ch);
            out += ch == '\\' ? std::string("\\\\") : std::string(code);
        }
    }
    return out;
}

void Describe(const Case& c) {
    std::fprintf(stderr, "args:");
    for (const std::string& arg : c.args) std::fprintf(stderr, " [%s]", Shown(arg).c_str());
    std::fprintf(stderr, "\ntree:\n");
    for (const auto& node : c.tree) {
        std::fprintf(stderr, "  %s%s %s\n", Shown(node.first).c_str(),
                     node.second.directory ? "/" : "", Shown(node.second.bytes).c_str());
    }
}

[[noreturn]] void Fail(const Case& c, const char* what, const std::vector<std::string>& tool,
                       const std::vector<std::string>& model) {
    std::fprintf(stderr, "difference in %s\n", what);
    Describe(c);
    for (size_t i = 0; i < std::max(tool.size(), model.size()); ++i) {
        const std::string a = i < tool.size() ? tool[i] : "(none)";
        const std::string b = i < model.size() ? model[i] : "(none)";
        std::fprintf(stderr, "%s tool : %s\n%s model: %s\n", a == b ? " " : "*", Shown(a).c_str(),
                     a == b ? " " : "*", Shown(b).c_str());
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The walk alone, for repeatable runs; the in-flight walk is chosen per input.
    setenv("HALVARD_IN_FLIGHT", "1", 1);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/halvard-fuzz-search.XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        std::perror("fuzz_search: mkdtemp");
        std::abort();
    }
    batchDirectory = FullPath(pattern);
    std::atexit(RemoveBatchDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    const Case c = Decode(data);
    setenv("HALVARD_IN_FLIGHT", data.ConsumeIntegralInRange(0, 7) == 7 ? "4" : "1", 1);
    if (!c.batchFile.empty()) std::remove(c.batchFile.c_str());

    MemoryFileSystem files;
    for (const auto& node : c.tree) {
        if (node.second.directory) {
            files.Directory(node.first);
        } else {
            files.File(node.first, node.second.bytes);
        }
    }
    Sink sink;
    std::vector<const char*> argv;
    for (const std::string& arg : c.args) argv.push_back(arg.c_str());
    int code = 0;
    {
        DriverSearchTool tool(sink, files);
        code = static_cast<int>(tool.Run(static_cast<int>(argv.size()), argv.data()));
    }

    const ref::SearchPlatform platform = {FullPath, Timestamp, c.batchOpens};
    const ref::SearchOutcome model = ref::SearchModel(c.tree, platform).Run(c.args);
    if (std::getenv("HALVARD_FUZZ_TRACE") != nullptr) {
        Describe(c);
        for (const std::string& line : sink.lines)
            std::fprintf(stderr, "| %s\n", Shown(line).c_str());
        std::fprintf(stderr, "exit %d, batch file %s\n", code,
                     model.batchWritten ? "written" : "not written");
    }
    if (code != model.code) {
        Fail(c,
             ("exit code " + std::to_string(code) + " against " + std::to_string(model.code))
                 .c_str(),
             sink.lines, model.lines);
    }
    if (model.usage) {
        if (!model.lastLine.empty() && sink.lines.back() != model.lastLine) {
            Fail(c, "last line", sink.lines, {model.lastLine});
        }
    } else if (sink.lines != model.lines) {
        Fail(c, "console lines", sink.lines, model.lines);
    }

    if (c.batchFile.empty()) return 0;
    std::ifstream in(c.batchFile, std::ios::binary);
    if (in.is_open() != model.batchWritten) {
        Fail(c, model.batchWritten ? "batch file missing" : "batch file written", sink.lines,
             model.lines);
    }
    const std::string batch((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (batch != model.batch) {
        auto split = [](const std::string& text) {
            std::vector<std::string> lines;
            size_t start = 0;
            for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
                lines.push_back(text.substr(start, end + 1 - start));
            }
            if (start < text.size()) lines.push_back(text.substr(start));
            return lines;
        };
        Fail(c, "batch file", split(batch), split(model.batch));
    }
    return 0;
}
