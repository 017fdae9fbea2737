#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "TMIDI.h"

int CompareElements(const TMidiElement& a, const TMidiElement& b)
{
    // Three-way results rather than differences: ticks and serials are 32-bit and their
    // difference could overflow.
    if (a.Tick != b.Tick) return a.Tick < b.Tick ? -1 : 1;
    if (a.Serial != b.Serial) return a.Serial < b.Serial ? -1 : 1;
    return 0;
}

int TMidiElements::Add(std::unique_ptr<TMidiElement> element)
{
    items_.push_back(std::move(element));
    return Count() - 1;
}

TMidiElement& TMidiElements::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw Exception("リストのインデックスが範囲を超えています (" + std::to_string(index) + ")");
    return *items_[static_cast<std::size_t>(index)];
}

void TMidiElements::Clear()
{
    // Destroyed in index order; each record frees its own system-exclusive bytes.
    for (auto& item : items_) item.reset();
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
// Each partition touches only its own range, so ranges may be done in any order without changing
// the result: they are kept on an explicit stack, which keeps a hostile input from exhausting the
// call stack. The same hostile input could still make the partitions lopsided and the sort
// quadratic; a range that has been split far more often than a balanced sort needs is finished by
// std::sort instead, which agrees with the steps above on every pair of items with different keys.
void TMidiElements::Sort()
{
    if (items_.size() < 2) return;
    struct Range {
        std::ptrdiff_t L, R;
        int Depth;
    };
    const int depthLimit = 2 * static_cast<int>(std::log2(static_cast<double>(items_.size()))) + 32;
    auto less = [](const std::unique_ptr<TMidiElement>& a, const std::unique_ptr<TMidiElement>& b) {
        return CompareElements(*a, *b) < 0;
    };
    std::vector<Range> pending{{0, static_cast<std::ptrdiff_t>(items_.size()) - 1, 0}};
    while (!pending.empty()) {
        Range range = pending.back();
        pending.pop_back();
        std::ptrdiff_t L = range.L;
        const std::ptrdiff_t R = range.R;
        if (range.Depth > depthLimit) {
            std::sort(items_.begin() + L, items_.begin() + R + 1, less);
            continue;
        }
        std::ptrdiff_t i = L, j = R;
        const TMidiElement* pivot = items_[static_cast<std::size_t>((L + R) / 2)].get();
        do {
            while (CompareElements(*items_[static_cast<std::size_t>(i)], *pivot) < 0) ++i;
            while (CompareElements(*items_[static_cast<std::size_t>(j)], *pivot) > 0) --j;
            if (i <= j) {
                std::swap(items_[static_cast<std::size_t>(i)], items_[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (i < R) pending.push_back({i, R, range.Depth + 1});
        if (L < j) pending.push_back({L, j, range.Depth + 1});
    }
}
