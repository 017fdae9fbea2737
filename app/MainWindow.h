// The main window: the MML editor and its documents, Compile, the transport with its elapsed-time
// display and position bar, and the message pane.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "playback/Clock.h"
#include "formats/Document.h"
#include "app/MMLEditor.h"
#include "compiler/Compiler.h"
#include "playback/Players.h"
#include "song/Tracks.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QShortcut;
class QSplitter;
class QTimer;
class QToolBar;
class TFindDialog;
class TPortDialog;
class TPositionBar;
class TRecovery;
class TDocumentLoader;
class TTrackPanel;
struct TRenderResult;

class TMainWindow : public QMainWindow {
public:
    // clock is what the elapsed-time display and the players count with.
    explicit TMainWindow(TClock& clock = SystemClock(), QWidget* parent = nullptr);
    ~TMainWindow() override;

    // The port dialog whose assignment every compile opens; without one no device opens.
    void SetPortDialog(TPortDialog* dialog) { portDialog_ = dialog; }

    // ---- Documents ----
    // Save: to the document's file, or to a name the user chooses. False when nothing was written
    // (cancelled, overwrite declined, or the write failed, which is reported).
    bool Save();
    bool SaveAs();
    // The file the document was opened from or last saved to; empty for a new, unnamed document.
    const QString& FileName() const { return fileName_; }
    // How the document's file holds its text, which a save keeps: RTF for a new document.
    const TDocumentForm& DocumentForm() const { return documentForm_; }
    // Opens a file in place of the document, after offering to save that (a file named on the
    // command line, dropped on the window, or chosen from the recent files). False when the
    // file did not open; a file that cannot be read is reported.
    bool OpenFile(const QString& path);
    // Offers the text that a run ended by a crash left in the recovery file, naming its document
    // and the time it was written. Run once, when the window is shown.
    void OfferRecovery();
    // A long document goes into the editor a slice at a time after its beginning is shown; until
    // the last slice is in, the text cannot be edited, compiled or saved.
    bool LoadingDocument() const;
    // The periodic copy of unsaved text; its interval can be shortened (tests).
    TRecovery& Recovery() const { return *recovery_; }

    // ---- Compile and the transport as the user meets them ----
    // A compile runs on its worker thread.
    bool Compiling() const { return compiling_; }
    // The four port players: what the compiled song sounds on.
    const TMidis& Players() const { return *players_; }
    // Milliseconds of playing time, which the elapsed-time display shows.
    std::int64_t ElapsedMs() const { return elapsedMs_; }
    // Play goes on from where the song was paused, slowed or sped up, rather than starting over.
    bool ResumeOnPlay() const { return resumeOnPlay_; }
    // The display refresh, which the display timer runs every 100 ms while a song plays: elapsed
    // time, bar position, the playing line, and the end of the song. Public so that a clock that
    // is moved by hand can run it at its own pace.
    void RefreshDisplay();

    // "hh:mm:ss" of a playing time in milliseconds; the hours grow past two digits.
    static QString FormatElapsed(std::int64_t ms);
    // "m:ss.s" of a song time in milliseconds, tenths cut rather than rounded, so the position
    // never reads past the total; the minutes grow past two digits.
    static QString FormatSongTime(double ms);
    // The name a document is written under: the chosen path with its extension made .QVR.
    static QString DocumentFileName(const QString& chosen);

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
    // The track panel in a dock at the editor's right, and the play menu's item that shows it.
    void CreateTrackDock();

