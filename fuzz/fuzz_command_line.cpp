// Fuzz target for the command-line parser. The input gives an option table
// (the tool's own, or one made up of names, kinds, relations and flags) and an
// argument vector. The parse runs on CommandLineParser and on a plain model of
// the parsing rules; result, error record, presence and values must agree. The
// same arguments also go through the tool's own command-line step.
#include "CommandLineParser.h"
#include "DriverSearchTool.h"
#include "PathName.h"
#include "reference_model.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Building tables and arguments from the input

const char* const kNames[] = {"/W:", "/WP:", "/M:", "/?", "/B:", "", "/F ", "-x", "/w", "/"};

std::string Piece(FuzzedDataProvider& data) {
    return ref::CText(data.ConsumeRandomLengthString(10));
}

std::string Name(FuzzedDataProvider& data) {
    return data.ConsumeBool() ? std::string(data.PickValueInArray(kNames)) : Piece(data);
}

std::string Relation(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange(0, 4)) {
    case 0:
    case 1: return kEmptyList;
    case 2: return Name(data);
    case 3: return Name(data) + "," + Name(data);
    default: return Name(data) + "~" + std::to_string(data.ConsumeIntegralInRange(-1, 3));
    }
}

std::string Argument(FuzzedDataProvider& data) {
    std::string text;
    if (data.ConsumeBool()) {
        text = data.PickValueInArray(kNames);
        if (ref::EndsWithBlank(text) && data.ConsumeBool()) text.pop_back();
        if (data.ConsumeBool())
            text = ref::Upper(text);
        else if (data.ConsumeBool()) {
            for (char& c : text) {
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            }
        }
    }
    return text + Piece(data);
}

void Compare(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "difference in %s\n", what);
        std::abort();
    }
}

void CheckLookups(const CommandLineParser& parser, const ref::CommandLineModel& model,
                  const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        for (int n = 0; n <= 3; ++n) {
            const ref::OptionRecord* r = model.Lookup(name, n);
            CString value;
            PathName path("stale");
            const bool present = r != nullptr && r->present;
            Compare(parser.GetOptionValue(name.c_str(), value, n) == present, "GetOptionValue");
            Compare(std::string(value.GetCharString()) == (r ? r->value : ""), "value");
            Compare(parser.GetOptionPath(name.c_str(), path, n) == present, "GetOptionPath");
            Compare(std::string(path.GetPath().GetCharString()) == (r ? r->value : ""), "path");
            Compare(parser.IsOptionPresent(name.c_str(), n) == present, "IsOptionPresent");
        }
    }
}

void RunTool(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    DriverSearchTool tool;
    const DriverSearchTool::ParsedCommandLine parsed =
        tool.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    const bool syntax = parsed.end == ReturnCode::kSyntaxError;
    Compare(!parsed.end || syntax || parsed.end == ReturnCode::kDriverPathNotFound ||
                parsed.end == ReturnCode::kMediaNotFound,
            "tool result");
    const int code = parsed.syntax.code;
    Compare(code >= 0 && code <= 6 && (code == 0 || syntax), "tool error code");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    CommandLineParser parser;
    ref::CommandLineModel model;
    std::vector<std::string> names;

    auto declare = [&](const std::string& name, const std::string& display, int kind,
                       const std::string& requires, const std::string& excludes, bool required,
                       bool emptyAllowed, bool parameter) {
        const bool added = parameter ? parser.AddParameter(name.c_str(), display.c_str(), kind,
                                                           required, emptyAllowed)
                                     : parser.AddOption(name.c_str(), kind, requires.c_str(),
                                                        excludes.c_str(), required, emptyAllowed);
        Compare(added, "declare");
        model.Declare(name, parameter ? display : "", kind, parameter ? kEmptyList : requires,
                      parameter ? kEmptyList : excludes, required, emptyAllowed);
        names.push_back(name);
        if (parameter) names.push_back(display);
    };

    const bool toolTable = data.ConsumeBool();
    if (toolTable) {
        declare("", "driverpath", PathValue, kEmptyList, kEmptyList, true, true, true);
        declare("/W:", "", MultiWordValue, kEmptyList, "/WP:,/W:", false, true, false);
        declare("/WP:", "", PathValue, kEmptyList, "/WP:,/W:", false, false, false);
        declare("/M:", "", MultiWordValue, kEmptyList, kEmptyList, false, true, false);
        declare("/?", "", Switch, kEmptyList, kEmptyList, false, true, false);
        declare("/B:", "", PathValue, kEmptyList, kEmptyList, false, true, false);
    } else {
        const int count = data.ConsumeIntegralInRange(0, 6);
        for (int k = 0; k < count; ++k) {
            const bool parameter = data.ConsumeBool();
            const std::string name = parameter && data.ConsumeBool() ? "" : Name(data);
            const std::string display = parameter ? Name(data) : "";
            const int kind = data.ConsumeIntegralInRange(0, 6);
            const std::string requires = Relation(data), excludes = Relation(data);
            const bool required = data.ConsumeBool(), emptyAllowed = data.ConsumeBool();
            declare(name, display, kind, requires, excludes, required, emptyAllowed, parameter);
        }
    }
    names.push_back("none");

    const bool caseSensitive = toolTable ? false : data.ConsumeBool();
    const bool validate = toolTable ? true : data.ConsumeBool();
    std::vector<std::string> args = {Piece(data)};
    const int argc = data.ConsumeIntegralInRange(0, 8);
    for (int k = 0; k < argc && data.remaining_bytes() > 0; ++k) args.push_back(Argument(data));

    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    const int result =
        parser.Parse(static_cast<int>(argv.size()), argv.data(), caseSensitive, validate);
    Compare(result == model.Parse(args, caseSensitive, validate), "Parse result");

    int code = -1;
    CString name("stale"), others("stale");
    Compare(parser.GetError(code, name, others) == model.hasError, "GetError flag");
    Compare(code == model.code, "error code");
    Compare(std::string(name.GetCharString()) == model.errorName, "error name");
    Compare(std::string(others.GetCharString()) == model.errorOthers, "error others");
    CheckLookups(parser, model, names);

    if (toolTable) RunTool(args);
    return 0;
}
