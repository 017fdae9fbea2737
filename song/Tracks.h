// The MML tracks of a compiled song as a musician works with them: which tracks exist and what
// each plays, which are muted or soloed, the span of ticks some lines of the text made, the song's
// own clock in seconds, and which tracks sound at the players' present place.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "song/Song.h"

// A set of MML track numbers, 1..MaxTrack.
class TTrackSet {
public:
    // The compiler has 128 tracks, numbered from 1.
    static constexpr int MaxTrack = 128;

    // Numbers outside 1..MaxTrack are never members: Add ignores them, Contains answers false.
    bool Contains(int track) const { return InRange(track) && bits_.test(static_cast<std::size_t>(track)); }
    void Add(int track)
    {
        if (InRange(track)) bits_.set(static_cast<std::size_t>(track));
    }
    void Remove(int track)
    {
        if (InRange(track)) bits_.reset(static_cast<std::size_t>(track));
    }
    bool Empty() const { return bits_.none(); }
    // The members in ascending order.
    std::vector<int> Numbers() const;
    // Every track that is not a member.
    TTrackSet Complement() const;
    TTrackSet& operator|=(const TTrackSet& other)
    {
        bits_ |= other.bits_;
        return *this;
    }
    friend bool operator==(const TTrackSet& a, const TTrackSet& b) { return a.bits_ == b.bits_; }

private:
    static bool InRange(int track) { return track >= 1 && track <= MaxTrack; }
    std::bitset<MaxTrack + 1> bits_;  // bit 0 unused
};

// Reads a list of track numbers and ranges, "1,3-5" (blanks around the items allowed). On a
// malformed item, a number outside 1..MaxTrack or a range that runs backwards, answers nothing and
// puts a Japanese message naming the item into error.
std::optional<TTrackSet> ParseTrackList(std::string_view text, std::string& error);

// The tracks that are not to be heard: the muted ones and, when any track is soloed, every track
// without solo. A track both muted and soloed stays muted.
TTrackSet SilencedTracks(const TTrackSet& muted, const TTrackSet& soloed);

// What one MML track made, for the track panel and the command line's checks.
struct TTrackSummary {
    int Track = 0;     // 1..128
    int Port = 0;      // 0..3, of the track's first event
    int Channel = 0;   // 0..15, of the track's first channel message; -1 when it sent none
    int Program = -1;  // the first program change's number 0..127; -1 when none
    int Notes = 0;     // note-ons with a velocity above 0
};

// Every track that made an event, in ascending track order.
std::vector<TTrackSummary> TrackSummaries(const TSong& song);
// The tracks that made events.
TTrackSet TracksOf(const TSong& song);

// Takes the notes of the silenced tracks out of the song (their note-ons and note-offs); every
// other event stays, so programs, volumes and controllers are as in the whole piece. What the
// command line's --mute and --solo do to an exported or rendered piece, and how a stem is made.
void SilenceTracks(TSong& song, const TTrackSet& silenced);

// A span of ticks, From at or before To.
struct TTickRange {
    std::int32_t From = 0;
    std::int32_t To = 0;
    friend bool operator==(const TTickRange& a, const TTickRange& b) { return a.From == b.From && a.To == b.To; }
};

// The ticks that lines firstLine..lastLine of the text made (1-based, an event of a macro body
// counting at the line where the macro is used): from the earliest tick among their events to
// the latest. Nothing when those lines made no event.
std::optional<TTickRange> LinesRange(const TPortLists& lists, int firstLine, int lastLine);

// Measure and beat of a tick, both counted from 1: 1920 ticks to a measure, 480 to a beat.
struct TMeasureBeat {
    std::int32_t Measure = 1;
    std::int32_t Beat = 1;
};
TMeasureBeat MeasureBeatAt(std::int32_t tick);

// The song's own clock: milliseconds from the start at speed 1.0 for any tick, following the
// tempo events of one port's list as its player does (see SendTimes). The window measures song
// time on the longest port, as the position bar does.
class TSongClock {
public:
    TSongClock() = default;
    TSongClock(const TMidiElements& list, int startTempo);
    // A tick between events counts at the tempo in force there; past the last event at the
    // last tempo. Negative ticks count as 0.
    double MsAt(double tick) const;
    // The milliseconds at the list's last event: the song's length.
    double LengthMs() const;

private:
    struct TSegment {
        double Tick;   // where the segment starts
        double Ms;     // milliseconds at its start
        double MsPerTick;
    };
    std::vector<TSegment> segments_;  // ascending; empty for an empty list
    double lengthMs_ = 0.0;
};

// Which tracks sound at the players' present place, and the line of each one's last note-on:
// what "show the playing line" marks, for every part at once. Fed with what each port's player
// has sent so far; it reads only the events sent since the previous call.
class TSoundingTracks {
public:
    // sent: how many events of each port's list the players have sent. Events before the
    // previous call's counts are not read again; a count that went back (a seek, a new song)
    // starts over from Restart.
    void Follow(const TPortLists& lists, const std::array<int, TSong::PortCount>& sent);
    // After a seek: nothing sounds (a seek does not replay notes); reading goes on from sent.
    void Restart(const std::array<int, TSong::PortCount>& sent);
    // The lines (Line of the event: in a macro body, the body's line) of the last note-on of every
    // track that has a note sounding, ascending and without repeats. A silenced track's note-ons
    // are passed by the players without being sent, so its lines are left out.
    std::vector<int> Lines(const TTrackSet& silenced = {}) const;

private:
    std::array<int, TSong::PortCount> scanned_{};
    // Per track: notes sounding (a note-off is its own track's), and the line of its last note-on.
    std::array<int, TTrackSet::MaxTrack + 1> sounding_{};
    std::array<int, TTrackSet::MaxTrack + 1> lastLine_{};
};