    // ---- Document commands ----
    void New();
    void Open();
    // The modified-state rule, run at every change of the editor's text.
    void ApplyModifiedState();
    // Insert toggles between insert and overwrite typing.
    void ToggleOverwrite();
    // Offers to save modified text. False when the user cancelled or the save did not happen:
    // the action that asked must not go on.
    bool MaybeSave();
    // Asks for a name and saves under it; false when nothing was written.
    bool SaveWithDialog();
    // Asks before a file that exists is replaced; false when the user declined.
    bool ConfirmOverwrite(const QString& path);
    // Writes the document in the given form, which becomes the document's; a failure is reported
    // and answers false. Text that Shift-JIS cannot hold asks to be written as UTF-8.
    bool WriteDocument(const QString& path, TDocumentForm form);
    // The only place that names the document: fileName_, the caption, and a clear modified flag.
    void SetCurrentFile(const QString& path);
    // Replaces the editor's text by the program (New, Open) with UTF-8: unmodified, and not yet
    // compiled. A long text loads on from the event loop (LoadingDocument).
    void ReplaceText(std::string utf8);
    // Disables what would read or change the whole text while a long document is still loading
    // (compile, play, save, export, replace, typing), or enables it again.
    void SetLoading(bool value);
    // 読み込み中… with the share of a long document loaded so far, in the compile panel.
    void ShowLoadProgress(int percent);
    // The editor's text with LF line ends, every character as typed (toPlainText would turn
    // no-break spaces into spaces).
    QString EditorText() const;

    // ---- Compile, ports, version ----
    // Compiles the text on a worker thread while the window stays responsive; Escape or 停止
    // cancels, leaving the previous song loaded. Returns when the compile has ended.
    void Compile() { RunCompile(false); }
    enum class TCompileOutcome {
        NotRun,     // another compile was running
        Cancelled,  // nothing changed
        Failed,     // an error was shown (without keepPlaying, what came before it is loaded)
        Loaded,     // the new song is loaded, the transport stopped at its start
        Continued,  // the new song took over the music where it was
    };
    // The compile itself. With keepPlaying, music that plays (or is paused) goes on meanwhile and
    // then continues with the new song from the same song position; an error or a cancel leaves
    // the old song playing. Without, the players stop first, as Compile always did.
    TCompileOutcome RunCompile(bool keepPlaying);
    // What a compile tells: its lines, the ports without devices and its error in the pane, and an
    // error also in a box, with the cursor put on its line.
    void ShowCompileReport(const TSong& song);
    // Compile, then play from the start; while the music plays, the new song takes over from the
    // place the music has reached.
    void CompileAndPlay();
    // What every compile that ran to its end sets up for its song: the song clock and total, the
    // track panel with its mute and solo, and the loop.
    void PrepareSong();
    // Asks a compile in progress to end; nothing happens when none runs.
    void CancelCompile();
    // Enables what may not run during a compile again, or disables it.
    void SetCompiling(bool value);
    // Compiles the text when it changed since the last compile (or was never compiled); false
    // when there is no compiled piece of the present text to use (a device failed or an error
    // was shown).
    bool EnsureCompiled();
    void OpenPortDialog();
    void ShowVersion();

    // ---- Transport ----
    void Play();
    // The players keep their place, so that the next Play continues from there.
    void Pause();
    // One key for both: Pause while the music plays, Play (resuming) otherwise.
    void PlayPause();
    // The music runs: Play, Slow or Fast is pressed and the refresh follows it.
    bool Playing() const;
    void Slow();
    void Fast();
    void Stop();
    // Stop without cancelling a compile: the end of the song, which may come while a compile for
    // compile-and-play runs.
    void StopPlayers();
    // Plays from the first event that the text at the cursor's line (or the first line after it
    // that makes any) made, compiling first when the text changed since the last compile.
    void PlayFromCursor();
    // Shows the playing line, following the music, while the toggle is on, and clears it when off.
    void ApplyFollow();
    // A press on the position bar holds the display; the release seeks to where the bar was left.
    void BeginSeek();
    void EndSeek();
    void SetSpeedFactor(double factor);
    TMidis& Midis() const { return *players_; }
    // What Play and play from the cursor do once the players run: Pause, Slow and Fast become
    // possible and the refresh starts.
    void StartRefresh();
    // Marks the line of the last note of every track that has a note sounding; RestartFollow
    // forgets what was sent before the players' present place (after a seek, a loop's restart or
    // a new song taking over).
    void ShowPlayingLines();
    void RestartFollow();
    // The song position (measure:beat) and the song time with the song's total.
    void ShowSongPosition(double tick);
    // The loop's range as the players are to repeat it: the selected lines' span or the whole
    // song; nothing when the loop is off or the song is empty.
    std::optional<TTickRange> LoopRange() const;
    void ApplyLoop();
    // While the loop plays, a selection of other lines moves it to their span.
    void FollowSelectionWithLoop();
    // The tracks the panel silences go to the players.
    void ApplySilencedTracks(const TTrackSet& silenced);
    // Tells in the pane, once per opening of the ports, of each port whose device went away.
    void ReportLostDevices();

