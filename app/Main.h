// The main window: the MML editor and its documents, Compile, the transport with its elapsed-time
// display and position bar, and the message pane.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

#include "Clock.h"
#include "MMLtoMID.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPlainTextEdit;
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
    void BtnCompileClick();
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
    // The display refresh: elapsed time, bar position, and the end of the song.
    void DisplayTimerTimer();

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
    std::unique_ptr<TMML> Compiler;
    bool ResumeOnPlay = false;
    std::uint32_t LastTick = 0;
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
    QActionGroup* TransportGroup = nullptr;
    TTrackBarEx* TrackBar = nullptr;
    QLabel* LabelTime = nullptr;
    QPlainTextEdit* MMLText = nullptr;
    QSplitter* Splitter1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    std::array<QLabel*, 3> StatusPanels{};

    QMenu* File = nullptr;
    QAction* MenuNew = nullptr;
    QAction* MenuOpen = nullptr;
    QAction* MenuSave = nullptr;
    QAction* SaveAs = nullptr;
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

    void SetSpeedFactor(double factor);
    TMidis& Midis() const { return *Compiler->Midis; }

    TClock& clock_;
    bool shown_ = false;
};
