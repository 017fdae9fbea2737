// What the window tests share: a script that answers every box and file dialog in place of a
// person, and a main window with its port dialog playing on a recording service and a clock the
// test moves by hand.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QObject>
#include <QPlainTextEdit>
#include <QString>
#include <deque>
#include <functional>
#include <ostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "playback/Clock.h"
#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/PortDialog.h"
#include "tests/support/RecordingMidiOut.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace app_test {

// The scratch home the test program made for itself: settings, lock file and documents go here.
QString ScratchDir();

// The child of parent of class T that bears the object name name. A missing one is raised, so
// that the test fails where it looked.
template <class T>
T& Find(const QObject& parent, const QString& name)
{
    if (T* found = parent.findChild<T*>(name)) return *found;
    throw std::logic_error("no child named " + name.toStdString());
}

// Answers from a script. A box or dialog the script did not expect fails the test and is
// answered as if the user had cancelled it.
class TScriptedDialogs : public TUserDialogs {
public:
    struct TBox {
        QMessageBox::Icon Icon;
        QString Caption;
        QString Text;
        QMessageBox::StandardButtons Buttons;
        TButtonNames Names;
    };

    std::deque<QMessageBox::StandardButton> Answers;  // one per box, in order
    std::deque<QString> OpenNames;                    // empty text: the user cancels
    std::deque<QString> SaveNames;
    std::deque<QString> FolderNames;
    // What the save dialog must offer: documents unless a test exports.
    QString SaveFilter = QStringLiteral(".QVR (RTF) (*.QVR);;MML テキスト (*.mml *.txt)");
    QString SaveSuffix = QStringLiteral("QVR");
    std::function<int(QDialog&)> OnExec;

    std::vector<TBox> Boxes;  // every box shown, in order

    QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text,
                                        QMessageBox::StandardButtons buttons, const TButtonNames& names) override;
    QString OpenFileName(QWidget*, const QString& filter) override;
    QString SaveFileName(QWidget*, const QString& filter, const QString& defaultSuffix) override;
    QString ExistingFolder(QWidget*, const QString& caption) override;
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

    // The main window's widgets and actions, found by their object names.
    template <class T>
    T& Find(const char* name) const
    {
        return app_test::Find<T>(*Window, QString::fromLatin1(name));
    }
    QAction& Action(const char* name) const { return Find<QAction>(name); }
    TMMLEditor& MMLEditor() const;
    QPlainTextEdit& MessagePane() const { return Find<QPlainTextEdit>("messagePane"); }

    // Types text into the editor as keystrokes.
    void Type(const QString& text);
    QString EditorText() const;
    // Compiles MML put into the editor by the program.
    void CompileText(const QString& mml);
    // The caption without Qt's modified mark [*], which the frame shows apart.
    QString Caption() const { return Window->windowTitle().remove(QStringLiteral("[*]")); }
    // The text of a status panel: 0 the modified state, 1 the typing mode, 2 the compile.
    QString Status(int panel) const;
    // Chooses the device of every port in the port dialog (-1: none) and confirms it with OK.
    void AssignPorts(const TPortDevices& devices);

    std::unique_ptr<TMainWindow> Window;
    std::unique_ptr<TPortDialog> PortDialog;
};

// "caption|text" for the boxes a script expects.
std::string Box(const QString& caption, const QString& text);
using Boxes = std::vector<std::string>;

// Reads a whole file as bytes; empty when it does not exist.
std::string ReadFile(const QString& path);
void WriteFile(const QString& path, const std::string& bytes);

}  // namespace app_test
