// WAV files of 16-bit PCM: the RIFF header and a writer that streams the samples to the disk as
// they are made and gives the file its name only when it is complete.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/SaveFile.h"

inline constexpr std::size_t WavHeaderSize = 44;
// The RIFF sizes are 32-bit: the chunk that holds the samples can be no larger than this, and a
// file that needs more cannot be written as WAV at all.
inline constexpr std::uint64_t WavMaxDataBytes = 0xFFFFFFFFull - (WavHeaderSize - 8);

// The canonical 44-byte header: "RIFF" size "WAVE", a "fmt " chunk for PCM with 16-bit samples,
// and the "data" chunk header for dataBytes bytes of samples. All numbers little-endian.
std::array<std::uint8_t, WavHeaderSize> WavHeader(int channels, int sampleRate, std::uint32_t dataBytes);

// Writes path through a TAtomicFileWriter: a header with the sizes left at zero first, then the
// interleaved samples; Commit writes the real sizes into the header and renames the file into
// place. Without a Commit nothing is left at path. A target that cannot seek (a pipe, a FIFO) gets
// the largest sizes in its header instead. Failures raise Exception.
class TWavWriter {
public:
    TWavWriter(const std::string& path, int channels, int sampleRate);

    // count samples, the channels interleaved (count is a multiple of the channel count).
    // Raises before the data would outgrow what the header can describe.
    void Write(const std::int16_t* samples, std::size_t count);
    void Commit();

    std::uint64_t DataBytes() const { return dataBytes_; }
    std::uint64_t Frames() const { return dataBytes_ / (2 * static_cast<std::uint64_t>(channels_)); }
    const std::string& Path() const { return file_.Path(); }

private:
    TAtomicFileWriter file_;
    const int channels_;
    const int sampleRate_;
    std::uint64_t dataBytes_ = 0;
};
