#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "song/Event.h"

int CompareElements(const TMidiElement& a, const TMidiElement& b)
{
    // Three-way results rather than differences: ticks and serials are 32-bit and their
    // difference could overflow.
    if (a.Tick != b.Tick) return a.Tick < b.Tick ? -1 : 1;
    if (a.Serial != b.Serial) return a.Serial < b.Serial ? -1 : 1;
    return 0;
}

int TMidiElements::Add(TMidiElement element)
{
    items_.push_back(std::move(element));
    return Count() - 1;
}

const TMidiElement& TMidiElements::Items(int index) const
{
    if (index < 0 || index >= Count())
        RaiseIndexError(index);
    return items_[static_cast<std::size_t>(index)];
}

TMidiElement& TMidiElements::Items(int index)
{
    return const_cast<TMidiElement&>(std::as_const(*this).Items(index));
}

void TMidiElements::Clear()
{
    // Each record frees its own system-exclusive bytes.
    items_.clear();
}

// The sort is Hoare's partition exchange with the middle item as the pivot:
//
//   i := L; j := R; P := item (L+R) div 2, held fixed while items move
//   repeat
//     while item i < P: i := i+1;  while item j > P: j := j-1
//     if i <= j: swap items i and j; i := i+1; j := j-1
//   until i > j
//   then sort L..j, and after it i..R.
//
// Items that compare equal (same Tick and Serial: two branches of one parallel block) end up in
// the order these steps give them, so a list of two equal items A, B becomes B, A, and A, B, C, D
// becomes C, D, A, B. The order is part of how a piece sounds, so no other algorithm may stand in.
//
// When no two items share both keys the sorted order is unique, so any correct sort gives exactly
// what these steps give; the list is then sorted by merging its ascending runs, which stays fast
// on the shape compiled pieces have (one ascending run per track, one after another), where the
// middle pivot is often a run's smallest item and each partition sheds only a few items. Only a
// list with items of equal keys runs the steps themselves.
//
// They run on a compact array of keys, and the records are moved into their places once at the
// end. Their ranges are kept on an explicit stack, so a hostile input cannot exhaust the call
// stack; and since a hostile input could make the partitions lopsided for long enough to be
// quadratic, the steps have a budget of comparisons far above what any real piece needs, past
// which the ranges still open are finished by std::sort.
namespace {

struct SortKey {
    std::int32_t Tick, Serial;
    std::uint32_t Index;  // where the record stands before sorting
};

int CompareKeys(const SortKey& a, const SortKey& b)
{
    if (a.Tick != b.Tick) return a.Tick < b.Tick ? -1 : 1;
    if (a.Serial != b.Serial) return a.Serial < b.Serial ? -1 : 1;
    return 0;
}

bool KeyLess(const SortKey& a, const SortKey& b) { return CompareKeys(a, b) < 0; }

void PartitionExchangeSort(std::vector<SortKey>& keys)
{
    struct Range {
        std::ptrdiff_t L, R;
    };
    const double n = static_cast<double>(keys.size());
    double budget = 64.0 * n * (std::log2(n) + 1.0);
    std::vector<Range> pending{{0, static_cast<std::ptrdiff_t>(keys.size()) - 1}};
    while (!pending.empty()) {
        const Range range = pending.back();
        pending.pop_back();
        const std::ptrdiff_t L = range.L, R = range.R;
        if (budget < 0) {
            std::sort(keys.begin() + L, keys.begin() + R + 1, KeyLess);
            continue;
        }
        budget -= static_cast<double>(R - L + 1);
        std::ptrdiff_t i = L, j = R;
        const SortKey pivot = keys[static_cast<std::size_t>((L + R) / 2)];
        do {
            while (CompareKeys(keys[static_cast<std::size_t>(i)], pivot) < 0) ++i;
            while (CompareKeys(keys[static_cast<std::size_t>(j)], pivot) > 0) --j;
            if (i <= j) {
                std::swap(keys[static_cast<std::size_t>(i)], keys[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (i < R) pending.push_back({i, R});
        if (L < j) pending.push_back({L, j});
    }
}

// Sorts by the keys and, among equal keys, by the index. A compiled list is a series of ascending
// runs, one per stretch of a track, so the runs are found and merged pairwise: a few passes where
// a general sort would need many.
void SortRuns(std::vector<SortKey>& keys)
{
    auto less = [](const SortKey& a, const SortKey& b) {
        const int c = CompareKeys(a, b);
        return c != 0 ? c < 0 : a.Index < b.Index;
    };
    std::vector<std::size_t> bounds{0};
    for (std::size_t k = 1; k < keys.size(); ++k)
        if (less(keys[k], keys[k - 1])) bounds.push_back(k);
    bounds.push_back(keys.size());
    std::vector<SortKey> other(keys.size());
    while (bounds.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t r = 0; r + 1 < bounds.size(); r += 2) {
            const std::size_t first = bounds[r], middle = bounds[r + 1];
            const std::size_t last = r + 2 < bounds.size() ? bounds[r + 2] : middle;
            std::merge(keys.begin() + static_cast<std::ptrdiff_t>(first), keys.begin() + static_cast<std::ptrdiff_t>(middle),
                       keys.begin() + static_cast<std::ptrdiff_t>(middle), keys.begin() + static_cast<std::ptrdiff_t>(last),
                       other.begin() + static_cast<std::ptrdiff_t>(first), less);
            merged.push_back(last);
        }
        keys.swap(other);
        bounds = std::move(merged);
    }
}

}  // namespace

void TMidiElements::Sort()
{
    if (items_.size() < 2) return;
    auto originalKeys = [this] {
        std::vector<SortKey> keys(items_.size());
        for (std::size_t k = 0; k < items_.size(); ++k)
            keys[k] = SortKey{items_[k].Tick, items_[k].Serial, static_cast<std::uint32_t>(k)};
        return keys;
    };
    std::vector<SortKey> keys = originalKeys();
    SortRuns(keys);
    const bool equalKeys = std::adjacent_find(keys.begin(), keys.end(), [](const SortKey& a, const SortKey& b) {
                               return CompareKeys(a, b) == 0;
                           }) != keys.end();
    if (equalKeys) {
        keys = originalKeys();
        PartitionExchangeSort(keys);
    }
    const bool inOrder = std::all_of(keys.begin(), keys.end(), [&](const SortKey& key) {
        return key.Index == static_cast<std::uint32_t>(&key - keys.data());
    });
    if (inOrder) return;  // a one-track list usually is

    // Gather the records in their new order. The sorted order mostly merges runs that lie in
    // order in the list (one per track), so the reads stream; the buffer they go to is kept for
    // the next sort, so a compilation does not pay for fresh memory each time.
    spare_.clear();
    spare_.reserve(items_.size());
    for (const SortKey& key : keys) spare_.push_back(std::move(items_[key.Index]));
    items_.swap(spare_);
    spare_.clear();
}

int ShortMessageLength(std::uint8_t status)
{
    if (status < 0x80) return 0;  // a data byte
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 2;
    case 0xF0: break;
    default: return 3;
    }
    switch (status) {
    case 0xF1:  // time code quarter frame
    case 0xF3:  // song select
        return 2;
    case 0xF2:  // song position
        return 3;
    case 0xF0:  // system-exclusive start and end travel as long messages
    case 0xF7:
        return 0;
    default: return 1;  // tune request, real-time messages and the undefined ones
    }
}
