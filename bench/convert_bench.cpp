// How long the worst documents take to convert, and the memory they take: 64 MiB (the document
// bound) of bytes Shift-JIS cannot decode, of characters it cannot hold, of RTF escapes of such
// bytes, and of nothing but line ends read from a file. Each must convert in under 2 s; the peak
// resident memory after each step shows that a document is held once or twice, not per line.
// Prints one line per case and exits 1 when one is over the bound.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "formats/Document.h"
#include "formats/Encoding.h"
#include "formats/Rtf.h"

namespace {

constexpr double BoundSeconds = 2.0;

long PeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;  // kilobytes on Linux
}

std::string Repeat(const std::string& unit, std::size_t bytes)
{
    std::string s;
    s.reserve(bytes);
    while (s.size() + unit.size() <= bytes) s += unit;
    return s;
}

// Runs work once, prints its time, what it made and the peak memory so far; false when over the bound.
bool Measure(const char* name, const std::function<std::size_t()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    const std::size_t made = work();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-44s %7.3f s  %10zu bytes out  peak %5ld MiB%s\n", name, seconds, made, PeakMiB(),
                seconds < BoundSeconds ? "" : "  OVER THE BOUND");
    return seconds < BoundSeconds;
}

}  // namespace

int main()
{
    const std::size_t size = MaxDocumentBytes;
    bool ok = true;
    {
        const std::string invalid(size, '\xFF');
        ok &= Measure("Shift-JIS -> UTF-8, 64 MiB of 0xFF", [&] { return Cp932ToUtf8(invalid).size(); });
        ok &= Measure("UTF-8 -> Shift-JIS, 64 MiB of 0xFF", [&] { return Utf8ToCp932(invalid).size(); });
        ok &= Measure("DecodeDocument, 64 MiB of 0xFF", [&] { return DecodeDocument(invalid).size(); });
    }
    {
        const std::string emoji = Repeat("🎵", size);
        ok &= Measure("UTF-8 -> Shift-JIS, 64 MiB of emoji", [&] { return Utf8ToCp932(emoji).size(); });
        const std::string comment = "// " + Repeat("🎵", size - 4) + "\n";
        ok &= Measure("UTF-8 -> Shift-JIS, an emoji comment of 64 MiB", [&] { return Utf8ToCp932(comment).size(); });
    }
    {
        const std::string rtf = "{\\rtf1\\ansi\\ansicpg932 " + Repeat("\\'ff", size) + "}";
        ok &= Measure("ReadRtf, 64 MiB of \\'ff escapes", [&] { return ReadRtf(rtf).size(); });
    }
    {
        const std::string path = "/tmp/quaverly-convert-bench-" + std::to_string(getpid()) + ".txt";
        std::ofstream(path, std::ios::binary) << std::string(size, '\n');
        ok &= Measure("ReadDocumentText, 64 MiB of line ends", [&] { return ReadDocumentText(path).size(); });
        std::ofstream(path, std::ios::binary) << Repeat("\r\n", size);
        ok &= Measure("ReadDocumentText, 64 MiB of CR LF", [&] { return ReadDocumentText(path).size(); });
        std::remove(path.c_str());
    }
    return ok ? 0 : 1;
}
