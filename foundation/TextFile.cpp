#include "TextFile.h"

#include "PathName.h"

#include <cstdio>

TextFile::TextFile() : atEnd_(true) {}

TextFile::~TextFile() {
    if (stream_) {
        Close();
    }
}

bool TextFile::Open(const PathName& name, const CString& mode) {
    return Open(name.GetPath(), mode);
}

bool TextFile::Open(const CString& name, const CString& mode) {
    name_ = name;
    if (name_.IsEmpty()) {
        return false;
    }
    CString openMode = mode.IsEmpty() ? CString("r") : mode;
    if (stream_) {
        Close();
    }
    stream_ = platform::OpenTextStream(name_.GetCharString(), openMode.GetCharString());
    atEnd_ = false;
    return stream_ != nullptr;
}

bool TextFile::Close() {
    if (!stream_) {
        return false;
    }
    atEnd_ = false;
    bool closed = stream_->Close();
    stream_.reset();
    return closed;
}

bool TextFile::ReadLine(CString& line) {
    line.Empty();
    if (!stream_) {
        return false;
    }
    while (!stream_->AtEnd()) {
        int c = stream_->ReadChar();
        if (c == EOF) {
            break;
        }
        line += static_cast<char>(c);  // a NUL byte adds nothing
        if (c == '\n') {
            return true;
        }
    }
    atEnd_ = true;
    return !line.IsEmpty();
}

bool TextFile::IsEOF() const { return !stream_ || atEnd_; }

bool TextFile::WriteLine(const CString& text) { return WriteLine(text.GetCharString()); }

bool TextFile::WriteLine(const char* text) {
    if (!stream_ || !stream_->WriteText(text)) {
        return false;
    }
    return stream_->WriteText("\n");
}

bool TextFile::WriteNewLine() {
    if (!stream_) {
        return false;
    }
    return stream_->WriteText("\n");
}
