#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "song/Event.h"

// The system-exclusive messages of every event of the process, numbered from 1. An event holds
// only the number; the message lives here until the event that owns it lets it go, and its number
// is then given to the next message. The numbers index a two-level table whose blocks never move,
// so reading a message takes no lock: a player's thread reads the messages of its own copy of a
// list while the compiler makes messages for the next song.
namespace {

class TSysExStore {
public:
    static TSysExStore& Instance()
    {
        // Never destroyed: events in other static objects may still let their messages go at exit.
        static TSysExStore* store = new TSysExStore;
        return *store;
    }

    std::uint32_t Add(std::vector<std::uint8_t> bytes)
    {
        auto message = std::make_unique<std::vector<std::uint8_t>>(std::move(bytes));
        const std::lock_guard<std::mutex> lock(mutex_);
        std::uint32_t id = 0;
        if (!free_.empty()) {
            id = free_.back();
            free_.pop_back();
        } else {
            if (next_ >= BlockSize * BlockCount) throw std::bad_alloc();
            id = next_++;
            std::atomic<Block*>& block = blocks_[id / BlockSize];
            if (block.load(std::memory_order_relaxed) == nullptr) block.store(new Block{}, std::memory_order_release);
        }
        blocks_[id / BlockSize].load(std::memory_order_relaxed)->Slots[id % BlockSize] = message.release();
        return id;
    }

    void Release(std::uint32_t id) noexcept
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::uint8_t>*& slot = Slot(id);
        delete slot;
        slot = nullptr;
        try {
            free_.push_back(id);
        } catch (const std::bad_alloc&) {
            // The number is lost; the message itself is freed.
        }
    }

    const std::vector<std::uint8_t>& Get(std::uint32_t id) { return *Slot(id); }
    void Replace(std::uint32_t id, std::vector<std::uint8_t> bytes) { *Slot(id) = std::move(bytes); }

private:
    static constexpr std::uint32_t BlockSize = 1u << 16;
    static constexpr std::uint32_t BlockCount = 1u << 12;
    struct Block {
        std::vector<std::uint8_t>* Slots[BlockSize]{};
    };

    std::vector<std::uint8_t>*& Slot(std::uint32_t id)
    {
        return blocks_[id / BlockSize].load(std::memory_order_acquire)->Slots[id % BlockSize];
    }

    std::mutex mutex_;
    std::unique_ptr<std::atomic<Block*>[]> blocks_{new std::atomic<Block*>[BlockCount]{}};
    std::vector<std::uint32_t> free_;
    std::uint32_t next_ = 1;  // 0 is no message
};

}  // namespace

const std::vector<std::uint8_t>& TSysExBytes::Bytes() const
{
    static const std::vector<std::uint8_t> none;
    return id_ == 0 ? none : TSysExStore::Instance().Get(id_);
}

TSysExBytes& TSysExBytes::operator=(std::vector<std::uint8_t>&& bytes)
{
    if (id_ != 0)
        TSysExStore::Instance().Replace(id_, std::move(bytes));
    else if (!bytes.empty())
        id_ = TSysExStore::Instance().Add(std::move(bytes));
    return *this;
}

TSysExBytes& TSysExBytes::operator=(const std::vector<std::uint8_t>& bytes)
{
    return *this = std::vector<std::uint8_t>(bytes);
}

void TMidiElement::ReleaseSysExBytes(std::uint32_t id) noexcept { TSysExStore::Instance().Release(id); }

std::uint32_t TMidiElement::CopySysExBytes(std::uint32_t id)
{
    return TSysExStore::Instance().Add(TSysExStore::Instance().Get(id));
}

// The payload is copied as the four bytes it is, whichever kind's fields it holds.
TMidiElement::TMidiElement(const TMidiElement& other)
    : Tick(other.Tick), Serial(other.Serial), Time(other.Time), Line(other.Line), CallLine(other.CallLine),
      Kind(other.Kind), Track(other.Track)
{
    std::memcpy(static_cast<void*>(&SysExData), static_cast<const void*>(&other.SysExData), sizeof SysExData);
    if (OwnsSysEx()) SysExData.id_ = CopySysExBytes(other.SysExData.id_);
}

TMidiElement& TMidiElement::operator=(const TMidiElement& other)
{
    if (this != &other) *this = TMidiElement(other);
    return *this;
}


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

void TMidiElements::Reserve(int count)
{
    if (count > Count()) items_.reserve(static_cast<std::size_t>(count));
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

// A record's bytes while it is between two places in the list.
struct Relocated {
    alignas(TMidiElement) unsigned char Bytes[sizeof(TMidiElement)];
};

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
    // A list already in strictly ascending order (one track usually is) has one sorted order,
    // its own: nothing to do, and no memory taken for keys.
    bool ascending = true;
    for (std::size_t k = 1; k < items_.size() && ascending; ++k)
        ascending = CompareElements(items_[k - 1], items_[k]) < 0;
    if (ascending) return;
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

    // Move the records into their new places in the list itself, one cycle of the permutation at
    // a time, so that sorting needs no second copy of the records. A place done is marked by
    // pointing its key at itself. The records change places only, so each is moved as the 32
    // bytes it is: what one owns stays owned by it.
    static_assert(sizeof(TMidiElement) == sizeof(Relocated));
    TMidiElement* const items = items_.data();
    const auto raw = [items](std::size_t k) { return static_cast<void*>(items + k); };
    for (std::size_t start = 0; start < keys.size(); ++start) {
        if (keys[start].Index == start) continue;
        Relocated held;
        std::memcpy(&held, raw(start), sizeof held);
        std::size_t to = start;
        for (;;) {
            const std::size_t from = keys[to].Index;
            keys[to].Index = static_cast<std::uint32_t>(to);
            if (from == start) {
                std::memcpy(raw(to), &held, sizeof held);
                break;
            }
            std::memcpy(raw(to), raw(from), sizeof held);
            to = from;
        }
    }
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
