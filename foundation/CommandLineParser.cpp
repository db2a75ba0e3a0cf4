// CommandLineParser: declared options live in a doubly linked table whose first
// record points back to the last one. Parse walks the arguments once, gives each
// to the first free record that matches it, then optionally validates the table.
#include "CommandLineParser.h"

#include "PathName.h"

#include <new>
#include <string>
#include <vector>

const char* const kEmptyList = "%EmptyList%";

namespace {

// Parse results of one argument besides the index of the next argument.
const int kNoMatch = -1;
const int kUnknownKind = -2;

bool IsKnownKind(int kind) { return kind >= Switch && kind <= PathValue; }

bool IsValueKind(int kind) { return kind >= NumberValue && kind <= PathValue; }

// Upper-cases the ASCII letters, as toupper does in the default locale.
CString FoldCase(const CString& text) {
    CString folded = text;
    folded.MakeUpper();
    return folded;
}

bool EndsWithBlank(const CString& text) {
    return !text.IsEmpty() && text[text.GetLength() - 1] == ' ';
}

const char* ArgumentAt(const char* const* argv, int i) { return argv[i] != nullptr ? argv[i] : ""; }

// Whether the argument begins the option: equal to its name for a switch, starting
// with it for a value kind. Both are upper-cased unless the match is case-sensitive,
// and a name that ends with a blank gets a blank appended to the argument, so "/F "
// matches "/F" (value in the next argument) as well as "/F value". The name as it
// was compared is handed back.
bool BeginsOption(const CommandLineOption& option, const CString& argument, bool caseSensitive,
                  CString& comparedName) {
    comparedName = caseSensitive ? option.name : FoldCase(option.name);
    CString text = caseSensitive ? argument : FoldCase(argument);
    if (EndsWithBlank(comparedName)) {
        text += ' ';
    }
    if (option.kind == Switch) {
        return text == comparedName;
    }
    return IsValueKind(option.kind) && text.StartsWith(comparedName);
}

// The name a relation list uses for an option: its display name when it has one.
bool IsListedAs(const CommandLineOption& option, const CString& item) {
    return option.displayName.IsEmpty() ? option.name == item : option.displayName == item;
}

// Cuts a "~n" suffix off a relation item and returns n (1 without a suffix).
int CutOccurrenceSuffix(CString& item) {
    const int tilde = item.ReverseFind("~");
    if (tilde == -1) {
        return 1;
    }
    const int occurrence = item.Mid(tilde + 1, 0).ToInt();
    item = item.Left(tilde);
    return occurrence;
}

const CString& ErrorLabel(const CommandLineOption& option) {
    return option.displayName.IsEmpty() ? option.name : option.displayName;
}

}  // namespace

CommandLineParser::CommandLineParser()
    : first_(nullptr),
      caseSensitive_(false),
      hasError_(false),
      errorCode_(NoSyntaxError),
      delimiter_(",") {}

CommandLineParser::~CommandLineParser() {
    CommandLineOption* option = first_;
    while (option != nullptr) {
        CommandLineOption* next = option->next;
        delete option;
        option = next;
    }
}

bool CommandLineParser::AddParameter(const CString& name, const CString& displayName, int kind,
                                     bool required, bool emptyAllowed) {
    return Append(name, displayName, kind, kEmptyList, kEmptyList, required, emptyAllowed);
}

bool CommandLineParser::AddOption(const CString& name, int kind, const CString& requires,
                                  const CString& excludes, bool required, bool emptyAllowed) {
    return Append(name, CString(), kind, requires, excludes, required, emptyAllowed);
}

