// The transport: the state of the buttons, bar and refresh through play, pause, slow, fast and
// stop; the elapsed time and the song position; the end of the song; seeking with the bar; the
// keys; compile-and-play; mute, loop and the playing lines of every part; silence at shutdown.
//
// The players run on the test's clock, and the refresh is run every 100 ms of that clock while it
// is switched on, as its timer would run it, so every step is exact and nothing sleeps.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/TrackPanel.h"
#include "tests/app/AppFixture.h"

namespace app_test {
namespace {

// "t120 l4 cdef": four quarter notes of 500 ms, keys 60, 62, 64, 65; the last note ends at tick 1920.
const QString Song = QStringLiteral("t120 l4 cdef");

class Transport : public TWindowTest {
protected:
    void CompileSong(const QString& mml = Song)
    {
        AssignPorts({0, -1, -1, -1});
        CompileText(mml);
        Recording.ClearMessages();
    }

    // Moves the clock on, running the refresh every 100 ms while it is switched on.
    void Run(int ms)
    {
        for (int t = 0; t < ms; t += 100) {
            Clock.AdvanceMs(100);
            if (Find<QTimer>("displayTimer").isActive()) Window->RefreshDisplay();
        }
    }

    // The keys struck since the last call.
    std::vector<int> NotesOn()
    {
        std::vector<int> keys;
        for (const auto& m : Recording.Messages())
            if (m.Kind == TRecordingMidiOut::TMessage::Short && (m.Bytes[0] & 0xF0) == 0x90 && m.Bytes[2] != 0)
                keys.push_back(m.Bytes[1]);
        Recording.ClearMessages();
        return keys;
    }

    // One row of the state table.
    void ExpectState(const char* pressedAction, bool play, bool pauseSlowFast, bool bar, bool refresh, bool resume)
    {
        QAction* pressed = &Action(pressedAction);
        EXPECT_TRUE(pressed->isChecked()) << pressed->toolTip().toStdString() << " is not pressed";
        EXPECT_EQ(Find<QActionGroup>("transportGroup").checkedAction(), pressed);
        EXPECT_EQ(Action("playAction").isEnabled(), play);
        for (QAction* action : {&Action("pauseAction"), &Action("slowAction"), &Action("fastAction")})
            EXPECT_EQ(action->isEnabled(), pauseSlowFast) << action->toolTip().toStdString();
        EXPECT_TRUE(Action("stopAction").isEnabled());
        EXPECT_EQ(Find<QSlider>("positionBar").isEnabled(), bar);
        EXPECT_EQ(Find<QTimer>("displayTimer").isActive(), refresh);
        EXPECT_EQ(Window->ResumeOnPlay(), resume);
    }

    void ExpectSpeed(double factor)
    {
        for (int i = 0; i < TMidis::PortCount; ++i) EXPECT_EQ(Window->Players().Items(i).SpeedFactor.load(), factor);
    }

    void DragBarTo(int tick)
    {
        QSlider& bar = Find<QSlider>("positionBar");
        QTimer& refresh = Find<QTimer>("displayTimer");
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(5, 11));
        EXPECT_FALSE(refresh.isActive()) << "the display holds still while the bar is held";
        bar.setValue(tick);
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(5, 11));
        EXPECT_TRUE(refresh.isActive()) << "the release lets the display go on";
    }

    QString Label() const { return Find<QLabel>("timeLabel").text(); }
};

TEST_F(Transport, StartUpAndCompile)
{
    ExpectState("stopAction", false, false, true, false, false);
    CompileSong();
    ExpectState("stopAction", true, false, true, false, false);
    // The bar measures the compiled song, so it can be dragged before the first Play.
    EXPECT_EQ(Find<QSlider>("positionBar").maximum(), 1920);
}

TEST_F(Transport, PauseKeepsTheTimeAndThePlace)
{
    CompileSong();
    Action("playAction").trigger();
    ExpectState("playAction", true, true, true, true, false);
    Run(100);
    EXPECT_EQ(Label(), QStringLiteral("00:00:00"));
    Run(1100);
    EXPECT_EQ(Label(), QStringLiteral("00:00:01"));
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62, 64}));
    EXPECT_EQ(Find<QSlider>("positionBar").value(), 1440) << "the tick of the next event";

    Action("pauseAction").trigger();
    ExpectState("pauseAction", true, false, true, false, true);
    Run(10000);
    EXPECT_EQ(Label(), QStringLiteral("00:00:01"));
    EXPECT_EQ(NotesOn(), std::vector<int>{});

    Action("playAction").trigger();
    ExpectState("playAction", true, true, true, true, false);
    Run(400);
    EXPECT_EQ(NotesOn(), std::vector<int>{65}) << "the song goes on where it stopped";
    EXPECT_EQ(Window->ElapsedMs(), 1600);
}