    // ---- The document's surroundings (DocumentSession.cpp) ----
    // The recent-files menu, opening a dropped file, the recovery copy and the stored window size.
    void CreateSession();
    // Reads a file into the editor as the document (Open, OpenFile); raises when it cannot.
    void ReadAndShow(const QString& path);
    // What belonged to the previous document goes: the pane's lines, the elapsed time, the
    // position bar, the playing and error lines, and the compiled song.
    void ClearSession();
    void RememberRecentFile(const QString& path);
    void FillRecentMenu();
    // The window's size and place, the splitter and the editor's font size, kept for the next run.
    void StoreWindowState() const;
    void RestoreWindowState();
    // Writes the recovery copy when the text changed since the last one.
    void WriteRecovery();

    // ---- Editing comforts (EditMenu.cpp) ----
    // The edit menu and its actions, the cursor panel, the modified mark in the caption, the pane
    // lines that lead to their line and the tool bar icons' contrast.
    void CreateEditing();
    void ShowCursorPosition();
    // Moves the cursor to the line a pane line names ("( 行 : 12 )"); false when it names none.
    bool GoToPaneLine(const QString& paneLine);
    void AskLineToGoTo();
    // Asks for the tab width and stores it.
    void AskTabWidth();
    void AdaptToolIcons();
    // Tells in the pane, at each compile, of every port whose stored device was not found and of
    // every port that has events but no device.
    void ReportUnassignedPorts(const TSong& song);

    // ---- Export ----
    // The text as it stands, compiled first when it changed, as a Standard MIDI File.
    void ExportMidi();
    // The same rendered through the built-in synthesizer into a WAV file, with a progress dialog
    // whose Cancel leaves no file behind.
    void ExportWav();
    // The same once for each track that plays notes, into a folder the user chooses.
    void ExportStems();
    // Runs render on a worker thread under a window-modal progress dialog with the given text,
    // whose Cancel asks the rendering to stop.
    TRenderResult RenderWithProgress(const QString& text,
                                     const std::function<TRenderResult(const std::function<bool(double)>&)>& render);
    // EnsureCompiled, and a box when the piece has no events: false when there is nothing to export.
    bool PieceToExport();
    // The file an export writes to, chosen by the user; empty when cancelled or not to be replaced.
    QString ChooseExportFile(const QString& filter, const QString& suffix);