bool CommandLineParser::Append(const CString& name, const CString& displayName, int kind,
                               const CString& requires, const CString& excludes, bool required,
                               bool emptyAllowed) {
    CommandLineOption* option = new (std::nothrow) CommandLineOption();
    if (option == nullptr) {
        return false;
    }
    option->next = nullptr;
    if (first_ == nullptr) {
        option->previous = option;
        first_ = option;
    } else {
        CommandLineOption* last = first_->previous;
        last->next = option;
        option->previous = last;
        first_->previous = option;
    }
    option->name = name;
    option->displayName = displayName;
    option->value.Empty();
    if (requires != kEmptyList) {
        option->requires.AddItem(requires, delimiter_);
    }
    if (excludes != kEmptyList) {
        option->excludes.AddItem(excludes, delimiter_);
    }
    option->present = false;
    option->required = required;
    option->emptyAllowed = emptyAllowed;
    option->kind = kind;
    return true;
}

int CommandLineParser::Parse(int argc, const char* const* argv, bool caseSensitive, bool validate) {
    caseSensitive_ = caseSensitive;
    if (argv == nullptr) {
        argc = 0;
    }
    int i = 1;
    while (i < argc) {
        const int next = MatchArgument(argc, argv, i);
        if (next == kUnknownKind) {
            return 1;
        }
        if (next == kNoMatch) {
            RecordError(InvalidParameter, ArgumentAt(argv, i), CString());
            return 1;
        }
        i = next;
    }
    if (validate && Validate()) {
        return 1;
    }
    return 0;
}

// Gives argument i to the first free record that matches it. Returns the index of
// the next argument not consumed, kNoMatch, or kUnknownKind when a record of a kind
// the parser does not know is reached first.
int CommandLineParser::MatchArgument(int argc, const char* const* argv, int i) {
    const CString argument(ArgumentAt(argv, i));
    for (CommandLineOption* option = first_; option != nullptr; option = option->next) {
        if (option->present) {
            continue;
        }
        if (!IsKnownKind(option->kind)) {
            return kUnknownKind;
        }
        CString comparedName;
        bool matched;
        if (option->kind != Switch && option->name.IsEmpty()) {
            matched = !IsOptionToken(argument, caseSensitive_);
        } else {
            matched = BeginsOption(*option, argument, caseSensitive_, comparedName);
        }
        if (!matched) {
            continue;
        }
        option->present = true;
        if (option->kind == Switch) {
            return i + 1;
        }
        return TakeValue(option, comparedName, argc, argv, i);
    }
    return kNoMatch;
}

bool CommandLineParser::IsOptionToken(const CString& argument, bool caseSensitive) const {
    for (const CommandLineOption* option = first_; option != nullptr; option = option->next) {
        CString comparedName;
        if (!option->present && !option->name.IsEmpty() &&
            BeginsOption(*option, argument, caseSensitive, comparedName)) {
            return true;
        }
    }
    return false;
}

int CommandLineParser::TakeValue(CommandLineOption* option, const CString& matchedName, int argc,
                                 const char* const* argv, int i) const {
    // Values come from the argument as typed, so they keep their case.
    const CString argument(ArgumentAt(argv, i));
    option->value = argument.Mid(static_cast<int>(matchedName.GetLength()), 0);
    ++i;
    if (i < argc && EndsWithBlank(matchedName) &&
        !IsOptionToken(ArgumentAt(argv, i), caseSensitive_)) {
        option->value += ArgumentAt(argv, i);
        ++i;
    }
    if (option->kind == MultiWordValue) {
        while (i < argc && !IsOptionToken(ArgumentAt(argv, i), caseSensitive_)) {
            option->value += ' ';
            option->value += ArgumentAt(argv, i);
            ++i;
        }
    }
    return i;
}

bool CommandLineParser::Validate() {
    for (CommandLineOption* option = first_; option != nullptr; option = option->next) {
        const int code = CheckOption(option);
        if (code == NoSyntaxError) {
            continue;
        }
        const bool hasOthers = code == ExcludedParameter || code == RequiresParameter;
        RecordError(code, ErrorLabel(*option), hasOthers ? CString(errorOthers_) : CString());
        return true;
    }
    return false;
}