TEST_F(Transport, ElapsedTimeFollowsTheClockAtAnyUptime)
{
    // A machine up for fifty days: past the point where a 32-bit count of milliseconds wraps.
    Clock.AdvanceMs((std::uint64_t{1} << 32) - 250);
    CompileSong();
    Action("playAction").trigger();
    // Refreshes that fall between whole milliseconds lose nothing and count nothing twice.
    for (int i = 0; i < 36; ++i) {
        Clock.Advance(33'333);
        Window->RefreshDisplay();
    }
    EXPECT_EQ(Window->ElapsedMs(), 1199);  // 36 x 33.333 ms
    EXPECT_EQ(Label(), QStringLiteral("00:00:01"));
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62, 64}));
}

TEST_F(Transport, SlowAndFastChangeOnlyTheSpeed)
{
    CompileSong();
    Action("playAction").trigger();
    Run(200);
    Action("slowAction").trigger();
    ExpectState("slowAction", true, true, true, true, true);
    ExpectSpeed(0.5);
    Run(1000);  // half a second of song
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62}));
    EXPECT_EQ(Label(), QStringLiteral("00:00:01")) << "the clock counts wall time in full";

    Action("fastAction").trigger();
    ExpectState("fastAction", true, true, true, true, true);
    ExpectSpeed(2.0);

    Action("playAction").trigger();
    ExpectState("playAction", true, true, true, true, false);
    ExpectSpeed(1.0);
    Run(600);
    EXPECT_EQ(NotesOn(), std::vector<int>{64}) << "no start over";
    EXPECT_EQ(Window->ElapsedMs(), 1800);
}

TEST_F(Transport, StopThenPlayStartsOver)
{
    CompileSong();
    Action("playAction").trigger();
    Run(1200);
    Action("stopAction").trigger();
    ExpectState("stopAction", true, false, true, false, false);
    EXPECT_EQ(Label(), QStringLiteral("00:00:01")) << "the label keeps its last value";
    NotesOn();

    Action("playAction").trigger();
    Run(100);
    EXPECT_EQ(Label(), QStringLiteral("00:00:00"));
    EXPECT_EQ(NotesOn(), std::vector<int>{60});
}

TEST_F(Transport, TheEndOfTheSongStopsEverything)
{
    CompileSong();
    Action("playAction").trigger();
    Run(3000);
    ExpectState("stopAction", true, false, false, false, false);
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62, 64, 65}));
    // The refresh that found the end did not write the label.
    EXPECT_EQ(Label(), TMainWindow::FormatElapsed(Window->ElapsedMs() - 100));
    EXPECT_LE(Window->ElapsedMs(), 2100);
}

TEST_F(Transport, ADeviceThatGoesAwayIsReportedOnceAndItsPortEnds)
{
    AssignPorts({0, 1, -1, -1});
    CompileText(QStringLiteral("t120 l4 cdef [17] l1 c"));
    const QString compiled = MessagePane().toPlainText();
    Action("playAction").trigger();
    Run(500);
    Recording.Lose(1);
    Run(1000);
    const QString lost = QStringLiteral("ポート 2 の MIDI 出力デバイスが失われたため、そのポートの演奏を止めました");
    EXPECT_EQ(MessagePane().toPlainText(), compiled.isEmpty() ? lost : compiled + QLatin1Char('\n') + lost);
    EXPECT_TRUE(Window->Players().Items(1).Finished.load());
    // Port 1 plays on to its end and the song then stops as always.
    Run(1500);
    EXPECT_EQ(Find<QActionGroup>("transportGroup").checkedAction(), &Action("stopAction"));
    EXPECT_EQ(MessagePane().toPlainText().count(lost), 1);
    Recording.Lose(1, false);
}

