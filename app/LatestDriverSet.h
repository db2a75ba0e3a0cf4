// The rules of the latest choice, apart from the application object: the month
// of a creation date, the timestamp of a creation date and time, and the order
// latest first.
#pragma once

#include <string_view>
#include <vector>

// Index 0 to 11 of the first month whose English three-letter abbreviation the
// text starts with ("March" counts as "Mar", case-sensitive); 0 for none.
int GetMonthIndex(std::string_view month);

// Seconds since 1970 of a creation date ("05 Mar 2009") and time ("14:30:05")
// read as local time; -1 when they name no time the runtime can convert.
double GetCreationTimestamp(std::string_view date, std::string_view time);

// Reorders items (and their timestamps) latest first, as a selection sort that
// keeps the earliest position among equal timestamps does, in n log n.
template <typename Item>  // CString or std::string_view
void OrderLatestFirst(std::vector<Item>& items, std::vector<double>& timestamps);