// The first check that fails for one record, or NoSyntaxError.
int CommandLineParser::CheckOption(CommandLineOption* option) {
    if (!option->present) {
        return option->required ? RequiredParameter : NoSyntaxError;
    }
    if (option->value.IsEmpty() && !option->emptyAllowed) {
        return EmptyValue;
    }
    if (option->kind == NumberValue && !option->value.IsEmpty() &&
        option->value != CString(static_cast<int>(option->value.ToLong()))) {
        return NotANumber;
    }
    if (CheckRelations(option, true)) {
        return ExcludedParameter;
    }
    if (CheckRelations(option, false)) {
        return RequiresParameter;
    }
    return NoSyntaxError;
}

// Excludes mode: true when an option of the excludes list is present (OTHERS names
// it). Requires mode: true when the requires list has items and none of them is
// present (OTHERS is the whole list).
bool CommandLineParser::CheckRelations(CommandLineOption* option, bool excludesMode) {
    const CString& list = excludesMode ? option->excludes : option->requires;
    const std::vector<CString> items = list.GetItems(delimiter_);
    for (const CString& entry : items) {
        CString item = entry;
        const int occurrence = CutOccurrenceSuffix(item);
        if (!IsRelatedPresent(option, item, occurrence)) {
            continue;
        }
        if (!excludesMode) {
            return false;
        }
        SetErrorOthers(item);
        return true;
    }
    if (excludesMode || items.empty()) {
        return false;
    }
    SetErrorOthers(list);
    return true;
}

// Whether a present record other than the given one is listed as item. An
// occurrence n above 1 first passes over n - 1 present records, whatever their
// names (the given record included); n of 0 or below never finds one.
bool CommandLineParser::IsRelatedPresent(const CommandLineOption* self, const CString& item,
                                         int occurrence) const {
    if (occurrence < 1) {
        return false;
    }
    for (const CommandLineOption* option = first_; option != nullptr; option = option->next) {
        if (!option->present) {
            continue;
        }
        if (occurrence > 1) {
            --occurrence;
            continue;
        }
        if (option != self && IsListedAs(*option, item)) {
            return true;
        }
    }
    return false;
}

void CommandLineParser::SetErrorOthers(const CString& others) {
    // The first recorded error keeps its related names.
    if (!hasError_) {
        errorOthers_ = others;
    }
}

void CommandLineParser::RecordError(int code, const CString& name, const CString& others) {
    if (hasError_) {
        return;
    }
    hasError_ = true;
    errorCode_ = code;
    errorName_ = name;
    errorOthers_ = others;
}

bool CommandLineParser::GetError(int& code, CString& name, CString& others) const {
    if (!hasError_) {
        code = NoSyntaxError;
        name.Empty();
        others.Empty();
        return false;
    }
    code = errorCode_;
    name = errorName_;
    others = errorOthers_;
    return true;
}

// The n-th record (n of 0 or 1: the first) whose name, or non-empty display name,
// equals the given name exactly.
const CommandLineOption* CommandLineParser::Lookup(const CString& name, int occurrence) const {
    int remaining = occurrence > 1 ? occurrence : 1;
    for (const CommandLineOption* option = first_; option != nullptr; option = option->next) {
        const bool found =
            option->name == name || (!option->displayName.IsEmpty() && option->displayName == name);
        if (found && --remaining == 0) {
            return option;
        }
    }
    return nullptr;
}

bool CommandLineParser::GetOptionValue(const CString& name, CString& value, int occurrence) const {
    value.Empty();
    const CommandLineOption* option = Lookup(name, occurrence);
    if (option == nullptr) {
        return false;
    }
    value = option->value;
    return option->present;
}

bool CommandLineParser::GetOptionPath(const CString& name, PathName& path, int occurrence) const {
    path.Clear();
    const CommandLineOption* option = Lookup(name, occurrence);
    if (option == nullptr) {
        return false;
    }
    path.Assign(option->value);
    return option->present;
}

bool CommandLineParser::IsOptionPresent(const CString& name, int occurrence) const {
    const CommandLineOption* option = Lookup(name, occurrence);
    return option != nullptr && option->present;
}