TEST_F(Transport, PlayWithNothingCompiledSpringsBack)
{
    CompileSong();
    Action("playAction").trigger();
    Run(1000);
    CompileSong(QString());
    Action("playAction").trigger();
    ExpectState("stopAction", true, false, false, false, false);
    EXPECT_EQ(Label(), QStringLiteral("00:00:01"));
}

// Pause, Compile, Play: the new song starts from its beginning rather than from where the old one
// was paused, which would sound all of its events before that point at once.
TEST_F(Transport, ASongCompiledWhilePausedStartsOver)
{
    CompileSong();
    Action("playAction").trigger();
    Run(1200);
    Action("pauseAction").trigger();
    CompileSong(QStringLiteral("t120 l4 gab"));
    ExpectState("stopAction", true, false, true, false, false);
    Action("playAction").trigger();
    Run(100);
    EXPECT_EQ(NotesOn(), std::vector<int>{67});
    EXPECT_EQ(Window->ElapsedMs(), 100);
}

// The release starts the music, and the transport says so: Play pressed, Pause within reach.
TEST_F(Transport, DraggingTheBarWhileStoppedPlaysFromThere)
{
    CompileSong();
    Action("playAction").trigger();
    Run(1200);
    Action("stopAction").trigger();
    NotesOn();
    DragBarTo(960);
    ExpectState("playAction", true, true, true, true, false);
    Run(100);
    EXPECT_EQ(NotesOn(), std::vector<int>{64});
    EXPECT_EQ(Window->ElapsedMs(), 100) << "a new run of the playing time, as Play after Stop";
    Run(1500);
    EXPECT_EQ(NotesOn(), std::vector<int>{65});
    ExpectState("stopAction", true, false, false, false, false);
}

TEST_F(Transport, DraggingTheBarWhilePausedPlaysFromThere)
{
    CompileSong();
    Action("playAction").trigger();
    Run(600);
    Action("slowAction").trigger();  // paused from slow: the release plays at the normal speed
    Action("pauseAction").trigger();
    NotesOn();
    DragBarTo(1440);
    ExpectState("playAction", true, true, true, true, false);
    ExpectSpeed(1.0);
    Run(100);
    EXPECT_EQ(NotesOn(), std::vector<int>{65});
    EXPECT_EQ(Window->ElapsedMs(), 700) << "the paused run's time goes on";
    // Pause now pauses the music the release started.
    Action("pauseAction").trigger();
    ExpectState("pauseAction", true, false, true, false, true);
}

TEST_F(Transport, ABarReleaseBeforeAnyCompileEndsAtTheFirstRefresh)
{
    DragBarTo(50);
    EXPECT_TRUE(Find<QTimer>("displayTimer").isActive());
    Run(100);
    ExpectState("stopAction", false, false, false, false, false);
}

// Every event at tick 0: the longest port by the rule is an empty one, which the refresh must not
// read from.
TEST_F(Transport, ASongAtTickZeroKeepsTheBarWhereItIs)
{
    CompileSong(QStringLiteral("t120"));
    Action("playAction").trigger();
    Window->RefreshDisplay();  // before the first tick of the players
    EXPECT_EQ(Find<QSlider>("positionBar").value(), 0);
    EXPECT_EQ(Label(), QStringLiteral("00:00:00"));
    Run(200);
    ExpectState("stopAction", true, false, false, false, false);
}

TEST_F(Transport, ClosingDuringPlaybackSilencesThePortBeforeClosingIt)
{
    CompileSong();
    Action("playAction").trigger();
    Run(600);
    Recording.ClearMessages();
    Window.reset();
    EXPECT_EQ(Recording.OpenDevices(), 0);
    std::vector<std::string> log;
    for (const auto& m : Recording.Messages())
        log.push_back(m.Kind == TRecordingMidiOut::TMessage::Reset ? "reset" : HexBytes(m.Bytes));
    std::vector<std::string> silence;
    for (int channel = 0; channel < 16; ++channel) {
        char bytes[16];
        std::snprintf(bytes, sizeof bytes, "B%X 78 00", channel);
        silence.push_back(bytes);
    }
    ASSERT_GE(log.size(), 17u);
    const auto reset = std::find(log.begin(), log.end(), "reset");
    ASSERT_NE(reset, log.end());
    EXPECT_EQ(std::vector<std::string>(reset - 16, reset), silence);
    EXPECT_EQ(reset + 1, log.end()) << "nothing after the device was reset";
}

