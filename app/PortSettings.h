// The stored port assignment that carries the port dialog's choice from one run to the next.
// It needs Qt Core only, so it builds without the widgets.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>

#include "song/Song.h"

// The device each port is assigned, item 0 for port 1; -1 for none.
using TPortDevices = std::array<int, TSong::PortCount>;

// The stored assignment: QVRLY/QVRLY.ini in the user's configuration directory, group PORT,
// values PORT1 to PORT4, each a device number or -1 for none.
//
// The file is in QSettings' INI format, which earlier versions wrote, but it is read and written
// here and never handed to QSettings: QSettings decodes values of the form @Variant(...) and
// @DateTime(...) as serialized Qt data, and a damaged or hostile file can make that decoding ask
// for gigabytes or recurse until the stack overflows, at every start of the program.
class TPortSettings {
public:
    static inline const QString Organization = QStringLiteral("QVRLY");
    static inline const QString Application = QStringLiteral("QVRLY");
    static inline const QString Group = QStringLiteral("PORT");
    // PORT1 for port index 0.
    static QString Key(int port);

    // Reads the four values into devices. A missing value, or text that is not a decimal number,
    // reads as -1. A value of another kind (a list, or any @ form: serialized data, binary data)
    // also reads as -1 and is reported: once every value has been read, an Exception names the
    // first such value. A file larger than any this program writes is reported whole.
    static void Read(TPortDevices& devices);
    // Writes all four values, replacing the file. Raises an Exception when it cannot be written.
    static void Write(const TPortDevices& devices);
    // The same two on a file the caller names (the user's file is the one above).
    static void Read(const QString& path, TPortDevices& devices);
    static void Write(const QString& path, const TPortDevices& devices);
    // The full path of the settings file.
    static QString FileName();

    // What the file holds for one key.
    struct TValue {
        enum TKind { Missing, Plain, Unreadable } Kind = Missing;
        QString Text;  // Kind == Plain: the value with QSettings' quoting and escapes undone
    };
    // The values of PORT1..PORT4 in the bytes of an INI file, read the way QSettings reads its
    // plain strings (sections, comments, quotes, escapes, continued lines; a later value wins).
    static std::array<TValue, TSong::PortCount> ParseValues(const QByteArray& ini);
};
