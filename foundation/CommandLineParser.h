// CommandLineParser: a table-driven parser of process arguments. Options are
// declared, the arguments parsed once, then values and the first syntax error
// are read back. It prints nothing.
#pragma once

#include "CString.h"

class PathName;

enum OptionKind { Switch = 1, NumberValue = 2, TextValue = 3, MultiWordValue = 4, PathValue = 5 };

enum SyntaxErrorCode {
    NoSyntaxError = 0,
    InvalidParameter = 1,
    RequiredParameter = 2,
    EmptyValue = 3,
    NotANumber = 4,
    ExcludedParameter = 5,
    RequiresParameter = 6
};

// The text that stands for "no list" in AddParameter and AddOption.
extern const char* const kEmptyList;  // "%EmptyList%"

struct CommandLineOption {
    CommandLineOption* previous;  // for the first record: the last record
    CommandLineOption* next;
    CString name;
    CString displayName;
    CString value;
    CString requires;
    CString excludes;
    bool present;
    bool required;
    bool emptyAllowed;
    int kind;
};

class CommandLineParser {
public:
    CommandLineParser();
    virtual ~CommandLineParser();
    CommandLineParser(const CommandLineParser&) = delete;
    CommandLineParser& operator=(const CommandLineParser&) = delete;

    bool AddParameter(const CString& name, const CString& displayName, int kind, bool required,
                      bool emptyAllowed);
    bool AddOption(const CString& name, int kind, const CString& requires, const CString& excludes,
                   bool required, bool emptyAllowed);
    int Parse(int argc, const char* const* argv, bool caseSensitive, bool validate);
    bool GetError(int& code, CString& name, CString& others) const;
    bool GetOptionValue(const CString& name, CString& value, int occurrence) const;
    bool GetOptionPath(const CString& name, PathName& path, int occurrence) const;
    bool IsOptionPresent(const CString& name, int occurrence) const;

private:
    bool Append(const CString& name, const CString& displayName, int kind, const CString& requires,
                const CString& excludes, bool required, bool emptyAllowed);
    bool IsOptionToken(const CString& argument, bool caseSensitive) const;
    int TakeValue(CommandLineOption* option, const CString& matchedName, int argc,
                  const char* const* argv, int i) const;
    bool Validate();
    bool CheckRelations(CommandLineOption* option, bool excludesMode);
    int MatchArgument(int argc, const char* const* argv, int i);
    int CheckOption(CommandLineOption* option);
    bool IsRelatedPresent(const CommandLineOption* self, const CString& item, int occurrence) const;
    void SetErrorOthers(const CString& others);
    const CommandLineOption* Lookup(const CString& name, int occurrence) const;
    void RecordError(int code, const CString& name, const CString& others);

    CommandLineOption* first_;
    bool caseSensitive_;
    bool hasError_;
    int errorCode_;
    CString delimiter_;
    CString errorOthers_;
    CString errorName_;
};