// Puts the text in the editor (not compiled) with the cursor at the end of the given line.
void PlaceCursor(TMMLEditor& editor, const QString& mml, int line)
{
    editor.setPlainText(mml);
    QTextCursor cursor(editor.document()->findBlockByNumber(line - 1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    editor.setTextCursor(cursor);
}

TEST_F(Transport, PlayFromTheCursorStartsWithTheFirstEventOfItsLine)
{
    AssignPorts({0, -1, -1, -1});
    struct TCase {
        const char* Mml;
        int Line;
        int Tick;
        std::vector<int> Notes;  // struck in the first 100 ms
    };
    const TCase cases[] = {
        {"t120 l4 c\n|:2 d\ne :| f", 3, 960, {64}},      // a line in a repeat body: its first pass
        {"t120 l4\n/: c2 / d :/\ne", 3, 960, {64}},       // the line after a parallel block
        {"t120 l4 c d\ne f\n[2] g1", 2, 960, {64}},        // a track further down starts earlier
        {"[A] e f [@]\nt120 l4 c d\n[A]", 3, 960, {64}},   // a macro sounds where it is used
        {"[A] e f [@]\nt120 l4 c d\n[A]", 1, 0, {60}},     // its definition makes no sound there
        {"t120 l4 c d\n\n  \ne f", 2, 960, {64}},          // blank lines: the next line that sounds
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Mml);
        PlaceCursor(MMLEditor(), QString::fromUtf8(c.Mml), c.Line);
        Action("playFromCursorAction").trigger();  // compiles the new text first
        ExpectState("playAction", true, true, true, true, false);
        EXPECT_EQ(Find<QSlider>("positionBar").value(), c.Tick);
        EXPECT_EQ(Find<QSlider>("positionBar").maximum(), Window->Players().SongLength());
        EXPECT_EQ(MMLEditor().CursorLine(), c.Line) << "the cursor stays";
        Run(100);
        EXPECT_EQ(NotesOn(), c.Notes);
        Action("stopAction").trigger();
    }
}

TEST_F(Transport, PlayFromTheCursorCompilesOnlyChangedText)
{
    CompileSong(QStringLiteral("t120 l4 c\nd e"));
    const auto compiled = [this] {
        // A compile closes the devices, which resets them.
        bool reset = false;
        for (const auto& m : Recording.Messages()) reset = reset || m.Kind == TRecordingMidiOut::TMessage::Reset;
        Recording.ClearMessages();
        return reset;
    };
    MMLEditor().setTextCursor(QTextCursor(MMLEditor().document()->lastBlock()));
    Action("playFromCursorAction").trigger();
    EXPECT_FALSE(compiled());
    Run(100);
    Action("pauseAction").trigger();
    EXPECT_TRUE(Window->ResumeOnPlay());

    Type(QStringLiteral("f"));
    QApplication::setActiveWindow(Window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    MMLEditor().setFocus();
    QTest::keyClick(&MMLEditor(), Qt::Key_F5, Qt::ControlModifier);
    EXPECT_TRUE(compiled());
    EXPECT_FALSE(Window->ResumeOnPlay()) << "the song plays from the cursor, not from where it was paused";
    Run(100);
    EXPECT_EQ(NotesOn(), std::vector<int>{65}) << "the text as typed: f, where the cursor is";
}

TEST_F(Transport, PlayFromTheCursorStopsAtACompileError)
{
    AssignPorts({0, -1, -1, -1});
    PlaceCursor(MMLEditor(), QStringLiteral("t120 c\nx\nd"), 3);
    Action("playFromCursorAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "未定義のコマンド( 行 : 2 )")}));
    ExpectState("stopAction", true, false, true, false, false);
    EXPECT_EQ(MMLEditor().CursorLine(), 2);

    // Nothing at or after the cursor sounds: nothing starts.
    PlaceCursor(MMLEditor(), QStringLiteral("t120 c\n\n"), 3);
    Action("playFromCursorAction").trigger();
    ExpectState("stopAction", true, false, true, false, false);
}

TEST_F(Transport, TheFollowMarkShowsTheLineOfEveryPartThatSounds)
{
    // Track 1 on port 1 ends first; track 17 on port 2 goes on alone.
    AssignPorts({0, 1, -1, -1});
    CompileText(QStringLiteral("t120 l4 c\n[17] t120 l4 d\ne\n\nf"));
    MMLEditor().moveCursor(QTextCursor::Start);
    Action("playAction").trigger();
    Run(100);
    EXPECT_EQ(MMLEditor().PlayingLine(), 0) << "off at first";

    Action("followAction").trigger();
    EXPECT_EQ(MMLEditor().PlayingLines(), (std::vector<int>{1, 2})) << "both parts, at once when switched on";
    Run(500);
    EXPECT_EQ(MMLEditor().PlayingLines(), std::vector<int>{3}) << "the part that ended is no longer marked";
    Run(500);
    EXPECT_EQ(MMLEditor().PlayingLine(), 5);
    EXPECT_EQ(MMLEditor().textCursor().position(), 0) << "the user's cursor stays";

    Action("followAction").trigger();
    EXPECT_EQ(MMLEditor().PlayingLine(), 0);
}

TEST_F(Transport, TheFollowMarkScrollsToTheMusicOnlyWhenSwitchedOn)
{
    CompileSong(QStringLiteral("t120 l4 c") + QString(QStringLiteral("\n")).repeated(200) + QStringLiteral("d"));
    MMLEditor().moveCursor(QTextCursor::Start);
    QScrollBar* scroll = MMLEditor().verticalScrollBar();
    Action("playAction").trigger();
    Run(600);
    EXPECT_EQ(scroll->value(), 0);

    Action("stopAction").trigger();
    Action("followAction").trigger();
    Action("playAction").trigger();
    Run(100);
    EXPECT_EQ(MMLEditor().PlayingLine(), 1);
    EXPECT_EQ(scroll->value(), 0);
    Run(500);
    EXPECT_EQ(MMLEditor().PlayingLine(), 201);
    EXPECT_GT(scroll->value(), 150) << "the line played is in sight";
    EXPECT_EQ(MMLEditor().textCursor().position(), 0);
}

TEST_F(Transport, TheKeysOfThePlayMenu)
{
    const std::pair<const char*, QKeySequence> keys[] = {
        {"compileAction", QKeySequence(Qt::Key_F5)},
        {"compileAndPlayAction", QKeySequence(Qt::CTRL | Qt::Key_Return)},
        {"playPauseAction", QKeySequence(Qt::Key_F6)},
        {"stopAction", QKeySequence(Qt::Key_F7)},
        {"playFromCursorAction", QKeySequence(Qt::CTRL | Qt::Key_F5)},
        {"loopAction", QKeySequence()},
        {"trackPanelAction", QKeySequence()},
    };
    const QList<QAction*> menu = Find<QMenu>("playMenu").actions();
    for (const auto& [name, key] : keys) {
        EXPECT_TRUE(menu.contains(&Action(name))) << name;
        EXPECT_EQ(Action(name).shortcut(), key) << name;
    }
    EXPECT_TRUE(Action("compileAndPlayAction").shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Enter)));

    // F6 plays, pauses and resumes; F7 stops, from the editor as the user types.
    CompileSong();
    QApplication::setActiveWindow(Window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    MMLEditor().setFocus();
    QTest::keyClick(&MMLEditor(), Qt::Key_F6);
    ExpectState("playAction", true, true, true, true, false);
    Run(600);
    QTest::keyClick(&MMLEditor(), Qt::Key_F6);
    ExpectState("pauseAction", true, false, true, false, true);
    QTest::keyClick(&MMLEditor(), Qt::Key_F6);
    ExpectState("playAction", true, true, true, true, false);
    Run(400);
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62, 64})) << "resumed, not started over";
    QTest::keyClick(&MMLEditor(), Qt::Key_F7);
    ExpectState("stopAction", true, false, true, false, false);
    EXPECT_EQ(EditorText(), Song) << "the keys type nothing";
}

