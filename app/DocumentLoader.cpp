// Loading a long document slice by slice.
#include "app/DocumentLoader.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <utility>

TDocumentLoader::TDocumentLoader(QPlainTextEdit* editor, std::function<void(int)> progress, std::function<void()> done)
    : QObject(editor), editor_(editor), progress_(std::move(progress)), done_(std::move(done))
{
    // A zero interval: the next slice goes in as soon as the window has nothing else to do.
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] { AppendSlice(); });
}

std::size_t TDocumentLoader::SliceEnd(std::size_t from, std::size_t wanted) const
{
    // A byte of LF is never part of a longer character, so any line end is a safe place to cut.
    if (wanted >= rest_.size()) return rest_.size();
    std::size_t end = rest_.find('\n', std::max(from + 1, wanted));
    if (end == std::string::npos) return rest_.size();
    if (end > from + 1 && rest_[end - 1] == '\r') --end;
    return end;
}

void TDocumentLoader::Load(std::string utf8)
{
    Cancel();
    rest_ = std::move(utf8);
    const std::size_t first = SliceEnd(0, FirstSliceBytes);
    editor_->setPlainText(QString::fromUtf8(rest_.data(), static_cast<qsizetype>(first)));
    if (first == rest_.size()) {
        rest_.clear();
        return;
    }
    position_ = first;
    // Lines added by the program are no edit the user could undo, and keeping them for undo
    // would hold the text twice.
    editor_->document()->setUndoRedoEnabled(false);
    editor_->setReadOnly(true);
    timer_.start();
}

void TDocumentLoader::AppendSlice()
{
    if (!Loading()) return;
    const std::size_t end = SliceEnd(position_, position_ + SliceBytes);
    QTextCursor cursor(editor_->document());
    cursor.movePosition(QTextCursor::End);
    // Every slice but the first starts with the line end that closes the line before it.
    cursor.insertText(QString::fromUtf8(rest_.data() + position_, static_cast<qsizetype>(end - position_)));
    position_ = end;
    // Without undo, any change marks the document modified; what was read is not.
    editor_->document()->setModified(false);
    if (Loading()) {
        progress_(static_cast<int>(position_ * 100 / rest_.size()));
    } else {
        Finish();
        done_();
    }
}

void TDocumentLoader::Cancel()
{
    if (!Loading()) return;
    Finish();
}

void TDocumentLoader::Finish()
{
    timer_.stop();
    rest_ = std::string();  // its memory too: a long document's bytes are not kept
    position_ = 0;
    editor_->setReadOnly(false);
    editor_->document()->setUndoRedoEnabled(true);
    editor_->document()->setModified(false);
}
