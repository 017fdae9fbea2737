// The benchmark piece: about 1 MB of MML over many tracks (notes with lengths, dots, ties,
// accidentals, octave changes, rests), the same every run, so figures compare across benchmarks.
#pragma once

#include <random>
#include <string>

#include "compiler/Compiler.h"

namespace bench {

inline std::string GeneratePiece(std::size_t bytes)
{
    std::mt19937 random(20261210);
    const char* letters = "cdefgab";
    const char* lengths[] = {"4", "8", "8.", "16", "2", "4^16", "*120", "", "8", "4."};
    std::string text;
    int track = 1;
    while (text.size() < bytes) {
        const std::string number = std::to_string(track);
        text += '[';
        text += number;
        text += "] o3 l8 // track ";
        text += number;
        text += "\r\n";
        int octave = 3;
        for (int bar = 0; bar < 64; ++bar) {
            for (int n = 0; n < 8; ++n) {
                const auto r = static_cast<unsigned>(random());
                if (r % 11 == 0) {
                    text += "r";
                } else {
                    text += letters[r % 7];
                    if (r % 13 == 0) text += "+";
                    if (r % 17 == 0) text += "-";
                }
                text += lengths[(r >> 8) % 10];
                if ((r >> 12) % 9 == 0 && octave < 6) {
                    text += " <";
                    ++octave;
                } else if ((r >> 12) % 9 == 1 && octave > 1) {
                    text += " >";
                    --octave;
                }
                text += ' ';
            }
            text += "\r\n";
        }
        track = track % 128 + 1;
    }
    return text;
}

}  // namespace bench
