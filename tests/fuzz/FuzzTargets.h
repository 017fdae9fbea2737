// The fuzz targets: one entry function per input the program reads from outside. Each takes any
// bytes, runs them through the same code the program runs, and checks what must hold for every
// input; a broken rule stops the process with a message (FuzzFailure), as a crash would.
//
// libFuzzer drives each entry from a program of its own (FuzzMain.cpp, clang, QUAVERLY_FUZZ);
// the test suite feeds the same entries every input kept under tests/fuzz/regressions/.
#pragma once

#include <stdexcept>
#include <string_view>

// The compiler over raw Shift-JIS bytes, as one zero-terminated buffer, ports closed.
void FuzzCompile(std::string_view bytes);
// The RTF reader, and the writer reading back what it wrote.
void FuzzRtf(std::string_view bytes);
// Plain-text documents: the UTF-8 / Shift-JIS guess, line splitting and both conversions.
void FuzzDecode(std::string_view bytes);
// The stored port assignment read from an ini file holding bytes.
void FuzzSettings(std::string_view bytes);
// The Standard MIDI File export of whatever the compiler made of bytes.
void FuzzExport(std::string_view bytes);

// Reports a broken rule. A fuzz program aborts, so that libFuzzer keeps the input; after
// ThrowFuzzFindings() it throws FuzzFinding instead, so that the test suite can name the file.
[[noreturn]] void FuzzFailure(const char* what, std::string_view bytes);
struct FuzzFinding : std::runtime_error {
    using std::runtime_error::runtime_error;
};
void ThrowFuzzFindings();

inline void FuzzCheck(bool holds, const char* what, std::string_view bytes)
{
    if (!holds) FuzzFailure(what, bytes);
}
