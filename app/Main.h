// The main window: the MML editor and its documents, Compile, the transport with its elapsed-time
// display and position bar, and the message pane.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "playback/Clock.h"
#include "app/MMLEditor.h"
#include "compiler/MMLtoMID.h"
#include "playback/Players.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QShortcut;
class QSplitter;
class QTimer;
class QToolBar;
class TFormPort;
class TTrackBarEx;

class TFormMain : public QMainWindow {
public:
    // clock is what the elapsed-time display counts with; the players keep their own.
    explicit TFormMain(TClock& clock = SystemClock(), QWidget* parent = nullptr);
    ~TFormMain() override;

    // ---- Documents ----
    void BtnNewClick();
    void BtnOpenClick();
    // Save: to FileName, or to a name the user chooses. False when nothing was written
    // (cancelled, overwrite declined, or the write failed, which is reported).
    bool BtnSaveClick();
    bool SaveAsClick();
    // The modified-state rule, run at every change of the editor's text.
    void MMLTextChange();

    // ---- Compile, ports, version ----
    // Compiles the text on a worker thread while the window stays responsive; Escape or 停止
    // cancels, leaving the previous song loaded. Returns when the compile has ended.
    void BtnCompileClick();
    // Asks a compile in progress to end; nothing happens when none runs.
    void CancelCompile();
    bool Compiling() const { return compiling_; }
    void PortClick();
    void VersionClick();

    // ---- Transport ----
    void BtnPlayClick();
    void BtnTimeClick();
    void BtnSlowClick();
    void BtnFastClick();
    void BtnStopClick();
    void BarMouseDown();
    void BarMouseUp();
    // The display refresh: elapsed time, bar position, the playing line, and the end of the song.
    void DisplayTimerTimer();
    // Plays from the first event that the text at the cursor's line (or the first line after it
    // that makes any) made, compiling first when the text changed since the last compile.
    void BtnPlayFromCursorClick();
    // The playing line follows the music while the toggle is on.
    void BtnFollowClick();

    // ---- Export ----
    // The text as it stands, compiled first when it changed, as a Standard MIDI File.
    void ExportMidiClick();
    // The same rendered through the built-in synthesizer into a WAV file, with a progress dialog
    // whose Cancel leaves no file behind.
    void ExportWavClick();

    // "hh:mm:ss" of a playing time in milliseconds; the hours grow past two digits.
    static QString FormatElapsed(std::int64_t ms);
    // The name a document is written under: the chosen path with its extension made .QVR.
    static QString DocumentFileName(const QString& chosen);

    // ---- State ----
    bool OverwriteMode = false;
    bool BarDragging = false;
    QString FileName;  // empty for a new, unnamed document
    QTimer* DisplayTimer = nullptr;
    // Milliseconds of playing time. 64 bits, so that a run of weeks cannot overflow the count.
    std::int64_t ElapsedMs = 0;
    // The four port players; the song they hold is song_'s, loaded at each compile.
    std::unique_ptr<TMidis> Players;
    bool ResumeOnPlay = false;
    // Clock time (microseconds) up to which ElapsedMs counts.
    std::uint64_t LastTick = 0;
    // The port dialog whose assignment every compile opens; none opens no device.
    TFormPort* FormPort = nullptr;

    // ---- Controls ----
    QToolBar* ToolBar1 = nullptr;
    QAction* BtnNew = nullptr;
    QAction* BtnOpen = nullptr;
    QAction* BtnSave = nullptr;
    QAction* BtnCompile = nullptr;
    QAction* BtnPlay = nullptr;
    QAction* BtnTime = nullptr;
    QAction* BtnSlow = nullptr;
    QAction* BtnFast = nullptr;
    QAction* BtnStop = nullptr;
    QAction* BtnPlayFromCursor = nullptr;
    QAction* BtnFollow = nullptr;  // checkable: show the playing line
    QActionGroup* TransportGroup = nullptr;
    QShortcut* CancelCompileShortcut = nullptr;  // Escape, only while a compile runs
    TTrackBarEx* TrackBar = nullptr;
    QLabel* LabelTime = nullptr;
    TMMLEditor* MMLText = nullptr;
    QSplitter* Splitter1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    std::array<QLabel*, 3> StatusPanels{};

