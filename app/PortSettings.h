// The stored port assignment that carries the port dialog's choice from one run to the next.
// It needs Qt Core only, so it builds without the widgets.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>

#include "song/Song.h"

// The device each port is assigned, item 0 for port 1; -1 for none.
using TPortDevices = std::array<int, TSong::PortCount>;

// What the file holds for one port: the device's number in the list of the run that stored it,
// and its name. Device numbers follow the order in which the machine lists its outputs, which
// changes when another MIDI client starts first, so the name is what finds the device again; the
// number only serves files written before names were kept (an empty name).
struct TPortEntry {
    int Device = -1;
    QString Name;
    bool operator==(const TPortEntry&) const = default;
};
using TPortEntries = std::array<TPortEntry, TSong::PortCount>;

// The stored assignment: QVRLY/QVRLY.ini in the user's configuration directory, group PORT,
// values PORT1 to PORT4, each a device number or -1 for none, and PORT1NAME to PORT4NAME, the
// devices' names (empty for none).
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
    // PORT1 and PORT1NAME for port index 0.
    static QString Key(int port);
    static QString NameKey(int port);

    // Reads the four entries. A missing number, or text that is not a decimal number, reads as -1;
    // a missing name as empty. A value of another kind (a list, or any @ form: serialized data,
    // binary data) reads as -1 or empty and is reported: once every value has been read, an
    // Exception names the first such value. A file larger than any this program writes is
    // reported whole. False when there is no file at all (the program's first start).
    static bool Read(TPortEntries& entries);
    // Writes all four entries, replacing the file. Raises an Exception when it cannot be written.
    static void Write(const TPortEntries& entries);
    // The same two on a file the caller names (the user's file is the one above).
    static bool Read(const QString& path, TPortEntries& entries);
    static void Write(const QString& path, const TPortEntries& entries);
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
    // The same for PORT1NAME..PORT4NAME.
    static std::array<TValue, TSong::PortCount> ParseNames(const QByteArray& ini);
    // A string value as QSettings writes one, so that it reads back as the same text here and there.
    static QByteArray EscapeValue(const QString& text);

    // The device numbers the stored entries stand for among devices (the names of this run's
    // devices, by number). An entry with a name takes the device of that name: the one at its
    // stored number when that still bears the name, else the first free one of the name. An entry
    // without a name keeps its number. missing is set for each port whose named device is not
    // there; that port gets none.
    static TPortDevices FindDevices(const TPortEntries& entries, const QStringList& devices,
                                    std::array<bool, TSong::PortCount>& missing);
};
