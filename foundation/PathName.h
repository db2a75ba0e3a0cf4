// PathName: a Windows-style path held as text, with the text operations the tool
// needs, an existence test and a directory listing. Separators follow the
// platform rules (Platform.h): "\" on Windows, "\" and "/" on POSIX.
#pragma once

#include <string>
#include <string_view>

#include "CString.h"

class PathName {
public:
    PathName() = default;
    PathName(const CString& text) : text_(text) {}  // NOLINT: implicit like the text it holds
    PathName(const char* text) : text_(text) {}     // NOLINT
    PathName(const PathName& other) = default;
    // The path of an entry of a directory: as a copy of directory with
    // Append(component), in one allocation.
    PathName(const PathName& directory, std::string_view component);
    PathName& operator=(const PathName& other) = default;

    void Assign(const CString& text) { text_ = text; }
    void Assign(const PathName& other) { text_ = other.text_; }
    void Clear() { text_.Empty(); }
    bool IsEmpty() const { return text_.IsEmpty(); }
    CString GetPath() const { return text_; }
    const CString& Text() const { return text_; }
    const char* c_str() const { return text_.GetCharString(); }  // the text, for system calls

    CString GetDirectory() const;
    // The directory part of a path text, as GetDirectory gives it, without a copy.
    static std::string_view DirectoryOf(std::string_view path);
    CString GetFileName() const;
    bool SplitPath(CString& drive, CString& directory, CString& name, CString& extension) const;
    CString GetBaseName() const;
    CString GetExtension() const;
    CString GetFullPath() const;  // empty on failure
    // GetFullPath of a path text, into a caller's buffer: empty when there is none.
    static void FullPathOf(std::string_view path, std::string& full);
    const CString& MakeFullPath();                    // the new text
    const CString& Append(const CString& component);  // the new text
    bool Exists() const;
    bool IsDirectory() const;  // an existing directory, or a link to one

private:
    const CString& AppendComponent(std::string_view component);

    CString text_;
};

bool Exists(const PathName& path);
// Names of the entries of a directory, as a "," list, in the platform's order.
// kind 1: subdirectories only; any other kind: entries that are not directories.
bool ListEntries(const PathName& directory, int kind, CString& list);
bool ListSubdirectories(const PathName& directory, CString& list);
