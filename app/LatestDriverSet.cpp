// Report of the matching driver sets, and the choice of the latest by creation
// date and time.
#include <cstdint>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DriverSearchTool.h"
#include "LatestDriverSet.h"
#include "PathList.h"
#include "PathName.h"
#include "Platform.h"

namespace {

// The report labels: each key padded with blanks to 25 characters, then "= ".
const char* const kWindowsVersionLabel = "Windows Version          = ";
const char* const kKastrelVersionLabel = "Kastrel Version          = ";
const char* const kQuillonVersionLabel = "Quillon Version          = ";
const char* const kCreationDateLabel = "Creation Date            = ";
const char* const kCreationTimeLabel = "Creation Time            = ";
const char* const kBuildIdLabel = "BuildID                  = ";

// Index of the largest value in a range of positions, the earliest position
// among equal values: what a scan with "strictly greater replaces" finds.
class LatestTree {
public:
    explicit LatestTree(const std::vector<double>& values) : size_(1) {
        while (size_ < values.size()) size_ *= 2;
        values_.assign(size_, kExcluded);
        for (std::size_t i = 0; i < values.size(); ++i) values_[i] = values[i];
        best_.assign(2 * size_, 0);
        for (std::size_t i = 0; i < size_; ++i) best_[size_ + i] = i;
        for (std::size_t node = size_ - 1; node >= 1; --node) Pull(node);
    }

    std::size_t Best() const { return best_[1]; }

    void Set(std::size_t position, double value) {
        values_[position] = value;
        for (std::size_t node = (size_ + position) / 2; node >= 1; node /= 2) Pull(node);
    }

    void Exclude(std::size_t position) { Set(position, kExcluded); }

private:
    static constexpr double kExcluded = -std::numeric_limits<double>::infinity();

    void Pull(std::size_t node) {
        std::size_t left = best_[2 * node];
        std::size_t right = best_[2 * node + 1];
        best_[node] = values_[right] > values_[left] ? right : left;
    }

    std::size_t size_;
    std::vector<double> values_;
    std::vector<std::size_t> best_;
};

}  // namespace

void DriverSearchTool::PrintReportLine(const char* label, const char* value) const {
    PrintLine(label, value);
}

void DriverSearchTool::ReportDriverSets(const CString& list) {
    PrintLine("\nAll matching DrvSet.ini files...");
    std::string fullPath;
    for (std::string_view item : list.GetItemViews(",")) {
        const DriverSetInfo info = GetDriverSetInfo(item);
        PathName::FullPathOf(item, fullPath);
        PrintLine("\nDriverSet:", fullPath);
        PrintReportLine(kWindowsVersionLabel, info.Get(DriverSetInfo::WindowsVersion));
        const char* kastrel = info.Get(DriverSetInfo::KastrelVersion);
        if (*kastrel != '\0') PrintReportLine(kKastrelVersionLabel, kastrel);
        const char* quillon = info.Get(DriverSetInfo::QuillonVersion);
        if (*quillon != '\0') PrintReportLine(kQuillonVersionLabel, quillon);
        PrintReportLine(kCreationDateLabel, info.Get(DriverSetInfo::CreationDate));
        PrintReportLine(kCreationTimeLabel, info.Get(DriverSetInfo::CreationTime));
        PrintReportLine(kBuildIdLabel, info.Get(DriverSetInfo::BuildId));
    }
}

int GetMonthIndex(std::string_view month) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int index = 0; index < 12; ++index) {
        if (month.substr(0, 3) == kMonths[index]) return index;
    }
    return 0;
}

double GetCreationTimestamp(std::string_view date, std::string_view time) {
    auto field = [](std::string_view text, int index, const char* delimiter) {
        return CString::ToInt(CString::ItemOf(text, index, delimiter));
    };
    // The year as the runtime counts it; a year far out of range cannot convert.
    const int64_t year = static_cast<int64_t>(field(date, 2, " ")) - 1900;
    if (year < std::numeric_limits<int>::min()) return -1;

    std::tm when{};
    when.tm_hour = field(time, 0, ":");
    when.tm_min = field(time, 1, ":");
    when.tm_sec = field(time, 2, ":");
    when.tm_mday = field(date, 0, " ");
    when.tm_mon = GetMonthIndex(CString::ItemOf(date, 1, " "));
    when.tm_year = static_cast<int>(year);
    long long seconds = platform::MakeTime(&when);
    return seconds == -1 ? -1.0 : static_cast<double>(seconds);
}

// Orders the list latest first, exactly as a selection sort that takes the
// earliest of equal timestamps would, reading each set's timestamp once.
CString DriverSearchTool::FindLatestDriverSet(CString& list) {
    PrintLine("\nSearching for latest Driver Set...");
    std::vector<std::string_view> items = list.GetItemViews(",");
    if (items.empty()) return CString();

    std::vector<double> timestamps;
    timestamps.reserve(items.size());
    for (std::string_view item : items) {
        const DriverSetInfo info = GetDriverSetInfo(item);
        timestamps.push_back(GetCreationTimestamp(info.Get(DriverSetInfo::CreationDate),
                                                  info.Get(DriverSetInfo::CreationTime)));
    }

    OrderLatestFirst(items, timestamps);
    const CString latest(items[0]);
    list.SetItems(items, ",");  // the views die with the list's old text
    return latest;
}

template <typename Item>
void OrderLatestFirst(std::vector<Item>& items, std::vector<double>& timestamps) {
    LatestTree tree(timestamps);
    for (std::size_t position = 0; position < items.size(); ++position) {
        std::size_t best = tree.Best();
        std::swap(items[position], items[best]);
        std::swap(timestamps[position], timestamps[best]);
        tree.Set(best, timestamps[best]);
        tree.Exclude(position);
    }
}

template void OrderLatestFirst(std::vector<CString>&, std::vector<double>&);
template void OrderLatestFirst(std::vector<std::string_view>&, std::vector<double>&);

void DriverSearchTool::ReportDriverSetFound(const CString& path) {
    if (path.IsEmpty()) return;
    const std::string_view directory = AbsoluteDirectoryOf(path.View());
    PrintLine("Driver Set Found!");
    PrintLine("\tDriverSetPath:", directory);
}

std::string_view DriverSearchTool::AbsoluteDirectoryOf(std::string_view set) {
    if (set.empty() || set != absoluteSet) {
        absoluteSet.assign(set);
        PathName::FullPathOf(path_list::DirectoryOfItem(set), absoluteDirectory);
    }
    return absoluteDirectory;
}
