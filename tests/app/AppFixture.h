// What the window tests share: a script that answers every box and file dialog in place of a
// person, and a main window with its port dialog playing on a recording service and a clock the
// test moves by hand.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "playback/Clock.h"
#include "app/Dialogs.h"
#include "app/FPORT.h"
#include "app/Main.h"
#include "playback/RecordingMidiOut.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace app_test {

// The scratch home the test program made for itself: settings, lock file and documents go here.
QString ScratchDir();

// Answers from a script. A box or dialog the script did not expect fails the test and is
// answered as if the user had cancelled it.
class TScriptedDialogs : public TUserDialogs {
public:
    struct TBox {
        QMessageBox::Icon Icon;
        QString Caption;
        QString Text;
        QMessageBox::StandardButtons Buttons;
    };

    std::deque<QMessageBox::StandardButton> Answers;  // one per box, in order
    std::deque<QString> OpenNames;                    // empty text: the user cancels
    std::deque<QString> SaveNames;
    // What the save dialog must offer: documents unless a test exports.
    QString SaveFilter = QStringLiteral("QVRLYファイル(*.QVR)");
    QString SaveSuffix = QStringLiteral("QVR");
    std::function<int(QDialog&)> OnExec;

    std::vector<TBox> Boxes;  // every box shown, in order

    QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    QString OpenFileName(QWidget*, const QString& filter) override;
    QString SaveFileName(QWidget*, const QString& filter, const QString& defaultSuffix) override;
    int Exec(QDialog& dialog) override;

    // The boxes shown since the last call, as "caption|text" lines; clears the record.
    std::vector<std::string> TakeBoxes();
};

// Installs the script and the recording service for one test and removes them after it; every
// test starts without stored settings.
class TScriptedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TScriptedDialogs Script;
    TDrivenClock Clock{1'000'000};
    TRecordingMidiOut Recording{Clock, 4};
};

// The program's two windows as the start-up makes them, the main window shown.
class TWindowTest : public TScriptedTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Types text into the editor as keystrokes.
    void Type(const QString& text);
    QString EditorText() const;
    // Compiles MML put into the editor by the program.
    void CompileText(const QString& mml);
    QString Caption() const { return Form->windowTitle(); }
    QString Status(int panel) const;

    std::unique_ptr<TFormMain> Form;
    std::unique_ptr<TFormPort> FormPort;
};

// "caption|text" for the boxes a script expects.
std::string Box(const QString& caption, const QString& text);
using Boxes = std::vector<std::string>;

// Reads a whole file as bytes; empty when it does not exist.
std::string ReadFile(const QString& path);
void WriteFile(const QString& path, const std::string& bytes);

}  // namespace app_test
