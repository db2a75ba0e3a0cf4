// The parts of the platform layer that both platforms share: the Windows
// runtime's text-mode decoding of bytes already read, the loop that reads a
// whole file, the empty stream, and the one reading of local times with the
// Windows runtime's range.

#include "Platform.h"
#include "PlatformInternal.h"

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

ReadStatus ReadAll(int fd, size_t expectedSize, std::string& content, int* error) {
    content.resize(expectedSize > 0 ? expectedSize : 65536);
    size_t filled = 0;
    for (;;) {
        if (filled == content.size()) {
            if (filled == expectedSize) break;
            content.resize(content.size() * 2);
        }
        int failure = 0;
        const std::ptrdiff_t count =
            ReadSome(fd, &content[filled], content.size() - filled, failure);
        if (count < 0) {
            content.clear();
            if (error != nullptr) *error = failure;
            return ReadStatus::Failed;
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<size_t>(count);
    }
    content.resize(filled);
    return ReadStatus::Read;
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

namespace {

const long long kDay = 86400;

long long FloorDivide(long long value, long long divisor) {
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1
// to 12), for any year.
long long DaysFromCivil(long long year, long long month, long long day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = FloorDivide(year, 400);
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The fields as seconds on the local wall clock since 1970-01-01 00:00 on it,
// normalised as mktime normalises them: out-of-range fields carry over.
long long WallClock(const std::tm& fields) {
    const long long months = static_cast<long long>(fields.tm_mon);
    const long long year = 1900LL + fields.tm_year + FloorDivide(months, 12);
    const long long month = months - FloorDivide(months, 12) * 12 + 1;
    const long long days = DaysFromCivil(year, month, 1) + fields.tm_mday - 1;
    return days * kDay + fields.tm_hour * 3600LL + fields.tm_min * 60LL + fields.tm_sec;
}

// The offset of local time from UTC at an instant, in seconds east.
bool OffsetAt(const LocalClock& clock, long long seconds, long long& offset) {
    std::tm local{};
    if (!clock.toFields(seconds, &local)) return false;
    offset = WallClock(local) - seconds;
    return true;
}

bool ShowsWallClock(const LocalClock& clock, long long seconds, long long wall) {
    std::tm local{};
    return clock.toFields(seconds, &local) && WallClock(local) == wall;
}

}  // namespace

// The runtime's mktime only finds an instant near the time: which of two it
// finds for a repeated time, and what it makes of a skipped one, depends on
// the platform and on the call made before. The offsets in force a day before
// and a day after that instant are those on both sides of any change of offset
// near the time (changes are months apart); the time is then read with each,
// and localtime, which has one answer for every instant, tells which readings
// show the time again.
long long ReadLocalTime(std::tm* time, const LocalClock& clock) {
    const long long wall = WallClock(*time);
    std::tm fields = *time;
    fields.tm_isdst = -1;
    const long long near = clock.toSeconds(&fields);
    if (near == -1) return -1;
    // mktime left the local fields of its instant: the offset there.
    const long long here = WallClock(fields) - near;
    long long before = here;
    long long after = here;
    OffsetAt(clock, near - kDay, before);  // kept as here where the clock has no answer
    OffsetAt(clock, near + kDay, after);
    // Where the offset falls (a repeated time), the offset before gives the
    // earlier instant; where it rises (a skipped time), no reading shows the
    // time, and the offset before is the one to read it with.
    long long result = wall - before;
    const bool changeNear = before != here || after != here;
    if (changeNear && !ShowsWallClock(clock, result, wall)) {
        if (ShowsWallClock(clock, wall - after, wall)) {
            result = wall - after;
        } else if (ShowsWallClock(clock, wall - here, wall)) {
            result = wall - here;
        }
    }
    std::tm local = fields;
    if (result == near || clock.toFields(result, &local)) *time = local;
    return result;
}

long long MakeTime(std::tm* time) {
    const long long latest = 32535215999LL;  // 3000-12-31 23:59:59 UTC
    const long long seconds = ReadLocalTime(time, SystemClock());
    return (seconds < 0 || seconds > latest) ? -1 : seconds;
}

}  // namespace platform
