#include "formats/Wav.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "song/Exception.h"

namespace {
void Put32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}
}  // namespace

std::array<std::uint8_t, WavHeaderSize> WavHeader(int channels, int sampleRate, std::uint32_t dataBytes)
{
    const auto channelCount = static_cast<std::uint32_t>(channels);
    const auto rate = static_cast<std::uint32_t>(sampleRate);
    const std::uint32_t blockAlign = channelCount * 2;
    std::array<std::uint8_t, WavHeaderSize> header{'R', 'I', 'F', 'F', 0,   0,   0,   0,   'W', 'A', 'V',
                                                   'E', 'f', 'm', 't', ' ', 16,  0,   0,   0,   1,   0};
    // A data size past the 32-bit limit is the writer's to refuse; here it only must not wrap.
    Put32(&header[4], static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes + 36ull, 0xFFFFFFFFull)));
    Put16(&header[22], channelCount);
    Put32(&header[24], rate);
    Put32(&header[28], rate * blockAlign);
    Put16(&header[32], blockAlign);
    Put16(&header[34], 16);
    header[36] = 'd';
    header[37] = 'a';
    header[38] = 't';
    header[39] = 'a';
    Put32(&header[40], dataBytes);
    return header;
}

TWavWriter::TWavWriter(const std::string& path, int channels, int sampleRate)
    : file_(path), channels_(channels), sampleRate_(sampleRate)
{
    // A pipe or a FIFO cannot be reached back into: its header says the largest size, as
    // streaming writers do, and readers take the samples up to the end of the stream.
    const auto header = WavHeader(channels_, sampleRate_, file_.Seekable() ? 0 : static_cast<std::uint32_t>(WavMaxDataBytes));
    file_.Write(header.data(), header.size());
}

void TWavWriter::Write(const std::int16_t* samples, std::size_t count)
{
    const std::uint64_t bytes = 2ull * count;
    if (bytes > WavMaxDataBytes - dataBytes_)
        throw Exception("WAV ファイルの大きさの上限 (4 GB) を超えます: " + file_.Path());
    if constexpr (std::endian::native == std::endian::little) {
        file_.Write(samples, bytes);
    } else {
        std::vector<std::uint8_t> swapped(bytes);
        for (std::size_t i = 0; i < count; ++i) Put16(&swapped[2 * i], static_cast<std::uint16_t>(samples[i]));
        file_.Write(swapped.data(), swapped.size());
    }
    dataBytes_ += bytes;
}

void TWavWriter::Commit()
{
    if (file_.Seekable()) {
        const auto header = WavHeader(channels_, sampleRate_, static_cast<std::uint32_t>(dataBytes_));
        file_.WriteAt(0, header.data(), header.size());
    }
    file_.Commit();
}
