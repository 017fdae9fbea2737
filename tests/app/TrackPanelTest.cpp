// The track panel: what it shows of a compile's tracks, the silenced set its mute and solo checks
// tell, and how long a choice lasts.
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <set>
#include <string>
#include <vector>

#include "tests/app/AppFixture.h"
#include "app/TrackPanel.h"

// A set in failures as its numbers and runs: "2-128".
inline void PrintTo(const TTrackSet& set, std::ostream* out)
{
    const std::vector<int> numbers = set.Numbers();
    *out << '{';
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        std::size_t last = i;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
        *out << (i == 0 ? "" : ",") << numbers[i];
        if (last > i) *out << '-' << numbers[last];
        i = last;
    }
    *out << '}';
}

namespace app_test {
namespace {

TTrackSet Set(std::initializer_list<int> tracks)
{
    TTrackSet set;
    for (const int track : tracks) set.Add(track);
    return set;
}

TTrackSet AllBut(std::initializer_list<int> tracks) { return Set(tracks).Complement(); }

std::vector<TTrackSummary> Summaries(std::initializer_list<int> tracks)
{
    std::vector<TTrackSummary> summaries;
    for (const int track : tracks) summaries.push_back({track, 0, track - 1, -1, 4});
    return summaries;
}

class TrackPanel : public ::testing::Test {
protected:
    QTableWidget& Table() { return Find<QTableWidget>(Panel, QStringLiteral("trackTable")); }
    QPushButton& ClearButton() { return Find<QPushButton>(Panel, QStringLiteral("clearTracksButton")); }
    bool ShowsTable() { return Find<QStackedWidget>(Panel, QString()).currentWidget() == &Table(); }
    QTableWidgetItem& Cell(int track, int column)
    {
        for (int row = 0; row < Table().rowCount(); ++row)
            if (Table().item(row, TTrackPanel::TrackColumn)->text() == QString::number(track))
                return *Table().item(row, column);
        throw std::logic_error("no row for track " + std::to_string(track));
    }
    // The checks as drawn, "m" muted and "s" soloed per shown track: "1m 2 3ms".
    std::string Checks()
    {
        std::string checks;
        for (int row = 0; row < Table().rowCount(); ++row) {
            if (!checks.empty()) checks += ' ';
            checks += Table().item(row, TTrackPanel::TrackColumn)->text().toStdString();
            if (Table().item(row, TTrackPanel::MuteColumn)->checkState() == Qt::Checked) checks += 'm';
            if (Table().item(row, TTrackPanel::SoloColumn)->checkState() == Qt::Checked) checks += 's';
        }
        return checks;
    }
    // What the panel has told, in order.
    std::vector<TTrackSet> Told()
    {
        std::vector<TTrackSet> told;
        for (const QList<QVariant>& arguments : Spy) told.push_back(arguments.at(0).value<TTrackSet>());
        Spy.clear();
        return told;
    }

