// The rules of media detection, apart from the application object: which kind
// of media file a path names, and the target Windows version its value gives.
#pragma once

#include "CString.h"

namespace media_rules {

enum class MediaFile {
    None,         // a directory to search for one of the two
    ProductSpec,  // PRODSPEC.INI (Windows 2000, XP and 2003 media): ".ini"
    BuildInfo,    // idwbinfo.txt (Windows 2008 media): ".txt"
};

// The kind of a path by its extension (case ignored).
MediaFile KindOfExtension(const CString& extension);

// The target version of a "Product" value of PRODSPEC.INI (never empty): the
// first rule whose words the value holds; 2003 for IA64 targets a version no
// set can match, and any other value the default version.
int VersionFromProduct(const CString& product);

// The target version of a "BuildArch" value of idwbinfo.txt; current when it
// names neither architecture.
int VersionFromBuildArch(const CString& buildArch, int current);

}  // namespace media_rules
