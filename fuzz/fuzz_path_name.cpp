// Fuzz target for the path operations: a path text and a component from the
// input go through every PathName operation; the text operations, the join and
// the absolute form must give what the plain reference model of the POSIX path
// rules gives. The existence test and the listing only have to come back.
#include "PathName.h"
#include "Platform.h"
#include "reference_model.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Expect(bool same, const char* what, const std::string& path) {
    if (!same) {
        std::fprintf(stderr, "%s differs for \"%s\"\n", what, path.c_str());
        std::abort();
    }
}

std::string S(const CString& text) { return text.GetCharString(); }

const std::string& CurrentDirectory() {
    static const std::string current = [] {
        char buffer[PATH_MAX];
        return std::string(getcwd(buffer, sizeof buffer) ? buffer : "");
    }();
    return current;
}

// Paths with drives, network shares, dots and both separators, so that short
// inputs reach every branch.
const char* const kPrefixes[] = {
    "", "C:", "C:\\", "\\\\srv\\share\\", "//srv/share/", "..\\", "./", "/", "\\", "a.b/"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::string component = ref::CText(data.ConsumeRandomLengthString(24));
    const int kind = data.ConsumeIntegralInRange(0, 2);
    const std::string prefix = data.PickValueInArray(kPrefixes);
    const std::string text = ref::CText(prefix + data.ConsumeRemainingBytesAsString());

    const PathName path(text.c_str());
    Expect(S(path.GetDirectory()) == ref::GetDirectory(text), "GetDirectory", text);
    Expect(S(path.GetFileName()) == ref::GetFileName(text), "GetFileName", text);

    CString drive("x"), directory("x"), name("x"), extension("x");
    Expect(path.SplitPath(drive, directory, name, extension), "SplitPath result", text);
    const ref::Split split = ref::SplitPath(text);
    Expect(S(drive) == split.drive, "SplitPath drive", text);
    Expect(S(directory) == split.directory, "SplitPath directory", text);
    Expect(S(name) == split.name, "SplitPath name", text);
    Expect(S(extension) == split.extension, "SplitPath extension", text);
    Expect(S(path.GetBaseName()) == split.name, "GetBaseName", text);
    Expect(S(path.GetExtension()) == split.extension, "GetExtension", text);

    const std::string full = ref::FullPath(text, CurrentDirectory(), platform::MaxPathLength());
    Expect(S(path.GetFullPath()) == full, "GetFullPath", text);
    PathName made(path);
    Expect(S(made.MakeFullPath()) == full && S(made.GetPath()) == full, "MakeFullPath", text);

    PathName joined(path);
    const std::string expectedJoin = ref::Append(text, component);
    Expect(S(joined.Append(component.c_str())) == expectedJoin, "Append result", text);
    Expect(S(joined.GetPath()) == expectedJoin, "Append", text);

    path.Exists();
    Exists(joined);
    CString list("stale");
    ListEntries(path, kind, list);
    return 0;
}
