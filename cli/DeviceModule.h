// The commands that open MIDI devices or the built-in synthesizer (devices, play, render) are
// built into a module of their own, loaded on first use: RtMidi and FluidSynth bring dozens of
// shared libraries with them (audio servers, sound files, display protocols), and mapping those
// at every start would make events and export, which need none of them, pay for them each time.
// The module and the program that loads it are built together, so the entry passes C++ objects.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The module's one exported function: runs command ("devices", "play" or "render") with its
// arguments and returns its exit status, as the Run functions of cli/Cli.h do.
extern "C" int QuaverlyRunDeviceCommand(const char* command, const std::vector<std::string>* args, std::istream* in,
                                        std::ostream* out, std::ostream* err);
using TDeviceCommandEntry = decltype(&QuaverlyRunDeviceCommand);
inline constexpr char DeviceCommandEntryName[] = "QuaverlyRunDeviceCommand";
