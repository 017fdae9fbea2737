#include <string>

#include "compiler/MMLtoMID.h"

void TTracks::ResetTracks()
{
    for (int n = 1; n <= TrackCount; ++n) {
        TTrack& track = items_[static_cast<std::size_t>(n - 1)];
        track = TTrack{};
        // Tracks 65..128 share the channels of tracks 1..64 until a #ASSIGN moves them.
        track.Channel = (n - 1) % 64 + 1;
    }
}

void TTracks::IndexError(int index)
{
    RaiseIndexError(index);
}

const TMMLParam& TMMLParams::Items(int index) const
{
    if (index < 0 || index >= Count())
        RaiseIndexError(index);
    return index < InlineCount ? inline_[static_cast<std::size_t>(index)]
                               : more_[static_cast<std::size_t>(index - InlineCount)];
}
