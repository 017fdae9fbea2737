// Standard MIDI File export: the four port lists of a compiled piece as a format 1 file that a
// standard player plays as Quaverly's own players do, message for message and within 1 ms.
//
// Layout: 480 ticks per quarter note; a first track with the tempo map; then one track per MML
// track and port that made events ("Track n", or "Track n (port p)" when the MML track sends on
// more than one port, like a reset sent to another port), ordered by track number then port.
// Each of those begins with its name and a MIDI Port meta event (FF 21) naming the port, 0 to 3.
//
// Time: every event goes out at the millisecond its player sends it (SendTimes). When all ports
// that have events follow the same tempo changes, the file holds those changes as its tempo map
// at their own ticks, so a sequencer shows the piece's bars, and each event sits on the tick
// whose time under that map is nearest to its send time. When the ports follow different tempos,
// or the map cannot hold some event within 1 ms (slow tempos with odd tuplets), the file uses one
// fixed tempo of 125 beats per minute, where a tick is exactly a millisecond.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "song/Song.h"

struct TSmfExport {
    std::vector<std::uint8_t> Bytes;  // the whole file
    bool FixedTempo = false;          // the times were converted to one fixed tempo
    std::string Note;                 // why, for the user (Japanese); empty with a tempo map
};

// The beats per minute of the fixed tempo: a quarter of 480 ticks lasts 480 ms.
constexpr int SmfFixedTempo = 125;
// The largest tick the file holds (a delta time is at most four bytes of seven bits); at the
// fixed tempo this is 74 hours.
constexpr std::int64_t SmfMaxTick = 0x0FFFFFFF;

// One track's event bytes while they are written.
struct TSmfTrackWriter {
    std::vector<std::uint8_t> Data;
    std::int64_t LastTick = 0;

    void Delta(std::int64_t tick);
    void Meta(std::int64_t tick, std::uint8_t type, const std::vector<std::uint8_t>& bytes);
    void Event(std::int64_t tick, const TMidiElement& e);
    void End(std::int64_t tick);
};

// A MIDI file made from a song and held as its chunks, so that it can go to a file without
// first being copied into one buffer.
class TSmfFile {
public:
    bool FixedTempo = false;  // the times were converted to one fixed tempo
    std::string Note;         // why, for the user (Japanese); empty with a tempo map

    // The file's bytes, in order, a few pieces at a time.
    void WriteTo(const std::function<void(const std::uint8_t* data, std::size_t size)>& sink) const;
    std::size_t Size() const;

private:
    friend struct TSmfMaker;
    std::vector<std::uint8_t> header_;
    TSmfTrackWriter conductor_;
    std::map<std::pair<std::int32_t, int>, TSmfTrackWriter> tracks_;
};

// The file ExportSmf makes, as chunks; raises what ExportSmf raises. Once made, writing it cannot
// fail on the piece.
TSmfFile MakeSmf(const TSong& song);
// The same from a song that is no longer needed: its events are let go as they are written, so
// the file and the whole song are never held together. The song is left empty.
TSmfFile MakeSmf(TSong&& song);

// Each port's sorted list of the song, from the tempo its player takes. Wait events send nothing
// while playing and are not written; tempo events become the tempo map. Raises Exception with a
// Japanese message when the piece is longer than the file format can hold.
TSmfExport ExportSmf(const TSong& song);

// The variable-length quantity of the file format: seven bits a byte, most significant first,
// the high bit set on every byte but the last. value is at most SmfMaxTick.
void AppendVarLen(std::vector<std::uint8_t>& out, std::uint32_t value);
