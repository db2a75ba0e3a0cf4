// The path lists of a run: the sets found, and the matches of each filter, are
// comma lists of DrvSet.ini paths. Every stage relies on two invariants of
// theirs, kept where paths enter a list:
// 1. No item holds a comma: one would split the item in two. The driver path is
//    refused when it holds one (UnlistableReason), and the walk skips a
//    directory whose name holds one (NameFitsAnItem).
// 2. Every item begins with the driver path as typed, then the names below it,
//    so that an item's place below the driver path is the item with that text
//    cut off (BelowDriverPath). The driver path is refused when it starts with
//    a blank, which reading the list's first item would trim.
#pragma once

#include <string_view>

#include "AsciiText.h"
#include "PathName.h"
#include "Platform.h"

namespace path_list {

constexpr const char* kDelimiter = ",";

// Invariant 1: a directory or file name that can be part of an item.
inline bool NameFitsAnItem(std::string_view name) {
    return name.find(',') == std::string_view::npos;
}

// Why a path typed on the command line cannot begin the items of a list (the
// middle of the message that refuses it), or null when it can.
inline const char* UnlistableReason(std::string_view path) {
    if (path.find(',') != std::string_view::npos) {
        return " with a comma in its name cannot be searched:";
    }
    if (!path.empty() && IsBlankAscii(path[0])) {
        return " that starts with white space cannot be searched:";
    }
    return nullptr;
}

// Invariant 2: the item below the driver path, without the separator after it.
inline std::string_view BelowDriverPath(std::string_view item, std::string_view driverPath) {
    std::string_view below =
        item.substr(item.compare(0, driverPath.size(), driverPath) == 0 ? driverPath.size() : 0);
    if (!below.empty() && platform::IsSeparator(below[0])) below.remove_prefix(1);
    return below;
}

// The directory of an item as text to make absolute: the item without its
// file name, and without the separator before it unless that separator is a
// root's ("/DrvSet.ini" is in "/", "C:\DrvSet.ini" in "C:\").
inline std::string_view DirectoryOfItem(std::string_view item) {
    const std::string_view directory = PathName::DirectoryOf(item);
    const bool root = directory.empty() || directory.back() == ':';
    if (root && directory.size() < item.size() && platform::IsSeparator(item[directory.size()])) {
        return item.substr(0, directory.size() + 1);
    }
    return directory;
}

}  // namespace path_list