    // ---- Widgets and actions ----
    // Each bears its field's name as its object name, which is how the tests find it. A command
    // that is both in a menu and on the tool bar is one action in both places.
    QToolBar* toolBar = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* playMenu = nullptr;  // Compile, the transport, play from the cursor, follow
    QAction* newAction = nullptr;
    QAction* openAction = nullptr;
    QAction* saveAction = nullptr;
    QAction* saveAsAction = nullptr;
    QAction* exportMidiAction = nullptr;
    QAction* exportWavAction = nullptr;
    QAction* exportStemsAction = nullptr;
    QAction* exitAction = nullptr;
    QAction* compileAction = nullptr;
    QAction* playAction = nullptr;
    QAction* pauseAction = nullptr;
    QAction* slowAction = nullptr;
    QAction* fastAction = nullptr;
    QAction* stopAction = nullptr;
    QAction* playPauseAction = nullptr;       // F6: Pause while playing, Play otherwise
    QAction* compileAndPlayAction = nullptr;  // Ctrl+Return
    QAction* playFromCursorAction = nullptr;
    QAction* followAction = nullptr;  // checkable: show the playing lines
    QAction* loopAction = nullptr;    // checkable: repeat the song or the selected lines
    QAction* trackPanelAction = nullptr;  // checkable: show the track dock
    QAction* portAction = nullptr;
    QAction* versionAction = nullptr;
    QMenu* editMenu = nullptr;
    QAction* undoAction = nullptr;
    QAction* redoAction = nullptr;
    QAction* cutAction = nullptr;
    QAction* copyAction = nullptr;
    QAction* pasteAction = nullptr;
    QAction* selectAllAction = nullptr;
    QAction* findAction = nullptr;
    QAction* replaceAction = nullptr;
    QAction* findNextAction = nullptr;
    QAction* goToLineAction = nullptr;
    QAction* zoomInAction = nullptr;
    QAction* zoomOutAction = nullptr;
    QAction* zoomResetAction = nullptr;
    QAction* tabWidthAction = nullptr;
    TFindDialog* findDialog = nullptr;
    QLabel* cursorPanel = nullptr;  // the cursor's line and column
    // Each tool bar action with the style's icon, which a dark palette shows lightened.
    std::vector<std::pair<QAction*, QIcon>> toolIcons_;
    QActionGroup* transportGroup = nullptr;
    QShortcut* cancelCompileShortcut = nullptr;  // Escape, only while a compile runs
    // The tool bar's Save button, which is disabled once the text is saved (see ApplyModifiedState).
    QWidget* saveButton = nullptr;
    TPositionBar* positionBar = nullptr;
    QLabel* timeLabel = nullptr;
    QLabel* positionLabel = nullptr;  // measure:beat of the song position
    QLabel* songTimeLabel = nullptr;  // song time / the song's length
    QDockWidget* trackDock = nullptr;
    TTrackPanel* trackPanel = nullptr;
    QSplitter* splitter = nullptr;
    TMMLEditor* editor = nullptr;
    QPlainTextEdit* messagePane = nullptr;
    QLabel* modifiedPanel = nullptr;    // 変更有り while the text has unsaved changes
    QLabel* typingModePanel = nullptr;  // 挿入 or 上書き
    QLabel* compilePanel = nullptr;     // コンパイル中… while a long compile runs, 読み込み中… n% while a long document loads
    // Drives the display refresh.
    QTimer* displayTimer = nullptr;

    // ---- State ----
    TClock& clock_;
    // The four port players; the song they hold is song_'s, loaded at each compile.
    std::unique_ptr<TMidis> players_;
    // The port dialog whose assignment every compile opens; none opens no device.
    TPortDialog* portDialog_ = nullptr;
    QString fileName_;  // empty for a new, unnamed document
    TDocumentForm documentForm_;
    QMenu* recentMenu = nullptr;  // 最近使ったファイル
    TRecovery* recovery_ = nullptr;
    TDocumentLoader* loader_ = nullptr;
    int recoveredRevision_ = -1;  // the text revision the recovery copy holds
    bool overwriteMode_ = false;
    bool shown_ = false;
    bool barDragging_ = false;
    bool resumeOnPlay_ = false;
    // Milliseconds of playing time. 64 bits, so that a run of weeks cannot overflow the count.
    std::int64_t elapsedMs_ = 0;
    // Clock time (microseconds) up to which elapsedMs_ counts.
    std::uint64_t lastTick_ = 0;
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
    // The devices the ports were opened with at the last compile: a compile that keeps the music
    // playing reopens nothing while they are the ones assigned.
    std::optional<std::array<int, TMidis::PortCount>> openedDevices_;
    // The playing lines' search over what the players sent, and the loop restarts it has seen.
    TSoundingTracks sounding_;
    int loopRestartsSeen_ = 0;
    // Song time by tick for the song loaded, measured on its longest port.
    TSongClock songClock_;
};
