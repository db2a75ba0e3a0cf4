// The parts of the platform layer that both platforms share: the Windows
// runtime's text-mode decoding of bytes already read, and the empty stream.

#include "Platform.h"

#include <cstdio>
#include <cstring>

namespace platform {

bool IsShareRoot(const char* path) {
    if (path == nullptr || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
    const char* part = path + 2;
    for (int parts = 0; parts < 2; ++parts) {  // the server's name, then the share's
        const char* end = part;
        while (*end != '\0' && !IsSeparator(*end)) ++end;
        if (end == part) return false;
        if (*end == '\0') return parts == 1;
        part = end + 1;
    }
    return *part == '\0';  // one separator after the share, and nothing more
}

bool IsUnknownFileNumber(uint64_t number) {
    return number == 0 || number == UINT32_MAX || number == UINT64_MAX;
}

// A Ctrl-Z ends the text, a CR directly before an LF is dropped.
void DecodeTextMode(std::string& bytes) {
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

ReadStatus ReadTextFile(const char* path, std::string& content, int* error) {
    ReadStatus status = ReadFileBytes(path, content, error);
    DecodeTextMode(content);
    return status;
}

namespace {

// Reads as at its end at once and refuses writes.
class EmptyTextStream : public TextStream {
public:
    int ReadChar() override { return EOF; }
    bool AtEnd() const override { return true; }
    bool WriteText(const char*) override { return false; }
    bool Close() override { return true; }
};

}  // namespace

std::unique_ptr<TextStream> NewEmptyTextStream() { return std::make_unique<EmptyTextStream>(); }

}  // namespace platform
