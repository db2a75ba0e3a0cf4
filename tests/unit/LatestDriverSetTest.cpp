// The latest-set choice: month and timestamp reading, and the ordering checked
// against a plain selection sort on random lists.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "CString.h"
#include "LatestDriverSet.h"

namespace {

// The ordering as a plain selection sort: for each position, scan from there for
// a strictly greater timestamp, then exchange.
void SelectionSortLatestFirst(std::vector<CString>& items, std::vector<double>& timestamps) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::size_t best = i;
        double latest = timestamps[i];
        for (std::size_t j = i; j < items.size(); ++j) {
            if (timestamps[j] > latest) {
                latest = timestamps[j];
                best = j;
            }
        }
        std::swap(items[i], items[best]);
        std::swap(timestamps[i], timestamps[best]);
    }
}

TEST(LatestDriverSet, MonthIndexIsCaseSensitivePrefix) {
    EXPECT_EQ(GetMonthIndex("Jan"), 0);
    EXPECT_EQ(GetMonthIndex("March"), 2);
    EXPECT_EQ(GetMonthIndex("Dec"), 11);
    EXPECT_EQ(GetMonthIndex("MAR"), 0);
    EXPECT_EQ(GetMonthIndex("mar"), 0);
    EXPECT_EQ(GetMonthIndex(""), 0);
}

TEST(LatestDriverSet, TimestampsCompareAsCalendarTimes) {
    double a = GetCreationTimestamp("05 Mar 2009", "14:30:00");
    EXPECT_EQ(a, GetCreationTimestamp("5 Mar 2009", "14:30"));
    EXPECT_GT(GetCreationTimestamp("01 Jan 2010", "00:00:00"),
              GetCreationTimestamp("31 Dec 2009", "23:59:59"));
    EXPECT_EQ(GetCreationTimestamp("05 Mar 2009", "14:30:01") - a, 1.0);
    EXPECT_EQ(GetCreationTimestamp("", ""), -1.0);
    EXPECT_EQ(GetCreationTimestamp("01 Jan 1969", "00:00:00"), -1.0);
    EXPECT_EQ(GetCreationTimestamp("01 Jan 3001", "00:00:00"), -1.0);
    EXPECT_EQ(GetCreationTimestamp("01 Jan -2147483648", "00:00:00"), -1.0);
    // Day 0 is the last day of the month before.
    EXPECT_EQ(GetCreationTimestamp("0 Apr 2009", "12:00:00"),
              GetCreationTimestamp("31 Mar 2009", "12:00:00"));
}

TEST(LatestDriverSet, TiesKeepTheSelectionSortOrder) {
    std::vector<CString> items = {"first", "second", "third"};
    std::vector<double> timestamps = {1, 2, 2};
    OrderLatestFirst(items, timestamps);
    EXPECT_EQ(items, (std::vector<CString>{"second", "third", "first"}));
}

TEST(LatestDriverSet, OrderMatchesPlainSelectionSortOnRandomLists) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 2000; ++round) {
        std::size_t size = random() % 40;
        std::vector<CString> items;
        std::vector<double> timestamps;
        for (std::size_t i = 0; i < size; ++i) {
            items.emplace_back(CString(static_cast<int>(i)));
            // Few distinct values, so that ties are common; -1 for failed dates.
            timestamps.push_back(static_cast<double>(static_cast<int>(random() % 6) - 1));
        }
        std::vector<CString> expectedItems = items;
        std::vector<double> expectedTimestamps = timestamps;
        SelectionSortLatestFirst(expectedItems, expectedTimestamps);
        OrderLatestFirst(items, timestamps);
        ASSERT_EQ(items, expectedItems) << "round " << round;
        ASSERT_EQ(timestamps, expectedTimestamps);
    }
}

}  // namespace