    TTrackPanel Panel;
    QSignalSpy Spy{&Panel, &TTrackPanel::silencedChanged};
};

TEST_F(TrackPanel, ShowsOneRowPerTrackAsTheUserWroteItAndAHintWhenThereAreNone)
{
    EXPECT_EQ(Panel.objectName(), QStringLiteral("trackPanel"));
    EXPECT_FALSE(ShowsTable());
    EXPECT_EQ(Find<QLabel>(Panel, QStringLiteral("trackPanelEmpty")).text(),
              QStringLiteral("コンパイルするとトラックが表示されます"));

    // Port, channel and program 0-based inside, shown 1-based as the MML writes them (@1 sends
    // program 0); a track that sent no channel message or program change shows "-".
    Panel.SetTracks({{1, 0, 0, 0, 12}, {2, 3, -1, -1, 0}, {17, 1, 15, 127, 3}});
    ASSERT_TRUE(ShowsTable());
    QStringList headers;
    for (int column = 0; column < Table().columnCount(); ++column) headers << Table().horizontalHeaderItem(column)->text();
    EXPECT_EQ(headers, (QStringList{QStringLiteral("トラック"), QStringLiteral("ポート"), QStringLiteral("チャンネル"),
                                    QStringLiteral("音色"), QStringLiteral("音符数"), QStringLiteral("ミュート"),
                                    QStringLiteral("ソロ")}));
    QStringList rows;
    for (int row = 0; row < Table().rowCount(); ++row) {
        QStringList cells;
        for (int column = TTrackPanel::TrackColumn; column <= TTrackPanel::NotesColumn; ++column)
            cells << Table().item(row, column)->text();
        rows << cells.join(QLatin1Char('|'));
    }
    EXPECT_EQ(rows, (QStringList{QStringLiteral("1|1|1|1|12"), QStringLiteral("2|4|-|-|0"),
                                 QStringLiteral("17|2|16|128|3")}));
    EXPECT_EQ(Checks(), "1 2 17");
    for (const int column : {TTrackPanel::MuteColumn, TTrackPanel::SoloColumn}) {
        EXPECT_TRUE(Cell(2, column).flags().testFlag(Qt::ItemIsUserCheckable));
        EXPECT_FALSE(Cell(2, column).toolTip().isEmpty());
        EXPECT_TRUE(Cell(2, column).data(Qt::AccessibleTextRole).toString().contains(QStringLiteral("トラック 2")));
    }
    EXPECT_FALSE(Cell(2, TTrackPanel::NotesColumn).flags().testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(Cell(17, TTrackPanel::TrackColumn).icon().isNull()) << "the track's colour";

    Panel.SetTracks({});
    EXPECT_FALSE(ShowsTable());
    EXPECT_EQ(Table().rowCount(), 0);
}

TEST(TrackColours, SixteenDistinctColoursRepeatedEverySixteenTracks)
{
    std::set<QRgb> seen;
    for (int track = 1; track <= 16; ++track) seen.insert(TTrackPanel::TrackColour(track).rgb());
    EXPECT_EQ(seen.size(), 16u);
    for (const int track : {1, 5, 16, 100})
        EXPECT_EQ(TTrackPanel::TrackColour(track + 16), TTrackPanel::TrackColour(track)) << track;
    EXPECT_TRUE(TTrackPanel::TrackColour(0).isValid()) << "no number draws without a colour";
}

// Each case starts from tracks 1, 2 and 3, nothing muted, and toggles the checks as a click does.
TEST_F(TrackPanel, MuteAndSoloTellTheSilencedSetAtOnce)
{
    enum TStep { Mute, Unmute, Solo, Unsolo, ClearAll };
    struct TCase {
        const char* Name;
        std::vector<std::pair<TStep, int>> Steps;
        std::string Checks;
        TTrackSet Silenced;
        std::size_t Told;  // how many times the set changed
    };
    const TCase cases[] = {
        {"mute 2", {{Mute, 2}}, "1 2m 3", Set({2}), 1},
        {"solo 1", {{Solo, 1}}, "1s 2 3", AllBut({1}), 1},
        {"solo 1 + mute 1: muted stays muted", {{Solo, 1}, {Mute, 1}}, "1ms 2 3", AllBut({}), 2},
        {"solo 1 and 3", {{Solo, 1}, {Solo, 3}}, "1s 2 3s", AllBut({1, 3}), 2},
        {"a mute that a solo already silenced changes nothing", {{Solo, 1}, {Mute, 2}}, "1s 2m 3", AllBut({1}), 1},
        {"unsolo the last: the muted are left", {{Mute, 2}, {Solo, 1}, {Unsolo, 1}}, "1 2m 3", Set({2}), 3},
        {"clear all", {{Mute, 2}, {Solo, 3}, {ClearAll, 0}}, "1 2 3", Set({}), 3},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Panel.SetTracks({});
        Panel.SetTracks(Summaries({1, 2, 3}));
        Spy.clear();
        for (const auto& [step, track] : c.Steps) {
            if (step == ClearAll) {
                ClearButton().click();
                continue;
            }
            const bool mute = step == Mute || step == Unmute;
            const bool on = step == Mute || step == Solo;
            Cell(track, mute ? TTrackPanel::MuteColumn : TTrackPanel::SoloColumn)
                .setCheckState(on ? Qt::Checked : Qt::Unchecked);
        }
        EXPECT_EQ(Checks(), c.Checks);
        EXPECT_EQ(Panel.Silenced(), c.Silenced);
        const std::vector<TTrackSet> told = Told();
        EXPECT_EQ(told.size(), c.Told);
        if (!told.empty()) {
            EXPECT_EQ(told.back(), c.Silenced);
        }
        EXPECT_EQ(ClearButton().isEnabled(), !Panel.Muted().Empty() || !Panel.Soloed().Empty());
    }
}

TEST_F(TrackPanel, TheSetterAndTheKeyboardActLikeAClick)
{
    Panel.SetTracks(Summaries({1, 2, 3}));
    Panel.SetSoloed(3, true);
    EXPECT_EQ(Checks(), "1 2 3s");
    EXPECT_EQ(Told(), std::vector<TTrackSet>{AllBut({3})});
    Panel.SetMuted(4, true);  // not shown: nothing to mute
    EXPECT_TRUE(Panel.Muted().Empty());
    EXPECT_TRUE(Told().empty());

    Panel.show();
    Table().setFocus();
    Table().setCurrentCell(1, TTrackPanel::MuteColumn);
    QTest::keyClick(&Table(), Qt::Key_Space);
    EXPECT_EQ(Checks(), "1 2m 3s");
    EXPECT_EQ(Panel.Muted(), Set({2}));
    Table().setCurrentCell(2, TTrackPanel::SoloColumn);
    QTest::keyClick(&Table(), Qt::Key_Space);
    EXPECT_EQ(Checks(), "1 2m 3");
    EXPECT_EQ(Told(), std::vector<TTrackSet>{Set({2})});
}

TEST_F(TrackPanel, AChoiceLastsWhileItsTrackDoes)
{
    Panel.SetTracks(Summaries({1, 2, 3}));
    Panel.SetMuted(2, true);
    Panel.SetSoloed(3, true);
    Panel.SetMuted(1, true);
    Spy.clear();

    // A compile that keeps the tracks keeps every check and tells nothing new.
    Panel.SetTracks(Summaries({1, 2, 3}));
    EXPECT_EQ(Checks(), "1m 2m 3s");
    EXPECT_TRUE(Told().empty());

    // Track 3 goes, and its solo with it: the mutes alone are left.
    Panel.SetTracks(Summaries({1, 2, 4}));
    EXPECT_EQ(Checks(), "1m 2m 4");
    EXPECT_EQ(Told(), std::vector<TTrackSet>{Set({1, 2})});

    // Track 3 comes back heard; track 1 going takes its mute.
    Panel.SetTracks(Summaries({2, 3}));
    EXPECT_EQ(Checks(), "2m 3");
    EXPECT_EQ(Panel.Silenced(), Set({2}));
    EXPECT_EQ(Told(), std::vector<TTrackSet>{Set({2})});

    Panel.SetTracks({});
    EXPECT_TRUE(Panel.Silenced().Empty());
    EXPECT_FALSE(ClearButton().isEnabled());
    EXPECT_EQ(Told(), std::vector<TTrackSet>{Set({})});
}

}  // namespace
}  // namespace app_test
