// The track panel's table, its checks and the colours of the tracks.
#include "app/TrackPanel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace {

// A number as the user reads it, "-" for none.
QString NumberOrDash(int value, bool present) { return present ? QString::number(value) : QStringLiteral("-"); }

QTableWidgetItem* TextItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

QTableWidgetItem* CheckItem(const QString& toolTip, const QString& accessibleName)
{
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setToolTip(toolTip);
    item->setData(Qt::AccessibleTextRole, accessibleName);
    return item;
}

QIcon Swatch(int track)
{
    QPixmap square(12, 12);
    square.fill(TTrackPanel::TrackColour(track));
    return QIcon(square);
}

}  // namespace

TTrackPanel::TTrackPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("trackPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    pages_ = new QStackedWidget(this);
    emptyLabel_ = new QLabel(QStringLiteral("コンパイルするとトラックが表示されます"), pages_);
    emptyLabel_->setObjectName(QStringLiteral("trackPanelEmpty"));
    emptyLabel_->setAlignment(Qt::AlignCenter);
    emptyLabel_->setWordWrap(true);
    emptyLabel_->setEnabled(false);  // drawn dimmed: a hint, not content
    pages_->addWidget(emptyLabel_);

    table_ = new QTableWidget(0, ColumnCount, pages_);
    table_->setObjectName(QStringLiteral("trackTable"));
    table_->setAccessibleName(QStringLiteral("トラック"));
    table_->setHorizontalHeaderLabels({QStringLiteral("トラック"), QStringLiteral("ポート"), QStringLiteral("チャンネル"),
                                       QStringLiteral("音色"), QStringLiteral("音符数"), QStringLiteral("ミュート"),
                                       QStringLiteral("ソロ")});
    const std::array<QString, ColumnCount> headerTips = {
        QStringLiteral("MML のトラック番号"),
        QStringLiteral("トラックの最初のイベントのポート"),
        QStringLiteral("トラックが最初に使った MIDI チャンネル"),
        QStringLiteral("トラックの最初の @ で選んだ音色の番号"),
        QStringLiteral("トラックが鳴らす音符の数"),
        QStringLiteral("チェックしたトラックの音符を鳴らしません"),
        QStringLiteral("チェックしたトラックだけを鳴らします"),
    };
    for (int column = 0; column < ColumnCount; ++column)
        table_->horizontalHeaderItem(column)->setToolTip(headerTips[static_cast<std::size_t>(column)]);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);  // only the checks change; Space toggles one
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setSelectionBehavior(QAbstractItemView::SelectItems);
    table_->setTabKeyNavigation(false);  // Tab leaves the table, the arrows move inside it
    pages_->addWidget(table_);
    layout->addWidget(pages_, 1);

    clearButton_ = new QPushButton(QStringLiteral("すべて解除"), this);
    clearButton_->setObjectName(QStringLiteral("clearTracksButton"));
    clearButton_->setToolTip(QStringLiteral("すべてのトラックのミュートとソロを解除します"));
    clearButton_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(clearButton_);
    layout->addLayout(buttons);

    connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { OnItemChanged(item); });
    connect(clearButton_, &QPushButton::clicked, this, [this] { ClearAll(); });
}

QSize TTrackPanel::sizeHint() const
{
    // Every column as wide as the larger of its header and its cells, as the table lays them out.
    const QHeaderView* header = table_->horizontalHeader();
    int columns = 0;
    for (int column = 0; column < ColumnCount; ++column)
        columns += std::max(header->sectionSizeHint(column), table_->columnWidth(column));
    const int width = columns + 2 * table_->frameWidth() +
                      table_->verticalScrollBar()->sizeHint().width();
    return {width, QWidget::sizeHint().height()};
}

QColor TTrackPanel::TrackColour(int track)
{
    // Told apart at a glance on light and dark backgrounds, neighbours most of all.
    static constexpr std::array<QRgb, 16> colours = {
        0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
        0xbcbd22, 0x17becf, 0xf3c300, 0x0000c8, 0x00e68c, 0x800000, 0xff66ff, 0x3d5c00,
    };
    const int index = ((track - 1) % 16 + 16) % 16;
    return QColor::fromRgb(colours[static_cast<std::size_t>(index)]);
}

