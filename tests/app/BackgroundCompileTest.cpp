// Compiling on a worker thread: the window answers while a slow text compiles, Escape, 停止 and
// closing the window end the compile, and a cancelled compile leaves the song, the pane and the
// text as they were.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/app/AppFixture.h"

namespace app_test {
namespace {

// A few bytes whose compile runs for seconds before the size bound ends it.
const QString SlowText = QStringLiteral("|:255|:255|:255|:255 'ceg':|:|:|:|");
const QString Cancelled = QStringLiteral("コンパイルを中止しました");

class BackgroundCompile : public TWindowTest {
protected:
    // Compiles SlowText; once the compile has run for a while, checks what the window shows and
    // then ends the compile with cancel().
    void CompileSlowTextAndCancel(const std::function<void()>& cancel)
    {
        MMLEditor().setPlainText(SlowText);
        bool checked = false;
        QTimer::singleShot(800, Window.get(), [&] {
            checked = true;
            EXPECT_TRUE(Window->Compiling());
            EXPECT_EQ(Status(2), QStringLiteral("コンパイル中…"));
            // Nothing that would start another compile or play the old song can be used meanwhile.
            for (const char* name : {"compileAction", "playAction", "playFromCursorAction", "openAction", "newAction",
                                     "exportMidiAction", "exportWavAction"})
                EXPECT_FALSE(Action(name).isEnabled()) << name;
            cancel();
        });
        Action("compileAction").trigger();
        EXPECT_TRUE(checked) << "the window answered while the text compiled";
        EXPECT_FALSE(Window->Compiling());
        EXPECT_EQ(Status(2), QString());
    }

    int EventsOfPort1() const { return Window->Players().Items(0).Elements.Count(); }
};

TEST_F(BackgroundCompile, EveryWayOfCancellingKeepsThePreviousSong)
{
    const std::pair<const char*, std::function<void(TMainWindow&)>> ways[] = {
        {"Escape", [](TMainWindow& window) { QTest::keyClick(&window, Qt::Key_Escape); }},
        {"停止", [this](TMainWindow&) { Action("stopAction").trigger(); }},
    };
    for (const auto& [name, cancel] : ways) {
        QApplication::setActiveWindow(Window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
        CompileText(QStringLiteral("t150 cde"));
        ASSERT_EQ(EventsOfPort1(), 7);
        const QString pane = MessagePane().toPlainText();

        CompileSlowTextAndCancel([&] { cancel(*Window); });
        EXPECT_EQ(EventsOfPort1(), 7) << name;
        EXPECT_EQ(Window->Players().Items(0).Tempo.load(), 150) << name;
        EXPECT_EQ(EditorText(), SlowText) << name;
        EXPECT_EQ(MessagePane().toPlainText(), pane.isEmpty() ? Cancelled : pane + QLatin1Char('\n') + Cancelled) << name;
        EXPECT_TRUE(Script.TakeBoxes().empty()) << name;
        // The old song belongs to other text: it is not offered for playing.
        EXPECT_FALSE(Action("playAction").isEnabled()) << name;
        EXPECT_TRUE(Action("compileAction").isEnabled()) << name;
    }
}

TEST_F(BackgroundCompile, ClosingTheWindowEndsTheCompileAndThenCloses)
{
    MMLEditor().document()->setModified(false);
    CompileSlowTextAndCancel([&] { Window->close(); });
    EXPECT_TRUE(Window->isVisible()) << "closing waits for the compile to end";
    QTest::qWait(50);
    EXPECT_FALSE(Window->isVisible());
}

TEST_F(BackgroundCompile, ACompileThatEndsReplacesTheSongAndShowsItsError)
{
    CompileText(QStringLiteral("cde"));
    CompileText(QStringLiteral("t200 c\nx"));
    EXPECT_EQ(Script.TakeBoxes(), (Boxes{Box("Quaverly", "未定義のコマンド( 行 : 2 )")}));
    EXPECT_EQ(EventsOfPort1(), 3);
    EXPECT_EQ(Window->Players().Items(0).Tempo.load(), 200);
    EXPECT_EQ(MessagePane().toPlainText(),
              QStringLiteral("ポート 1 にはデバイスが割り当てられていません\n未定義のコマンド( 行 : 2 )"));
    EXPECT_TRUE(Action("playAction").isEnabled());
}

}  // namespace
}  // namespace app_test
