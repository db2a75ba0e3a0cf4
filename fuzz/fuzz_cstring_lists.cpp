// Differential fuzz target: a sequence of list and text operations, built from
// the input, runs on three CString lists and on the plain reference model side
// by side. After every operation the texts, the empty-item flags, the results
// and the items read back must agree; any difference aborts.
#include "CString.h"
#include "Platform.h"
#include "reference_model.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Delimiters as the tool uses them, blanks (which the whole-list trim also
// removes), the empty delimiter, and ones that overlap themselves.
const char* const kDelimiters[] = {",", ";", ":", " ", "\t", "", "aa", ",,", "a,a", "\n"};
// Texts that make items, blanks and delimiters collide; separators of both kinds
// and the bytes that sort between and around them, for the path order.
const char* const kWords[] = {"",   "a",  "b",  "B",  ",",  " ",    "\t",         "\n", "\r",
                              "aa", "a,", ",a", " a", "a ", "\xE9", "Z",          ",,", "/",
                              "\\", "R",  "0",  "[",  "a/", "a\\",  "%EmptyList%"};

// Longest text kept between operations: appends and replacements can double it.
const size_t kMaxText = 240;

[[noreturn]] void Fail(const char* what, int step) {
    std::fprintf(stderr, "difference in %s at operation %d\n", what, step);
    std::abort();
}

std::string Text(const CString& s) { return std::string(s.GetCharString(), s.GetLength()); }

struct Pair {
    CString real;
    ref::List model;
};

class ListFuzzer {
public:
    explicit ListFuzzer(FuzzedDataProvider& data) : data_(data) {}

    void Run() {
        for (step_ = 0; step_ < 48 && data_.remaining_bytes() > 0; ++step_) {
            Operation();
            for (Pair& pair : lists_) Check(pair);
        }
    }

private:
    std::string Word() {
        switch (data_.ConsumeIntegralInRange(0, 3)) {
        case 0: return data_.PickValueInArray(kWords);
        case 1: return ref::CText(data_.ConsumeRandomLengthString(12));
        case 2: return lists_[data_.ConsumeIntegralInRange(0, 2)].model.text;
        default: return data_.PickValueInArray(kDelimiters);
        }
    }

    std::string Delimiter() {
        if (data_.ConsumeIntegralInRange(0, 7) == 0) {
            return ref::CText(data_.ConsumeRandomLengthString(3));
        }
        return data_.PickValueInArray(kDelimiters);
    }

    void Expect(bool same, const char* what) {
        if (!same) Fail(what, step_);
    }