TEST_F(Transport, TheSongPositionInMeasuresAndSongTime)
{
    QLabel& position = Find<QLabel>("positionLabel");
    QLabel& time = Find<QLabel>("songTimeLabel");
    EXPECT_EQ(position.text(), QStringLiteral("1:1"));
    EXPECT_EQ(time.text(), QStringLiteral("0:00.0 / 0:00.0"));
    // Sixteen quarter notes at 120, then 60 for the last four: 6 s, then 4 s.
    CompileSong(QStringLiteral("t120 l4 cccc cccc cccc t60 cccc"));
    EXPECT_EQ(position.text(), QStringLiteral("1:1"));
    EXPECT_EQ(time.text(), QStringLiteral("0:00.0 / 0:10.0")) << "the total after each compile";

    DragBarTo(1920 * 2 + 480);
    EXPECT_EQ(position.text(), QStringLiteral("3:2"));
    EXPECT_EQ(time.text(), QStringLiteral("0:04.5 / 0:10.0"));
    Run(2600);  // into the slower measure: 1.5 s at 120, then 1.1 s at 60
    EXPECT_EQ(position.text(), QStringLiteral("4:2"));
    EXPECT_EQ(time.text(), QStringLiteral("0:07.1 / 0:10.0"));
    EXPECT_EQ(Label(), QStringLiteral("00:00:02")) << "the playing time keeps its meaning";

    Action("newAction").trigger();
    EXPECT_EQ(position.text(), QStringLiteral("1:1"));
    EXPECT_EQ(time.text(), QStringLiteral("0:00.0 / 0:00.0"));
}

