// The track panel: the MML tracks the last compile made, one row each (port, channel, first
// program, notes), with a mute and a solo check per track that take effect at once.
#pragma once

#include <QColor>
#include <QWidget>
#include <vector>

#include "song/Tracks.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;

class TTrackPanel : public QWidget {
    Q_OBJECT

public:
    // The table's columns, left to right.
    enum TColumn {
        TrackColumn, PortColumn, ChannelColumn, ProgramColumn, NotesColumn, MuteColumn, SoloColumn, ColumnCount
    };

    explicit TTrackPanel(QWidget* parent = nullptr);

    // Shows the tracks of a compile. Mute and solo stay on the tracks that are still there; a track
    // that is gone loses them (a later compile that brings it back starts it heard).
    void SetTracks(const std::vector<TTrackSummary>& tracks);
    const std::vector<TTrackSummary>& Tracks() const { return tracks_; }

    TTrackSet Muted() const { return muted_; }
    TTrackSet Soloed() const { return soloed_; }
    // What the players are to keep quiet: see SilencedTracks.
    TTrackSet Silenced() const { return SilencedTracks(muted_, soloed_); }
    // A track the panel does not show is left alone.
    void SetMuted(int track, bool on);
    void SetSoloed(int track, bool on);
    // Every mute and solo off (the すべて解除 button).
    void ClearAll();

    // The colour that stands for a track wherever tracks are drawn: 16 colours, far apart, repeated
    // every 16 tracks.
    static QColor TrackColour(int track);

    // Wide enough for every column, so the dock opens showing the mute and solo checks.
    QSize sizeHint() const override;

protected:
    // The dimmed figures of the silenced tracks follow the palette.
    void changeEvent(QEvent* event) override;

signals:
    // The tracks to keep quiet, each time that set changes.
    void silencedChanged(TTrackSet silenced);

private:
    int RowOf(int track) const;
    // Adds track to a choice (mute or solo) or takes it out, and tells of the change.
    void SetChoice(TTrackSet& choice, int track, bool on);
    // Puts muted_ and soloed_ into the check cells, without taking it for the user's click.
    void ShowChecks();
    void OnItemChanged(QTableWidgetItem* item);
    // Emits silencedChanged when the set differs from the one last told.
    void Changed();

    QStackedWidget* pages_ = nullptr;
    QLabel* emptyLabel_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    std::vector<TTrackSummary> tracks_;
    TTrackSet muted_;
    TTrackSet soloed_;
    TTrackSet told_;  // the silenced set last emitted: none at first
};
