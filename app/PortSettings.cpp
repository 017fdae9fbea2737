// The stored port assignment.
#include "app/PortSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <algorithm>
#include <cstdint>

#include "formats/Chars.h"
#include "song/Exception.h"

namespace {

// The settings file is the program's own file of four numbers and names; anything larger is not it.
constexpr qint64 MaxSettingsBytes = 1024 * 1024;

[[noreturn]] void RaiseUnreadable(const QString& what, const QString& path)
{
    throw Exception(QStringLiteral("設定値 %1 を読み込めません: %2").arg(what, path).toStdString());
}

// ---- QSettings' INI format, as far as plain strings go ----
//
// Lines, sections and keys follow QSettings' own reading, so every file it wrote reads the same
// here. Values are only ever taken as text: a value QSettings would turn into something else (a
// list, or a string that starts with @ once its escapes are undone: serialized or binary data)
// is marked unreadable and never decoded.

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The next logical line from pos: comment lines are passed over, a line ends at a line break
// outside quotes, a backslash takes the next character (a line break too) with it. equals is the
// first '=' outside quotes, -1 without one. False at the end of the data.
bool NextLine(QByteArrayView data, qsizetype& pos, qsizetype& start, qsizetype& length, qsizetype& equals)
{
    const qsizetype size = data.size();
    bool inQuotes = false;
    equals = -1;
    start = pos;
    while (start < size && IsSpace(data[start])) ++start;
    qsizetype i = start;
    while (i < size) {
        const char c = data[i++];
        if (c == '=') {
            if (!inQuotes && equals == -1) equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char next = data[i++];
                if (i < size && ((next == '\n' && data[i] == '\r') || (next == '\r' && data[i] == '\n'))) ++i;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == ';') {
            if (i == start + 1) {
                while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
                while (i < size && IsSpace(data[i])) ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    length = i - start;
    return length > 0;
}

// A section name or key: %XX and %UXXXX stand for one character, a backslash for '/'.
QString UnescapeKey(QByteArrayView key)
{
    QString result;
    qsizetype i = 0;
    while (i < key.size()) {
        const char c = key[i];
        if (c == '\\') {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (c != '%' || i == key.size() - 1) {
            result += QLatin1Char(c);
            ++i;
            continue;
        }
        const qsizetype digits = key[i + 1] == 'U' ? 4 : 2;
        const qsizetype first = i + 1 + (digits == 4 ? 1 : 0);
        int code = 0;
        bool ok = first + digits <= key.size();
        for (qsizetype d = 0; ok && d < digits; ++d) {
            const int value = HexValue(key[first + d]);
            ok = value >= 0;
            code = code * 16 + value;
        }
        if (!ok) {
            result += QLatin1Char('%');
            ++i;
            continue;
        }
        result += QChar(static_cast<char16_t>(code));
        i = first + digits;
    }
    return result;
}

void ChopTrailingSpaces(QString& text, qsizetype limit)
{
    while (text.size() > limit && (text.back() == QLatin1Char(' ') || text.back() == QLatin1Char('\t'))) text.chop(1);
}

// A value: quotes, escapes (\n, \x41, \101, ...) and continued lines undone. A comma outside
// quotes makes it a list, which is no plain string.
TPortSettings::TValue UnescapeValue(QByteArrayView value)
{
    using TValue = TPortSettings::TValue;
    QString text;
    bool list = false;
    bool inQuotes = false;
    bool quoted = false;
    bool chop = true;
    qsizetype chopLimit = 0;
    qsizetype i = 0;
    const qsizetype size = value.size();
    const auto skipSpaces = [&] {
        while (i < size && (value[i] == ' ' || value[i] == '\t')) ++i;
        chopLimit = text.size();
    };
    skipSpaces();
    while (i < size) {
        const char c = value[i];
        if (c == '\\') {
            if (++i >= size) {
                chop = false;  // a backslash at the very end keeps the spaces before it
                break;
            }
            const char e = value[i++];
            static constexpr char simple[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
                                                 {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            bool done = false;
            for (const auto& pair : simple) {
                if (e == pair[0]) {
                    text += QLatin1Char(pair[1]);
                    done = true;
                    break;
                }
            }
            if (done) {
                chopLimit = text.size();
                continue;
            }
            if ((e == 'x' && i < size && HexValue(value[i]) >= 0) || (e >= '0' && e <= '7')) {
                // As many digits as follow; the character is the low 16 bits of their value.
                const int base = e == 'x' ? 16 : 8;
                std::uint32_t code = e == 'x' ? 0 : static_cast<std::uint32_t>(e - '0');
                for (; i < size; ++i) {
                    const int digit = HexValue(value[i]);
                    if (digit < 0 || digit >= base) break;
                    code = code * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
                }
                text += QChar(static_cast<char16_t>(code & 0xFFFF));
                chopLimit = text.size();
                continue;
            }
            if (e == 'x' && i >= size) {
                chop = false;
                break;
            }
            if ((e == '\n' || e == '\r') && i < size && (value[i] == '\n' || value[i] == '\r') && value[i] != e) ++i;
            chopLimit = text.size();  // an unknown escape is dropped
            continue;
        }
        if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) skipSpaces();
            continue;
        }
        if (c == ',' && !inQuotes) {
            list = true;
            break;
        }
        qsizetype j = i + 1;
        while (j < size && value[j] != '\\' && value[j] != '"' && value[j] != ',') ++j;
        // A run between escapes may begin with U+FEFF, which QString::fromUtf8 would drop as a
        // byte order mark: the name would come back one character short.
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text += utf8.decode(value.sliced(i, j - i));
        i = j;
    }
    if (list) return {TValue::Unreadable, {}};
    if (!quoted && chop) ChopTrailingSpaces(text, chopLimit);
    // QSettings writes a string that starts with @ with the @ doubled; every other @ form is data
    // of another kind, which this program never writes and never decodes.
    if (text.startsWith(QLatin1Char('@'))) {
        if (!text.startsWith(QStringLiteral("@@"))) return {TValue::Unreadable, {}};
        text.remove(0, 1);
    }
    return {TValue::Plain, text};
}

}  // namespace

QString TPortSettings::Key(int port) { return QStringLiteral("PORT%1").arg(port + 1); }

QString TPortSettings::NameKey(int port) { return QStringLiteral("PORT%1NAME").arg(port + 1); }

QString TPortSettings::FileName()
{
    // Where QSettings keeps a user's INI file for this organization and application.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + Organization +
           QLatin1Char('/') + Application + QStringLiteral(".ini");
}

namespace {

// The values of one key per port, key(port) naming it.
template <class TKey>
std::array<TPortSettings::TValue, TSong::PortCount> ParseKeys(const QByteArray& ini, TKey key)
{
    using TValue = TPortSettings::TValue;
    const QString& Group = TPortSettings::Group;
    std::array<TValue, TSong::PortCount> values{};
    QByteArrayView data(ini);
    if (data.startsWith("\xef\xbb\xbf")) data = data.sliced(3);
    bool inGroup = false;
    qsizetype pos = 0, start = 0, length = 0, equals = 0;
    while (NextLine(data, pos, start, length, equals)) {
        const QByteArrayView line = data.sliced(start, length);
        if (line.startsWith('[')) {
            qsizetype close = line.indexOf(']');
            if (close < 0) close = length;
            const QByteArrayView name = line.first(close).sliced(1).trimmed();
            // [General] holds the keys outside any group, and [%General] is the group General.
            inGroup = name.compare("general", Qt::CaseInsensitive) != 0 &&
                      name.compare("%general", Qt::CaseInsensitive) != 0 && UnescapeKey(name) == Group;
            continue;
        }
        if (!inGroup || equals < 0) continue;
        const QString name = UnescapeKey(line.first(equals - start).trimmed());
        for (int port = 0; port < TSong::PortCount; ++port)
            if (name == key(port)) values[static_cast<std::size_t>(port)] = UnescapeValue(line.sliced(equals - start + 1));
    }
    return values;
}

}  // namespace

std::array<TPortSettings::TValue, TSong::PortCount> TPortSettings::ParseValues(const QByteArray& ini)
{
    return ParseKeys(ini, &TPortSettings::Key);
}

std::array<TPortSettings::TValue, TSong::PortCount> TPortSettings::ParseNames(const QByteArray& ini)
{
    return ParseKeys(ini, &TPortSettings::NameKey);
}

QByteArray TPortSettings::EscapeValue(const QString& text)
{
    // Always quoted, so that blanks at either end, ';', ',' and '=' are kept as they are. A
    // leading @ is doubled as QSettings does, or it would mark data of another kind.
    QByteArray out = "\"";
    if (text.startsWith(QLatin1Char('@'))) out += '@';
    bool hexEscaped = false;
    qsizetype plain = 0;  // the start of the run of characters written as they are
    const auto flush = [&](qsizetype end) {
        out += QStringView(text).sliced(plain, end - plain).toUtf8();
        plain = end + 1;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t code = text[i].unicode();
        if (hexEscaped && code < 0x80 && HexValue(static_cast<char>(code)) >= 0) {
            // A hex digit right after \x would be read as part of that escape.
            flush(i);
            out += "\\x" + QByteArray::number(code, 16);
            continue;
        }
        hexEscaped = false;
        if (code == '\\' || code == '"') {
            flush(i);
            out += '\\';
            out += static_cast<char>(code);
        } else if (QChar::isHighSurrogate(code) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;  // a pair is one character, written as it is
        } else if (code < 0x20 || code == 0x7F || QChar::isSurrogate(code)) {
            // A lone surrogate has no UTF-8 form; the escape keeps it.
            flush(i);
            out += "\\x" + QByteArray::number(code, 16);
            hexEscaped = true;
        }
    }
    flush(text.size());
    out += '"';
    return out;
}

TPortDevices TPortSettings::FindDevices(const TPortEntries& entries, const QStringList& devices,
                                        std::array<bool, TSong::PortCount>& missing)
{
    TPortDevices found{-1, -1, -1, -1};
    missing = {};
    const auto taken = [&found](int device) { return std::find(found.begin(), found.end(), device) != found.end(); };
    // The entries whose stored number still bears their name keep it first, so that a second
    // device of the same name cannot take it from them.
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TPortEntry& entry = entries[static_cast<std::size_t>(port)];
        if (entry.Name.isEmpty()) {
            found[static_cast<std::size_t>(port)] = entry.Device;
        } else if (entry.Device >= 0 && entry.Device < devices.size() && devices[entry.Device] == entry.Name) {
            found[static_cast<std::size_t>(port)] = entry.Device;
        }
    }
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TPortEntry& entry = entries[static_cast<std::size_t>(port)];
        if (entry.Name.isEmpty() || found[static_cast<std::size_t>(port)] >= 0) continue;
        for (int device = 0; device < devices.size(); ++device) {
            if (devices[device] == entry.Name && !taken(device)) {
                found[static_cast<std::size_t>(port)] = device;
                break;
            }
        }
        missing[static_cast<std::size_t>(port)] = found[static_cast<std::size_t>(port)] < 0;
    }
    return found;
}

bool TPortSettings::Read(TPortEntries& entries) { return Read(FileName(), entries); }

void TPortSettings::Write(const TPortEntries& entries) { Write(FileName(), entries); }

bool TPortSettings::Read(const QString& path, TPortEntries& entries)
{
    entries = {};
    if (!QFileInfo::exists(path)) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return true;  // there, but unreadable: no assignment
    const QByteArray bytes = file.read(MaxSettingsBytes + 1);
    if (bytes.size() > MaxSettingsBytes) RaiseUnreadable(Group, path);
    const auto values = ParseValues(bytes);
    const auto names = ParseNames(bytes);
    QString unreadable;
    // The other values are still read, so one damaged value does not cost the user the whole
    // assignment.
    const auto noteUnreadable = [&unreadable](const TValue& value, const QString& key) {
        if (value.Kind == TValue::Unreadable && unreadable.isEmpty()) unreadable = key;
    };
    for (int port = 0; port < TSong::PortCount; ++port) {
        TPortEntry& entry = entries[static_cast<std::size_t>(port)];
        const TValue& value = values[static_cast<std::size_t>(port)];
        if (value.Kind == TValue::Plain) {
            bool ok = false;
            const int number = value.Text.trimmed().toInt(&ok, 10);
            if (ok) entry.Device = number;
        }
        noteUnreadable(value, Key(port));
        const TValue& name = names[static_cast<std::size_t>(port)];
        if (name.Kind == TValue::Plain) entry.Name = name.Text;
        noteUnreadable(name, NameKey(port));
    }
    if (!unreadable.isEmpty()) RaiseUnreadable(unreadable, path);
    return true;
}

void TPortSettings::Write(const QString& path, const TPortEntries& entries)
{
    // The whole file is the assignment: it is written anew, also over a damaged one, through a
    // temporary file that takes the name only once complete.
    QByteArray text = '[' + Group.toLatin1() + "]\n";
    for (int port = 0; port < TSong::PortCount; ++port) {
        const TPortEntry& entry = entries[static_cast<std::size_t>(port)];
        text += Key(port).toLatin1() + '=' + QByteArray::number(entry.Device) + '\n';
        text += NameKey(port).toLatin1() + '=' + EscapeValue(entry.Name) + '\n';
    }
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw Exception(QStringLiteral("設定を保存できません: %1").arg(path).toStdString());
}