TEST(SongTime, Formats)
{
    const std::pair<double, const char*> cases[] = {
        {0.0, "0:00.0"}, {99.4, "0:00.0"}, {4499.9999, "0:04.5"}, {12345.0, "0:12.3"}, {59999.0, "0:59.9"},
        {225000.0, "3:45.0"}, {6000000.0, "100:00.0"}, {-5.0, "0:00.0"},
    };
    for (const auto& [ms, text] : cases) EXPECT_EQ(TMainWindow::FormatSongTime(ms), QString::fromLatin1(text)) << ms;
}

// Ctrl+Return while the music plays: the edited text takes over from the place the music has
// reached, on the devices already open.
TEST_F(Transport, CompileAndPlayWhilePlayingGoesOnWithTheNewSong)
{
    CompileSong(QStringLiteral("t120 l4 cdefgab"));
    Action("playAction").trigger();
    Run(1100);
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62, 64}));
    const QString before = Find<QLabel>("positionLabel").text();

    MMLEditor().setPlainText(QStringLiteral("t120 l4 gggabbb"));
    Action("compileAndPlayAction").trigger();
    ExpectState("playAction", true, true, true, true, false);
    EXPECT_EQ(Find<QLabel>("positionLabel").text(), before);
    Run(400);
    EXPECT_EQ(NotesOn(), std::vector<int>{69}) << "the new song's fourth note, nothing sounded twice";
    for (const auto& m : Recording.Messages()) EXPECT_NE(m.Kind, TRecordingMidiOut::TMessage::Reset) << "no reopening";
    EXPECT_EQ(Window->ElapsedMs(), 1500);

    // An error: the box as at any compile, and the song that played plays on.
    MMLEditor().setPlainText(QStringLiteral("t120 l4 cdefgab x"));
    Action("compileAndPlayAction").trigger();
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "未定義のコマンド( 行 : 1 )")}));
    EXPECT_TRUE(MessagePane().toPlainText().contains(QStringLiteral("未定義のコマンド")));
    // Play waits for text that compiles, as after any edit.
    ExpectState("playAction", false, true, true, true, false);
    Run(500);
    EXPECT_EQ(NotesOn(), std::vector<int>{71});

    // Nothing plays: Ctrl+Return in the editor compiles the text and plays it from its start.
    Action("stopAction").trigger();
    MMLEditor().setPlainText(QStringLiteral("t120 l4 e"));
    QApplication::setActiveWindow(Window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    MMLEditor().setFocus();
    QTest::keyClick(&MMLEditor(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), QStringLiteral("t120 l4 e")) << "no line end typed";
    ExpectState("playAction", true, true, true, true, false);
    Run(100);
    EXPECT_EQ(NotesOn(), std::vector<int>{64});
}

TEST_F(Transport, AMutedTrackIsNotHeardAndStaysMutedAcrossCompiles)
{
    CompileSong(QStringLiteral("[1] t120 l4 cccc\n[2] t120 l4 eeee"));
    QDockWidget& dock = Find<QDockWidget>("trackDock");
    EXPECT_FALSE(dock.isVisible()) << "hidden until asked for";
    Action("trackPanelAction").trigger();
    EXPECT_TRUE(dock.isVisible());
    auto& panel = Find<TTrackPanel>("trackPanel");
    ASSERT_EQ(panel.Tracks().size(), 2u);

    panel.SetMuted(2, true);
    Action("playAction").trigger();
    Run(600);
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 60}));
    Action("stopAction").trigger();
    Action("compileAction").trigger();
    EXPECT_TRUE(Window->Players().SilencedTracks().Contains(2));
    panel.SetMuted(2, false);
    Action("playAction").trigger();
    Run(100);
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 64}));
}

