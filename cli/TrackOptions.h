// The --mute and --solo options that play, export and render share: which MML tracks are not to
// be heard. The lists are read with the options; that every track named made events can only be
// checked once the piece is compiled.
#pragma once

#include <string>
#include <vector>

#include "cli/Options.h"
#include "song/Song.h"
#include "song/Tracks.h"

struct TTrackOptions {
    TTrackSet Muted;
    TTrackSet Soloed;

    // "--mute LIST" and "--solo LIST" ("1,3-5"); each may be given more than once, and the lists add up.
    std::vector<TCliOption> Options();
    // "" when every track named made events in song; otherwise the usage error that names the
    // tracks that did not.
    std::string Check(const TSong& song) const;
    // The tracks whose notes are left out.
    TTrackSet Silenced() const { return SilencedTracks(Muted, Soloed); }
};

// The lines of a command's usage that explain --mute and --solo, their explanations starting at
// column (counted in terminal columns, as the command's other options line up).
std::string TrackOptionsUsage(int column);
