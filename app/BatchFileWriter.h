// The rules of the batch file's text, apart from the application object: which
// values cmd.exe cannot be given safely, how a value is escaped for a SET
// command, and the relative-directory list of QL_NOS_All_DDL_Paths.
#pragma once

#include <string>
#include <string_view>

#include "CString.h"

namespace batch_text {

// False for a text cmd.exe would not read back as written: it ends a line at a
// CR or LF, and may at a Ctrl-Z; a double quote would turn the escaping of what
// follows it around.
bool IsSafe(std::string_view text);

// Appends a value for "SET NAME=value": ^ before & | < > ^ outside double
// quotes, each % doubled.
void AppendEscaped(std::string& line, std::string_view value);

// The text with each % doubled: cmd.exe expands % on every line of a batch file,
// rem lines too.
CString DoublePercents(const CString& text);

// A value as it stands, before escaping, and whether it can be written safely.
struct Value {
    std::string text;
    bool safe = true;
};

// The directories of the sets below the driver path as typed, each in double
// quotes, joined with ";".
Value RelativeDirectories(const CString& sets, std::string_view driverPath);

}  // namespace batch_text
