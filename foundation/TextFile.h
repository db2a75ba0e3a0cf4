// TextFile: line-oriented file access in the Windows runtime's text mode on every
// build (CR LF read as LF, Ctrl-Z ends the file, LF written as CR LF).
#pragma once

#include "CString.h"
#include "Platform.h"

#include <memory>

class PathName;

class TextFile {
public:
    TextFile();
    virtual ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    bool Open(const PathName& name, const CString& mode);
    bool Open(const CString& name, const CString& mode);
    bool Close();
    bool ReadLine(CString& line);  // line includes its "\n"; true when not empty
    bool IsEOF() const;
    bool WriteLine(const CString& text);
    bool WriteLine(const char* text);
    bool WriteNewLine();

private:
    bool atEnd_;
    std::unique_ptr<platform::TextStream> stream_;  // set while a file is open
    CString name_;
};