    void Operation() {
        Pair& p = lists_[data_.ConsumeIntegralInRange(0, 2)];
        const int op = data_.ConsumeIntegralInRange(0, 17);
        switch (op) {
        case 0: {
            const std::string text = Word();
            p.real = text.c_str();
            ref::Assign(p.model, text);
            break;
        }
        case 1: {
            const std::string item = Word(), delimiter = Delimiter();
            p.real.AddItem(item.c_str(), delimiter.c_str());
            ref::AddItem(p.model, item, delimiter);
            break;
        }
        case 2: {  // an item that is the list itself
            const std::string delimiter = Delimiter();
            const std::string item = p.model.text;
            p.real.AddItem(p.real, delimiter.c_str());
            ref::AddItem(p.model, item, delimiter);
            break;
        }
        case 3: {
            const std::string item = Word(), before = Word(), delimiter = Delimiter();
            const int got = p.real.InsertItem(item.c_str(), before.c_str(), delimiter.c_str());
            Expect(got == ref::InsertItem(p.model, item, before, delimiter), "InsertItem result");
            break;
        }
        case 4: {
            const std::string delimiter = Delimiter();
            if (data_.ConsumeBool()) {
                p.real.SortPathItems(delimiter.c_str());
                ref::SortPathItems(p.model, delimiter, platform::IsSeparator);
            } else {
                p.real.SortItems(delimiter.c_str());
                ref::SortItems(p.model, delimiter);
            }
            break;
        }
        case 5: {
            const std::string delimiter = Delimiter();
            const int index = data_.ConsumeIntegralInRange(-3, 12);
            Expect(Text(p.real.GetItem(index, delimiter.c_str())) ==
                       ref::GetItem(p.model, index, delimiter),
                   "GetItem");
            break;
        }
        case 6: {
            const std::string set = Word();
            const int side = data_.ConsumeIntegralInRange(0, 2);
            const char* result = side == 0   ? p.real.TrimLeft(set.c_str())
                                 : side == 1 ? p.real.TrimRight(set.c_str())
                                             : p.real.Trim(set.c_str());
            ref::TrimInPlace(p.model, set, side != 1, side != 0);
            Expect(std::string(result) == p.model.text, "Trim result");
            break;
        }
        case 7: {
            const std::string text = Word();
            Expect(p.real.RemoveFirst(text.c_str()) == ref::RemoveFirst(p.model, text),
                   "RemoveFirst result");
            break;
        }
        case 8: {
            const std::string text = Word(), replacement = Word();
            Expect(p.real.ReplaceAll(text.c_str(), replacement.c_str()) ==
                       ref::ReplaceAll(p.model, text, replacement),
                   "ReplaceAll result");
            break;
        }
        case 9: {
            const std::string text = Word();
            Expect(
                p.real.CountOccurrences(text.c_str()) == ref::CountOccurrences(p.model.text, text),
                "CountOccurrences");
            break;
        }
        case 10: {
            const std::string sub = Word();
            const unsigned n = data_.ConsumeIntegralInRange(0u, 6u);
            Expect(p.real.Find(sub.c_str()) == ref::Find(p.model.text, sub), "Find");
            Expect(p.real.FindNth(sub.c_str(), n) == ref::FindNth(p.model.text, sub, n), "FindNth");
            Expect(p.real.ReverseFind(sub.c_str()) == ref::FindNth(p.model.text, sub, 0),
                   "ReverseFind");
            break;
        }
        case 11: {
            const std::string delimiter = Delimiter();
            std::vector<std::string> items = ref::GetItems(p.model, delimiter);
            std::vector<CString> real;
            for (const std::string& item : items) real.emplace_back(item.c_str());
            p.real.SetItems(real, delimiter.c_str());
            ref::SetItems(p.model, items, delimiter);
            break;
        }
        case 12: {
            const std::string other = Word();
            const CString o(other.c_str());
            Expect(p.real.Compare(o) == ref::CompareBytes(p.model.text, other), "Compare");
            Expect(ref::Sign(p.real.CompareNoCase(o)) == ref::CompareNoCase(p.model.text, other),
                   "CompareNoCase");
            Expect(p.real.StartsWith(o) == ref::StartsWith(p.model.text, other), "StartsWith");
            Expect(p.real.EndsWith(o) == ref::EndsWith(p.model.text, other), "EndsWith");
            Expect((p.real == o) == (p.model.text == other), "==");
            break;
        }
        case 13: {
            const int start = data_.ConsumeIntegralInRange(-4, 20);
            const unsigned count = data_.ConsumeIntegralInRange(0u, 20u);
            Expect(Text(p.real.Left(start)) == ref::Left(p.model.text, start), "Left");
            Expect(Text(p.real.Mid(start, count)) == ref::Mid(p.model.text, start, count), "Mid");
            Expect(Text(p.real.Right(count)) == ref::Right(p.model.text, count), "Right");
            break;
        }
        case 14: {
            const std::string text = Word();
            p.real += text.c_str();
            if (!text.empty()) ref::Assign(p.model, p.model.text + text);
            break;
        }
        case 15: {
            Expect(p.real.ToInt() == ref::ToInt(p.model.text), "ToInt");
            Expect(p.real.ToLong() == ref::ToInt(p.model.text), "ToLong");
            break;
        }
        case 16: {  // copies take the text only
            Pair& other = lists_[data_.ConsumeIntegralInRange(0, 2)];
            p.real = CString(other.real);
            ref::Assign(p.model, other.model.text);
            break;
        }
        default:
            p.real.Empty();
            ref::Assign(p.model, "");
            break;
        }
        if (trace_) {
            std::fprintf(stderr, "operation %d: %d on list %d\n", step_, op,
                         static_cast<int>(&p - lists_));
            for (const Pair& pair : lists_) {
                std::fprintf(stderr, "  real \"%s\" flag %d, model \"%s\" flag %d\n",
                             pair.real.GetCharString(), pair.real.HasEmptyItemFlag(),
                             pair.model.text.c_str(), pair.model.emptyItem);
            }
        }
        for (Pair& pair : lists_) {
            if (pair.model.text.size() > kMaxText) {
                pair.real.Empty();
                ref::Assign(pair.model, "");
            }
        }
    }

    void Check(Pair& p) {
        Expect(Text(p.real) == p.model.text, "text");
        Expect(p.real.GetLength() == std::string(p.real.GetCharString()).size(), "length");
        Expect(p.real.HasEmptyItemFlag() == p.model.emptyItem, "empty-item flag");
        for (const char* delimiter : {",", ";", " ", "aa"}) {
            const int count = ref::GetItemCount(p.model, delimiter);
            if (trace_ && p.real.GetItemCount(delimiter) != count) {
                std::fprintf(stderr, "  \"%s\" items by \"%s\": real %d, model %d\n",
                             p.model.text.c_str(), delimiter, p.real.GetItemCount(delimiter),
                             count);
            }
            Expect(p.real.GetItemCount(delimiter) == count, "GetItemCount");
            const std::vector<CString> items = p.real.GetItems(delimiter);
            Expect(items.size() == static_cast<size_t>(count), "GetItems count");
            for (int i = 0; i < count; ++i) {
                const std::string expected = ref::GetItem(p.model, i, delimiter);
                Expect(Text(items[static_cast<size_t>(i)]) == expected, "GetItems item");
            }
        }
    }

    FuzzedDataProvider& data_;
    const bool trace_ = std::getenv("HALVARD_FUZZ_TRACE") != nullptr;
    Pair lists_[3];
    int step_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    ListFuzzer(data).Run();
    return 0;
}
