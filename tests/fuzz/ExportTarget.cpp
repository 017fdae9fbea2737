// The MIDI file export of whatever the compiler makes of any bytes: the file is well formed, and
// each port's messages are in it, all of them and no others, on that port's tracks.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "song/Exception.h"
#include "tests/fuzz/FuzzTargets.h"
#include "compiler/Compiler.h"
#include "formats/Smf.h"

namespace {

using TMessage = std::vector<std::uint8_t>;
using TPortMessages = std::array<std::vector<TMessage>, TSong::PortCount>;

// What a player sends for each item of the lists: the bytes of a short message (two for program
// change and channel pressure) and the whole system-exclusive message.
TPortMessages SentMessages(const TSong& song)
{
    TPortMessages sent;
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TMidiElements& list = song.Ports[static_cast<std::size_t>(port)];
        for (int i = 0; i < list.Count(); ++i) {
            const TMidiElement& e = list.Items(i);
            if (e.Kind == ekShortMessage) {
                const int kind = e.Status & 0xF0;
                TMessage message{e.Status, e.Data1};
                if (kind != 0xC0 && kind != 0xD0) message.push_back(e.Data2);
                sent[static_cast<std::size_t>(port)].push_back(message);
            } else if (e.Kind == ekSysEx) {
                sent[static_cast<std::size_t>(port)].push_back(e.SysExData);
            }
        }
    }
    return sent;
}

// Reads a Standard MIDI File as far as the checks need; every structural fault is a finding.
class SmfReader {
public:
    SmfReader(const std::vector<std::uint8_t>& file, std::string_view input) : file_(file), input_(input) {}

    TPortMessages Messages()
    {
        Expect(Take(4) == TMessage{'M', 'T', 'h', 'd'} && BigEndian(4) == 6, "the file does not start with its header");
        Expect(BigEndian(2) == 1, "the file is not of format 1");
        const std::uint32_t tracks = BigEndian(2);
        Expect(BigEndian(2) == 480, "the file's division is not 480");
        TPortMessages messages;
        for (std::uint32_t t = 0; t < tracks; ++t) Track(t, messages);
        Expect(pos_ == file_.size(), "the file has bytes after its last track");
        return messages;
    }

private:
    void Track(std::uint32_t index, TPortMessages& messages)
    {
        Expect(Take(4) == TMessage{'M', 'T', 'r', 'k'}, "a track chunk is missing");
        const std::uint32_t length = BigEndian(4);
        const std::size_t end = pos_ + length;
        Expect(end <= file_.size(), "a track runs past the end of the file");
        int port = -1;
        std::uint8_t running = 0;
        bool ended = false;
        while (pos_ < end) {
            Expect(!ended, "a track goes on after its end");
            VarLen();
            std::uint8_t status = Byte();
            if (status < 0x80) {
                Expect(running != 0, "a data byte without a status");
                status = running;
                --pos_;
            }
            if (status == 0xFF) {
                const std::uint8_t type = Byte();
                const TMessage data = Take(VarLen());
                if (type == 0x2F) ended = true;
                if (type == 0x21) {
                    Expect(data.size() == 1 && data[0] < TSong::PortCount && port < 0, "a track's port is not one port");
                    port = data[0];
                }
            } else if (status == 0xF0) {
                TMessage message{0xF0};
                const TMessage data = Take(VarLen());
                message.insert(message.end(), data.begin(), data.end());
                Add(messages, port, index, message);
            } else {
                Expect(status < 0xF0, "the compiler's lists hold no escaped message");
                running = status;
                TMessage message{status, Data()};
                if ((status & 0xF0) != 0xC0 && (status & 0xF0) != 0xD0) message.push_back(Data());
                Add(messages, port, index, message);
            }
        }
        Expect(ended && pos_ == end, "a track does not close with its end event");
    }

    void Add(TPortMessages& messages, int port, std::uint32_t track, const TMessage& message)
    {
        // The first track holds the tempo map only; every other names its port first.
        Expect(track > 0 && port >= 0, "a message on a track without a port");
        messages[static_cast<std::size_t>(port)].push_back(message);
    }

    std::uint8_t Byte()
    {
        Expect(pos_ < file_.size(), "the file ends inside an event");
        return file_[pos_++];
    }
    std::uint8_t Data()
    {
        const std::uint8_t b = Byte();
        Expect(b < 0x80, "a data byte above 127");
        return b;
    }
    TMessage Take(std::size_t count)
    {
        Expect(count <= file_.size() - pos_, "the file ends inside a chunk");
        TMessage bytes(file_.begin() + static_cast<std::ptrdiff_t>(pos_), file_.begin() + static_cast<std::ptrdiff_t>(pos_ + count));
        pos_ += count;
        return bytes;
    }
    std::uint32_t BigEndian(int count)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 8 | Byte();
        return value;
    }
    std::uint32_t VarLen()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = Byte();
            value = value << 7 | (b & 0x7Fu);
            if (b < 0x80) return value;
        }
        FuzzFailure("a variable-length number of more than four bytes", input_);
    }
    void Expect(bool holds, const char* what) { FuzzCheck(holds, what, input_); }

    const std::vector<std::uint8_t>& file_;
    std::string_view input_;
    std::size_t pos_ = 0;
};

}  // namespace

void FuzzExport(std::string_view bytes)
{
    // Each player starts with the tempo it holds after the compilation: the song's.
    const TSong song = TMML().CompileText(std::string(bytes));
    TSmfExport exported;
    try {
        exported = ExportSmf(song);
    } catch (const Exception& e) {
        // Only a piece longer than the format holds is refused.
        FuzzCheck(e.Message() == "曲が長すぎて MIDI ファイルに書き出せません", "the export refused with another text", bytes);
        return;
    }
    FuzzCheck(exported.FixedTempo == !exported.Note.empty(), "a fixed tempo without its note, or a note without it", bytes);

    TPortMessages written = SmfReader(exported.Bytes, bytes).Messages();
    TPortMessages sent = SentMessages(song);
    for (int port = 0; port < TSong::PortCount; ++port) {
        auto& a = written[static_cast<std::size_t>(port)];
        auto& b = sent[static_cast<std::size_t>(port)];
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        FuzzCheck(a == b, "a port's messages in the file differ from what its player sends", bytes);
    }
}
