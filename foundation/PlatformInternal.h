// Inside the platform layer only: the pieces PlatformCommon.cpp writes once for
// both platforms, and the calls each platform's source gives them.
#pragma once

#include "Platform.h"

#include <cstddef>
#include <string>

namespace platform {

// One read of at most size bytes from an open file (per platform): the count
// read, 0 at the end, or -1 with error set to the error number. POSIX makes a
// read that a signal cut short again; Windows gives the number of the system's
// code (GetLastError), or the runtime's errno where there is none.
std::ptrdiff_t ReadSome(int fd, char* buffer, std::size_t size, int& error);

// Reads an open regular file whole with ReadSome. expectedSize is the size the
// file had when opened (0 where it tells none): once that much has arrived, the
// read that would only confirm the end is left out; a file that reports no size
// (or keeps growing) is read until a read gives nothing. Read, or Failed when a
// read failed: then nothing is kept and *error (where given) receives its error.
ReadStatus ReadAll(int fd, std::size_t expectedSize, std::string& content, int* error);

// The runtime's two conversions of local time on this platform (per
// platform), ready for use: MakeTime reads every time with them.
const LocalClock& SystemClock();

}  // namespace platform
