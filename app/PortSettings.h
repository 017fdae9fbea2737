// The stored port assignment that carries the port dialog's choice from one run to the next.
// It needs Qt Core only (QSettings), so it builds without the widgets.
#pragma once

#include <QString>
#include <array>

class QSettings;

inline constexpr int PortCount = 4;
using TPortDevices = std::array<int, PortCount>;

// The stored assignment: QVRLY/QVRLY.ini in the user's configuration directory, group PORT,
// values PORT1 to PORT4, each a device number or -1 for none.
class TPortSettings {
public:
    static inline const QString Organization = QStringLiteral("QVRLY");
    static inline const QString Application = QStringLiteral("QVRLY");
    static inline const QString Group = QStringLiteral("PORT");
    // PORT1 for port index 0.
    static QString Key(int port);

    // Reads the four values into devices. A missing value, or text that is not a decimal number,
    // reads as -1. A value of another kind (a list, binary data) also reads as -1 and is reported:
    // once every value has been read, an Exception names the first such value.
    static void Read(TPortDevices& devices);
    // Writes all four values. Raises an Exception when the file cannot be written.
    static void Write(const TPortDevices& devices);
    // The same two on a store the caller opened (the user's file is the one above).
    static void Read(QSettings& settings, TPortDevices& devices);
    static void Write(QSettings& settings, const TPortDevices& devices);
    // The full path of the settings file.
    static QString FileName();
};
