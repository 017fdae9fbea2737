// The program's start and end: the single-instance lock, the two windows in their order, the
// event loop, and the shutdown that silences every open port before closing it.
#pragma once

#include <QString>
#include <string>

class TMidiOutService;

// Runs the program inside an existing application object and returns its exit code (always 0).
// lockPath is the single-instance lock; service is the MIDI output service the players and the
// port dialog use (nullptr: the machine's device catalog, made here). A document file, when
// given, opens once the window is shown.
int RunQuaverly(const std::string& lockPath, TMidiOutService* service = nullptr, const QString& document = {});
