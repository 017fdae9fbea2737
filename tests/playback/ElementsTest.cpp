#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "song/Event.h"

namespace {

// Adds items named by their Track field (so the test can see which record went where).
void Fill(TMidiElements& list, const std::vector<std::pair<int, int>>& tickSerial)
{
    int name = 0;
    for (const auto& [tick, serial] : tickSerial) {
        auto e = std::make_unique<TMidiElement>();
        e->Tick = tick;
        e->Serial = serial;
        e->Track = name++;
        list.Add(std::move(e));
    }
}

std::vector<int> Names(const TMidiElements& list)
{
    std::vector<int> names;
    for (int i = 0; i < list.Count(); ++i) names.push_back(list.Items(i).Track);
    return names;
}

TEST(Elements, CompareOrdersByTickThenSerial)
{
    TMidiElement a, b;
    a.Tick = 10;
    b.Tick = 20;
    a.Serial = 9;
    b.Serial = 1;
    EXPECT_LT(CompareElements(a, b), 0);
    EXPECT_GT(CompareElements(b, a), 0);
    b.Tick = 10;
    EXPECT_GT(CompareElements(a, b), 0);
    b.Serial = 9;
    EXPECT_EQ(CompareElements(a, b), 0);
    // Extreme values must not overflow into the wrong sign.
    a.Tick = 0;
    b.Tick = 2147483647;
    EXPECT_LT(CompareElements(a, b), 0);
    a.Tick = -2147483647 - 1;
    EXPECT_LT(CompareElements(a, b), 0);
}

TEST(Elements, SortGivesTheQuicksortOrderOfEqualKeys)
{
    struct Case {
        std::vector<std::pair<int, int>> items;
        std::vector<int> expected;  // names (insertion indexes) after Sort
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{{5, 1}}, {0}},
        {{{0, 0}, {0, 0}}, {1, 0}},                  // A, B -> B, A
        {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {2, 3, 0, 1}},  // A, B, C, D -> C, D, A, B
        {{{0, 0}, {0, 0}, {0, 0}}, {2, 1, 0}},
        {{{7, 2}, {7, 1}, {3, 5}}, {2, 1, 0}},       // tick first, then serial
        {{{0, 0}, {480, 1}, {960, 2}, {0, 3}}, {0, 3, 1, 2}},  // a late event with a small tick
    };
    for (const auto& c : cases) {
        TMidiElements list;
        Fill(list, c.items);
        list.Sort();
        EXPECT_EQ(Names(list), c.expected);
    }
}

TEST(Elements, SortHandlesLargeAndHostileLists)
{
    // Many equal keys, descending keys and a sawtooth: all must come out in order.
    for (int shape = 0; shape < 3; ++shape) {
        TMidiElements list;
        std::vector<std::pair<int, int>> items;
        for (int i = 0; i < 200000; ++i) {
            const int tick = shape == 0 ? 0 : shape == 1 ? 200000 - i : i % 1000;
            items.emplace_back(tick, shape == 0 ? 0 : i);
        }
        Fill(list, items);
        list.Sort();
        for (int i = 1; i < list.Count(); ++i)
            ASSERT_LE(CompareElements(list.Items(i - 1), list.Items(i)), 0) << "shape " << shape << " at " << i;
    }
}

// The partition-exchange steps written out plainly, recursion and all, on (tick, serial, name)
// triples: what Sort must match whatever shortcuts it takes.
void ReferenceSort(std::vector<std::array<int, 3>>& items, int L, int R)
{
    auto compare = [](const std::array<int, 3>& a, const std::array<int, 3>& b) {
        return a[0] != b[0] ? a[0] - b[0] : a[1] - b[1];
    };
    do {
        int i = L, j = R;
        const auto pivot = items[static_cast<std::size_t>((L + R) / 2)];
        do {
            while (compare(items[static_cast<std::size_t>(i)], pivot) < 0) ++i;
            while (compare(items[static_cast<std::size_t>(j)], pivot) > 0) --j;
            if (i <= j) std::swap(items[static_cast<std::size_t>(i++)], items[static_cast<std::size_t>(j--)]);
        } while (i <= j);
        if (L < j) ReferenceSort(items, L, j);
        L = i;
    } while (L < R);
}

TEST(Elements, SortMatchesThePlainStepsOnCompiledShapes)
{
    // Runs of ascending ticks (tracks written one after another), with and without keys shared
    // between runs (parallel branches), and a list already in order.
    std::uint32_t seed = 12345;
    auto random = [&] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    for (int shape = 0; shape < 4; ++shape) {
        std::vector<std::array<int, 3>> reference;
        int serial = 0;
        const int runs = shape == 3 ? 1 : 12;
        for (int run = 0; run < runs; ++run) {
            int tick = 0;
            const int branchSerial = serial;
            for (int k = 0; k < 500; ++k) {
                tick += static_cast<int>(random() % 3) * 120;
                const int key = shape == 1 || shape == 2 ? branchSerial + k : serial++;
                reference.push_back({tick, shape == 2 && run % 2 ? key - 1 : key, static_cast<int>(reference.size())});
            }
            if (shape == 1 || shape == 2) serial = branchSerial + (run % 3 == 2 ? 500 : 0);
        }
        TMidiElements list;
        for (const auto& [tick, key, name] : reference) {
            TMidiElement e;
            e.Tick = tick;
            e.Serial = key;
            e.Track = name;
            list.Add(std::move(e));
        }
        ReferenceSort(reference, 0, static_cast<int>(reference.size()) - 1);
        list.Sort();
        std::vector<int> expected;
        for (const auto& item : reference) expected.push_back(item[2]);
        EXPECT_EQ(Names(list), expected) << "shape " << shape;
    }
}

TEST(Elements, ItemsOutsideTheListIsAnError)
{
    TMidiElements list;
    EXPECT_THROW(list.Items(0), Exception);
    Fill(list, {{0, 0}});
    EXPECT_NO_THROW(list.Items(0));
    try {
        list.Items(1);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "リストのインデックスが範囲を超えています (1)");
    }
    EXPECT_THROW(list.Items(-1), Exception);
}

TEST(Elements, ClearFreesEverythingAndTheListCanBeReused)
{
    TMidiElements list;
    for (int i = 0; i < 3; ++i) {
        auto e = std::make_unique<TMidiElement>();
        e->Kind = ekSysEx;
        e->SysExData = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
        list.Add(std::move(e));
    }
    EXPECT_EQ(list.Last().SysExLength(), 6);
    list.Clear();  // the sanitizer run would report a double free or a leak
    EXPECT_EQ(list.Count(), 0);
    Fill(list, {{1, 1}});
    EXPECT_EQ(list.Add(std::make_unique<TMidiElement>()), 1);
}

}  // namespace