TEST_F(Transport, TheTrackPanelOpenIsRememberedForTheNextRun)
{
    Action("trackPanelAction").trigger();
    ASSERT_TRUE(Window->close());
    Window = std::make_unique<TMainWindow>(Clock);
    Window->show();
    EXPECT_TRUE(Find<QDockWidget>("trackDock").isVisible());
    EXPECT_TRUE(Action("trackPanelAction").isChecked());
}

TEST_F(Transport, TheLoopRepeatsTheSongOrTheSelectedLines)
{
    CompileSong(QStringLiteral("t120 l4 c\nd\ne\nf"));
    EXPECT_EQ(Window->Players().Loop(), std::nullopt);
    Action("loopAction").trigger();
    EXPECT_EQ(Window->Players().Loop(), (TTickRange{0, 1920}));

    // Lines chosen across a line end are looped; a selection inside one line is editing and
    // leaves the whole song. Each is taken when play starts.
    struct TCase {
        int FromLine, FromColumn, ToLine, ToColumn;  // 1-based lines
        TTickRange Loop;
    };
    const TCase cases[] = {
        {2, 0, 4, 0, {480, 1440}},  // lines 2 and 3 with their line ends (Shift+Down twice)
        {2, 1, 3, 1, {480, 1440}},  // from the end of line 2 into line 3
        {4, 1, 2, 0, {480, 1920}},  // selected upwards
        {2, 0, 2, 1, {0, 1920}},    // within one line
        {1, 1, 2, 0, {0, 480}},     // line 1 only, with its line end
    };
    for (const TCase& c : cases) {
        QTextCursor cursor(MMLEditor().document());
        cursor.setPosition(MMLEditor().document()->findBlockByNumber(c.FromLine - 1).position() + c.FromColumn);
        cursor.setPosition(MMLEditor().document()->findBlockByNumber(c.ToLine - 1).position() + c.ToColumn,
                           QTextCursor::KeepAnchor);
        MMLEditor().setTextCursor(cursor);
        Action("playAction").trigger();
        EXPECT_EQ(Window->Players().Loop(), c.Loop) << c.FromLine << ":" << c.FromColumn << "-" << c.ToLine << ":" << c.ToColumn;
        Action("stopAction").trigger();
    }

    // Lines 2 and 3 go round; the display follows the jump back.
    QTextCursor cursor(MMLEditor().document()->findBlockByNumber(1));
    cursor.setPosition(MMLEditor().document()->findBlockByNumber(3).position(), QTextCursor::KeepAnchor);
    MMLEditor().setTextCursor(cursor);
    NotesOn();
    Action("playAction").trigger();
    Run(1900);
    EXPECT_EQ(NotesOn(), (std::vector<int>{60, 62, 64, 62}));
    EXPECT_EQ(Find<QLabel>("positionLabel").text(), QStringLiteral("1:2"));
    EXPECT_EQ(Find<QSlider>("positionBar").value(), 960);

    // Other lines chosen while it goes round: the loop moves to them at once.
    cursor.setPosition(MMLEditor().document()->findBlockByNumber(2).position());
    cursor.setPosition(MMLEditor().document()->findBlockByNumber(3).position() + 1, QTextCursor::KeepAnchor);
    MMLEditor().setTextCursor(cursor);
    EXPECT_EQ(Window->Players().Loop(), (TTickRange{960, 1920}));

    Action("loopAction").trigger();
    EXPECT_EQ(Window->Players().Loop(), std::nullopt);
}

TEST(ElapsedTime, Formats)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "00:00:00"},        {999, "00:00:00"},        {1000, "00:00:01"},         {59999, "00:00:59"},
        {60000, "00:01:00"},    {3599999, "00:59:59"},    {3600000, "01:00:00"},      {86400000, "24:00:00"},
        {360000000, "100:00:00"}, {5000000000, "1388:53:20"},
    };
    for (const auto& [ms, text] : cases) EXPECT_EQ(TMainWindow::FormatElapsed(ms), QString::fromLatin1(text)) << ms;
}

}  // namespace
}  // namespace app_test
