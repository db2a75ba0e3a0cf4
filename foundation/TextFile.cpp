#include "TextFile.h"

#include "PathName.h"

#include <cstdio>
#include <cstring>

// The Windows runtime's text-mode decoding of bytes already read, shared by both
// platform layers: a Ctrl-Z ends the text, a CR directly before an LF is dropped.
void platform::DecodeTextMode(std::string& bytes) {
    size_t end = bytes.find('\x1A');
    if (end != std::string::npos) {
        bytes.resize(end);
    }
    // Moves the text between carriage returns that stand before a line feed.
    char* data = &bytes[0];
    const char* const limit = data + bytes.size();
    char* out = data;
    const char* in = data;
    while (in < limit) {
        const char* cr = static_cast<const char*>(std::memchr(in, '\r', limit - in));
        const char* stop = cr ? cr : limit;
        if (out != in) std::memmove(out, in, stop - in);
        out += stop - in;
        in = stop;
        if (cr == nullptr) break;
        if (cr + 1 < limit && cr[1] == '\n') {
            ++in;  // dropped: the line feed that follows is kept
        } else {
            *out++ = *in++;
        }
    }
    bytes.resize(out - data);
}

namespace {

// Reads as at its end at once and refuses writes; shared by both platform layers.
class EmptyTextStream : public platform::TextStream {
public:
    int ReadChar() override { return EOF; }
    bool AtEnd() const override { return true; }
    bool WriteText(const char*) override { return false; }
    bool Close() override { return true; }
};

}  // namespace

platform::TextStream* platform::NewEmptyTextStream() { return new EmptyTextStream; }

platform::ReadStatus platform::ReadTextFile(const char* path, std::string& content) {
    ReadStatus status = ReadFileBytes(path, content);
    DecodeTextMode(content);
    return status;
}

TextFile::TextFile() : open_(false), atEnd_(true), stream_(nullptr) {}

TextFile::~TextFile() {
    if (open_) {
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
    if (open_) {
        Close();
    }
    stream_ = platform::OpenTextStream(name_.GetCharString(), openMode.GetCharString());
    atEnd_ = false;
    open_ = stream_ != nullptr;
    return open_;
}

bool TextFile::Close() {
    if (!open_) {
        return false;
    }
    open_ = false;
    atEnd_ = false;
    bool closed = stream_->Close();
    delete stream_;
    stream_ = nullptr;
    return closed;
}

bool TextFile::ReadLine(CString& line) {
    line.Empty();
    if (!open_) {
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

bool TextFile::IsEOF() const { return !open_ || atEnd_; }

bool TextFile::WriteLine(const CString& text) { return WriteLine(text.GetCharString()); }

bool TextFile::WriteLine(const char* text) {
    if (!open_ || !stream_->WriteText(text)) {
        return false;
    }
    return stream_->WriteText("\n");
}

bool TextFile::WriteNewLine() {
    if (!open_) {
        return false;
    }
    return stream_->WriteText("\n");
}
