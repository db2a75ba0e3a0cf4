#include "PathName.h"

#include "AsciiText.h"

#include "Platform.h"

#include <string>
#include <vector>

namespace {

// Position of the last separator in text, or -1.
int LastSeparator(std::string_view text) {
    for (int i = static_cast<int>(text.size()) - 1; i >= 0; --i) {
        if (platform::IsSeparator(text[static_cast<unsigned>(i)])) {
            return i;
        }
    }
    return -1;
}

int LastSeparator(const CString& text) { return LastSeparator(text.View()); }

// Position just after the n-th separator (n from 1) in text, or -1.
int AfterNthSeparator(const CString& text, int n) {
    for (unsigned i = 0; i < text.GetLength(); ++i) {
        if (platform::IsSeparator(text[i]) && --n == 0) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

// Cuts a network drive (two separators, server, share and the separator after
// it) off the front of text; empty when text does not start with one.
CString TakeNetworkDrive(CString& text) {
    if (text.GetLength() < 2 || !platform::IsSeparator(text[0]) ||
        !platform::IsSeparator(text[1])) {
        return CString();
    }
    int end = AfterNthSeparator(text, 4);
    if (end < 0) {
        return CString();
    }
    CString drive = text.Left(end);
    text = text.Mid(end, 0);
    return drive;
}

}  // namespace

CString PathName::GetDirectory() const {
    const std::string_view directory = DirectoryOf(text_.View());
    return CString(directory.data(), static_cast<unsigned>(directory.size()));
}

std::string_view PathName::DirectoryOf(std::string_view path) {
    for (std::size_t i = path.size(); i-- > 0;) {
        if (platform::IsSeparator(path[i])) {
            return path.substr(0, i);
        }
    }
    const std::size_t colon = path.find(':');
    return colon == std::string_view::npos ? std::string_view() : path.substr(0, colon);
}

CString PathName::GetFileName() const {
    int separator = LastSeparator(text_);
    if (separator >= 0) {
        return text_.Mid(separator + 1, 0);
    }
    int colon = text_.Find(":");
    return colon >= 0 ? text_.Mid(colon + 1, 0) : text_;
}

bool PathName::SplitPath(CString& drive, CString& directory, CString& name,
                         CString& extension) const {
    drive.Empty();
    directory.Empty();
    name.Empty();
    extension.Empty();
    CString rest = text_;
    rest.Trim(kBlanksAscii);

    int colon = rest.Find(":");
    if (colon >= 0) {
        drive = rest.Left(colon + 1);
        rest = rest.Mid(colon + 1, 0);
    } else {
        drive = TakeNetworkDrive(rest);
    }

    int separator = LastSeparator(rest);
    if (separator >= 0) {
        directory = rest.Left(separator + 1);
        rest = rest.Mid(separator + 1, 0);
    }

    // An extension, dot included, is at most four characters long.
    int dot = rest.ReverseFind(".");
    if (dot >= 0 && dot >= static_cast<int>(rest.GetLength()) - 4) {
        name = rest.Left(dot);
        extension = rest.Mid(dot, 0);
    } else {
        name = rest;
    }
    return true;
}

CString PathName::GetBaseName() const {
    CString drive, directory, name, extension;
    SplitPath(drive, directory, name, extension);
    return name;
}

CString PathName::GetExtension() const {
    CString drive, directory, name, extension;
    SplitPath(drive, directory, name, extension);
    return extension;
}

CString PathName::GetFullPath() const {
    std::string full;
    FullPathOf(text_.View(), full);
    return CString(full.data(), static_cast<unsigned>(full.size()));
}

void PathName::FullPathOf(std::string_view path, std::string& full) {
    full.clear();
    if (!path.empty() && !platform::FullPath(std::string(path).c_str(), full)) full.clear();
}

const CString& PathName::MakeFullPath() {
    text_ = GetFullPath();
    return text_;
}

PathName::PathName(const PathName& directory, std::string_view component) {
    const std::string_view text = directory.text_.View();
    text_.Reserve(static_cast<unsigned>(text.size() + 1 + component.size()));
    text_.Append(text.data(), static_cast<unsigned>(text.size()));
    AppendComponent(component);
}

const CString& PathName::Append(const CString& component) {
    if (&component == &text_) {
        const CString copy(component);
        return AppendComponent(copy.View());
    }
    return AppendComponent(component.View());
}

const CString& PathName::AppendComponent(std::string_view component) {
    const unsigned componentLength = static_cast<unsigned>(component.size());
    if (text_.IsEmpty()) {
        text_ = CString(component.data(), componentLength);
        return text_;
    }
    if (component.empty()) {
        return text_;
    }
    const std::string_view text = text_.View();
    const unsigned length = static_cast<unsigned>(text.size());
    bool textEnds = platform::IsSeparator(text.back());
    bool componentStarts = platform::IsSeparator(component[0]);
    if (!textEnds && !componentStarts) {
        // Join with the separator the text already uses.
        int last = LastSeparator(text);
        const char separator =
            last >= 0 ? text[static_cast<unsigned>(last)] : platform::PreferredSeparator();
        text_.Reserve(length + 1 + componentLength);
        text_.Append(&separator, 1);
    } else if (textEnds && componentStarts) {
        text_ = text_.Left(static_cast<int>(length) - 1);
    }
    text_.Append(component.data(), componentLength);
    return text_;
}

bool PathName::Exists() const { return platform::Exists(text_.GetCharString()); }

bool PathName::IsDirectory() const { return platform::IsDirectory(text_.GetCharString()); }

bool Exists(const PathName& path) { return path.Exists(); }

bool ListEntries(const PathName& directory, int kind, CString& list) {
    list.Empty();
    std::vector<platform::DirEntry> entries;
    bool complete = platform::ListDirectory(directory.Text().GetCharString(), entries);
    bool directories = kind == 1;
    std::vector<CString> names;
    for (const platform::DirEntry& entry : entries) {
        if (entry.isDirectory == directories) {
            names.emplace_back(entry.name.c_str());
        }
    }
    list.SetItems(names, ",");
    return complete;
}

bool ListSubdirectories(const PathName& directory, CString& list) {
    return ListEntries(directory, 1, list);
}