    QMenu* File = nullptr;
    QMenu* MenuPlay = nullptr;  // Compile, the transport, play from the cursor, follow
    QAction* MenuNew = nullptr;
    QAction* MenuOpen = nullptr;
    QAction* MenuSave = nullptr;
    QAction* SaveAs = nullptr;
    QAction* MenuExportMidi = nullptr;
    QAction* MenuExportWav = nullptr;
    QAction* X1 = nullptr;
    QAction* Port = nullptr;
    QAction* Version = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    // The close query: unsaved text is offered for saving, and Cancel keeps the window open.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateToolBar();
    void CreateMenus();
    void CreateCentralArea();
    void CreateStatusBar();
    void FormCreate();

    // Offers to save modified text. False when the user cancelled or the save did not happen:
    // the action that asked must not go on.
    bool MaybeSave();
    // Asks for a name and saves under it; false when nothing was written.
    bool SaveWithDialog();
    // Asks before a file that exists is replaced; false when the user declined.
    bool ConfirmOverwrite(const QString& path);
    // Writes the document; a failure is reported and answers false.
    bool WriteDocument(const QString& path);
    // The only place that names the document: FileName, the caption, and a clear modified flag.
    void SetCurrentFile(const QString& path);
    // Replaces the editor's text by the program (New, Open): unmodified, and not yet compiled.
    void ReplaceText(const QString& text);
    // The editor's text with LF line ends, every character as typed (toPlainText would turn
    // no-break spaces into spaces).
    QString EditorText() const;
    // Insert toggles between insert and overwrite typing.
    void Memo1KeyDown(int key);

    // Compiles the text when it changed since the last compile (or was never compiled); false
    // when there is no compiled piece of the present text to use (a device failed or an error
    // was shown).
    bool EnsureCompiled();
    // EnsureCompiled, and a box when the piece has no events: false when there is nothing to export.
    bool PieceToExport();
    // The file an export writes to, chosen by the user; empty when cancelled or not to be replaced.
    QString ChooseExportFile(const QString& filter, const QString& suffix);

    // Enables what may not run during a compile again, or disables it.
    void SetCompiling(bool value);
    void SetSpeedFactor(double factor);
    TMidis& Midis() const { return *Players; }

    // What Play and play from the cursor do once the players run: Pause, Slow and Fast become
    // possible and the refresh starts.
    void StartRefresh();
    // Marks the line of the note the longest port sent last; RestartFollow forgets what was sent
    // before the players' present place (after a seek).
    void ShowPlayingLine();
    void RestartFollow();
    // Tells in the pane, once per opening of the ports, of each port whose device went away.
    void ReportLostDevices();

    TClock& clock_;
    bool shown_ = false;
    // The text of the last compile, when it ran to its end (a device that fails to open stops it
    // first), and whether it reported an error.
    bool compiled_ = false;
    QString compiledText_;
    bool compileFailed_ = false;
    // The song of the last compile that ran to its end: what exports write.
    TSong song_;
    // Compiles on the worker thread, one compile at a time.
    TMML compiler_;
    // A compile runs on its worker thread; a cancel was asked for; the window was asked to close
    // meanwhile, which it does once the compile has ended.
    bool compiling_ = false;
    bool cancelCompile_ = false;
    bool closeAfterCompile_ = false;
    std::array<bool, TMidis::PortCount> lostReported_{};
    // The playing line's search: the events of port followPort_ before followScanned_ have been
    // looked at, and the last note-on among them was made on line followLine_.
    int followPort_ = -1;
    int followScanned_ = 0;
    int followLine_ = 0;
};
