// IniFile: read-only INI reader. Loads the whole file at construction; lookups
// walk its lines from the first. Section and key names match ignoring case.
#pragma once

#include <string>
#include <string_view>

#include "CString.h"

class PathName;

class IniFile {
public:
    explicit IniFile(const CString& fileName);
    explicit IniFile(const PathName& fileName);
    // An empty reader, for loading from text already in memory (LoadText).
    IniFile();
    virtual ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    bool Load(const CString& fileName);
    // Loads text as a file's decoded contents (text mode applied), line by line,
    // exactly as Load would read the same file.
    bool LoadText(const char* text, unsigned long length);
    bool AddLine(const CString& line);
    bool FindLine(const CString& section, const CString& key, CString& line);
    CString GetValue(const CString& section, const CString& key, const CString& defaultValue);

    // Looks up several keys of one section in a file's contents in one pass,
    // without building the line list: values[i] gets what GetValue(section,
    // keys[i], "") would give after LoadText of the contents. With decode, text
    // holds the file's bytes as stored and the text-mode reading (CR before LF
    // dropped, Ctrl-Z ends the file) is applied on the way.
    static void GetValues(const char* text, unsigned long length, bool decode,
                          const CString& section, const CString* keys, std::string* values,
                          int count);
    // The same, with values as views of text, or of scratch where the text had
    // to be rewritten (NUL bytes in it); they stay valid while both do.
    static void GetValues(const char* text, unsigned long length, bool decode,
                          const CString& section, const CString* keys, std::string_view* values,
                          int count, std::string& scratch);

private:
    struct LineNode {
        LineNode* previous;  // for the first node: the last node
        LineNode* next;
        CString text;
    };

    CString fileName_;
    CString valueBuffer_;
    LineNode* firstLine_;
};