void TTrackPanel::SetTracks(const std::vector<TTrackSummary>& tracks)
{
    tracks_ = tracks;
    TTrackSet muted;
    TTrackSet soloed;
    for (const TTrackSummary& summary : tracks_) {
        if (muted_.Contains(summary.Track)) muted.Add(summary.Track);
        if (soloed_.Contains(summary.Track)) soloed.Add(summary.Track);
    }
    muted_ = muted;
    soloed_ = soloed;

    {
        const QSignalBlocker quiet(table_);
        table_->setRowCount(static_cast<int>(tracks_.size()));
        for (int row = 0; row < table_->rowCount(); ++row) {
            const TTrackSummary& summary = tracks_[static_cast<std::size_t>(row)];
            const QString name = QStringLiteral("トラック %1").arg(summary.Track);
            QTableWidgetItem* track = TextItem(QString::number(summary.Track));
            track->setIcon(Swatch(summary.Track));
            table_->setItem(row, TrackColumn, track);
            table_->setItem(row, PortColumn, TextItem(QString::number(summary.Port + 1)));
            table_->setItem(row, ChannelColumn, TextItem(NumberOrDash(summary.Channel + 1, summary.Channel >= 0)));
            // The number as the user wrote it after @, which sends it less one.
            table_->setItem(row, ProgramColumn, TextItem(NumberOrDash(summary.Program + 1, summary.Program >= 0)));
            table_->setItem(row, NotesColumn, TextItem(QString::number(summary.Notes)));
            const QString muteTip = QStringLiteral("%1 の音符を鳴らしません").arg(name);
            const QString soloTip = QStringLiteral("%1 だけを鳴らします (ほかにソロのトラックがあればそれも)").arg(name);
            table_->setItem(row, MuteColumn, CheckItem(muteTip, name + QStringLiteral(" ミュート")));
            table_->setItem(row, SoloColumn, CheckItem(soloTip, name + QStringLiteral(" ソロ")));
        }
    }
    pages_->setCurrentWidget(tracks_.empty() ? static_cast<QWidget*>(emptyLabel_) : table_);
    ShowChecks();
    Changed();
}

int TTrackPanel::RowOf(int track) const
{
    for (std::size_t row = 0; row < tracks_.size(); ++row)
        if (tracks_[row].Track == track) return static_cast<int>(row);
    return -1;
}

void TTrackPanel::SetMuted(int track, bool on) { SetChoice(muted_, track, on); }

void TTrackPanel::SetSoloed(int track, bool on) { SetChoice(soloed_, track, on); }

void TTrackPanel::SetChoice(TTrackSet& choice, int track, bool on)
{
    if (RowOf(track) < 0) return;  // only a track the panel shows can be chosen
    if (on)
        choice.Add(track);
    else
        choice.Remove(track);
    ShowChecks();
    Changed();
}

void TTrackPanel::ClearAll()
{
    muted_ = TTrackSet();
    soloed_ = TTrackSet();
    ShowChecks();
    Changed();
}

void TTrackPanel::ShowChecks()
{
    const QSignalBlocker quiet(table_);
    const TTrackSet silenced = Silenced();
    // A track kept quiet has its figures dimmed, so a solo shows at once what it leaves out.
    const QBrush dimmed = palette().brush(QPalette::Disabled, QPalette::Text);
    for (int row = 0; row < table_->rowCount(); ++row) {
        const int track = tracks_[static_cast<std::size_t>(row)].Track;
        table_->item(row, MuteColumn)->setCheckState(muted_.Contains(track) ? Qt::Checked : Qt::Unchecked);
        table_->item(row, SoloColumn)->setCheckState(soloed_.Contains(track) ? Qt::Checked : Qt::Unchecked);
        for (int column = TrackColumn; column <= NotesColumn; ++column)
            table_->item(row, column)->setForeground(silenced.Contains(track) ? dimmed : QBrush());
    }
}

void TTrackPanel::OnItemChanged(QTableWidgetItem* item)
{
    const int row = item->row();
    if (row < 0 || row >= static_cast<int>(tracks_.size())) return;
    const int column = item->column();
    if (column != MuteColumn && column != SoloColumn) return;
    const int track = tracks_[static_cast<std::size_t>(row)].Track;
    const bool on = item->checkState() == Qt::Checked;
    if (column == MuteColumn)
        SetMuted(track, on);
    else
        SetSoloed(track, on);
}

void TTrackPanel::Changed()
{
    clearButton_->setEnabled(!muted_.Empty() || !soloed_.Empty());
    const TTrackSet silenced = Silenced();
    if (silenced == told_) return;
    told_ = silenced;
    emit silencedChanged(silenced);
}

void TTrackPanel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) ShowChecks();
}
