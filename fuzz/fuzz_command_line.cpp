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
// The model

struct Record {
    std::string name, displayName, value;
    ref::List requires, excludes;
    bool present = false, required = false, emptyAllowed = false;
    int kind = 0;
};

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return text;
}

bool EndsWithBlank(const std::string& text) { return !text.empty() && text.back() == ' '; }

class ModelParser {
public:
    std::vector<Record> records;
    bool hasError = false;
    int code = 0;
    std::string errorName, errorOthers;

    void Declare(const std::string& name, const std::string& displayName, int kind,
                 const std::string& requires, const std::string& excludes, bool required,
                 bool emptyAllowed) {
        Record r;
        r.name = name;
        r.displayName = displayName;
        if (requires != kEmptyList) ref::AddItem(r.requires, requires, ",");
        if (excludes != kEmptyList) ref::AddItem(r.excludes, excludes, ",");
        r.required = required;
        r.emptyAllowed = emptyAllowed;
        r.kind = kind;
        records.push_back(r);
    }

    int Parse(const std::vector<std::string>& args, bool caseSensitive, bool validate) {
        caseSensitive_ = caseSensitive;
        size_t i = 1;
        while (i < args.size()) {
            bool matched = false;
            for (Record& r : records) {
                if (r.present) continue;
                if (r.kind < 1 || r.kind > 5) return 1;
                std::string compared;
                bool hit;
                if (r.kind != 1 && r.name.empty()) {
                    hit = !IsOptionToken(args[i]);
                } else {
                    hit = Begins(r, args[i], compared);
                }
                if (!hit) continue;
                r.present = true;
                matched = true;
                i = r.kind == 1 ? i + 1 : TakeValue(r, compared, args, i);
                break;
            }
            if (!matched) {
                RecordError(1, args[i], "");
                return 1;
            }
        }
        return validate && Validate() ? 1 : 0;
    }

    const Record* Lookup(const std::string& name, int n) const {
        int remaining = n > 1 ? n : 1;
        for (const Record& r : records) {
            const bool found = r.name == name || (!r.displayName.empty() && r.displayName == name);
            if (found && --remaining == 0) return &r;
        }
        return nullptr;
    }

private:
    bool Begins(const Record& r, const std::string& argument, std::string& compared) const {
        compared = caseSensitive_ ? r.name : Upper(r.name);
        std::string text = caseSensitive_ ? argument : Upper(argument);
        if (EndsWithBlank(compared)) text += ' ';
        if (r.kind == 1) return text == compared;
        return r.kind >= 2 && r.kind <= 5 && ref::StartsWith(text, compared);
    }

    bool IsOptionToken(const std::string& argument) const {
        for (const Record& r : records) {
            std::string compared;
            if (!r.present && !r.name.empty() && Begins(r, argument, compared)) return true;
        }
        return false;
    }

    size_t TakeValue(Record& r, const std::string& compared, const std::vector<std::string>& args,
                     size_t i) const {
        r.value = compared.size() < args[i].size() ? args[i].substr(compared.size()) : "";
        ++i;
        if (i < args.size() && EndsWithBlank(compared) && !IsOptionToken(args[i])) {
            r.value += args[i];
            ++i;
        }
        if (r.kind == 4) {
            while (i < args.size() && !IsOptionToken(args[i])) {
                r.value += " " + args[i];
                ++i;
            }
        }
        return i;
    }

    void RecordError(int errorCode, const std::string& name, const std::string& others) {
        if (hasError) return;
        hasError = true;
        code = errorCode;
        errorName = name;
        errorOthers = others;
    }

    bool Validate() {
        for (Record& r : records) {
            int error = 0;
            std::string others;
            if (!r.present) {
                if (r.required) error = 2;
            } else if (r.value.empty() && !r.emptyAllowed) {
                error = 3;
            } else if (r.kind == 2 && !r.value.empty() &&
                       r.value != std::to_string(ref::ToInt(r.value))) {
                error = 4;
            } else if (Relations(r, true, others)) {
                error = 5;
            } else if (Relations(r, false, others)) {
                error = 6;
            }
            if (error != 0) {
                RecordError(error, r.displayName.empty() ? r.name : r.displayName, others);
                return true;
            }
        }
        return false;
    }

    bool Relations(const Record& self, bool excludesMode, std::string& others) const {
        const ref::List& list = excludesMode ? self.excludes : self.requires;
        const int count = ref::GetItemCount(list, ",");
        bool error = !excludesMode && count >= 1;
        for (int k = 0; k < count; ++k) {
            std::string item = ref::GetItem(list, k, ",");
            int n = 1;
            const int tilde = ref::FindNth(item, "~", 0);
            if (tilde != -1) {
                n = ref::ToInt(item.substr(static_cast<size_t>(tilde) + 1));
                item = item.substr(0, static_cast<size_t>(tilde));
            }
            if (!Present(self, item, n)) continue;
            if (excludesMode) {
                others = item;
                return true;
            }
            return false;
        }
        if (error) others = list.text;
        return error;
    }

    bool Present(const Record& self, const std::string& item, int n) const {
        if (n < 1) return false;
        for (const Record& r : records) {
            if (!r.present) continue;
            if (n > 1) {
                --n;
                continue;
            }
            if (&r == &self) continue;
            if (r.displayName.empty() ? r.name == item : r.displayName == item) return true;
        }
        return false;
    }

    bool caseSensitive_ = false;
};

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
        if (EndsWithBlank(text) && data.ConsumeBool()) text.pop_back();
        if (data.ConsumeBool()) text = Upper(text);
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

void CheckLookups(const CommandLineParser& parser, const ModelParser& model,
                  const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        for (int n = 0; n <= 3; ++n) {
            const Record* r = model.Lookup(name, n);
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
    int code = 0;
    CString name, others;
    const int result = tool.ParseCommandLine(static_cast<int>(argv.size()), argv.data(), code,
                                             name, others);
    Compare(result == 0 || result == 2 || result == 4 || result == 5, "tool result");
    Compare(code >= 0 && code <= 6 && (code == 0 || result == 2), "tool error code");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    CommandLineParser parser;
    ModelParser model;
    std::vector<std::string> names;

    auto declare = [&](const std::string& name, const std::string& display, int kind,
                       const std::string& requires, const std::string& excludes, bool required,
                       bool emptyAllowed, bool parameter) {
        const bool added =
            parameter ? parser.AddParameter(name.c_str(), display.c_str(), kind, required,
                                            emptyAllowed)
                      : parser.AddOption(name.c_str(), kind, requires.c_str(), excludes.c_str(),
                                         required, emptyAllowed);
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
