// Puts a long text into the editor a slice at a time. Qt's text document takes a few microseconds
// for every line it is given, so a document at the size bound (some two million lines) would hold
// the window for seconds if it went in at once. The loader shows the beginning at once, coloured
// and numbered, and adds the rest between the window's other events, so that the window keeps
// drawing and answering and the user can read from the first moment.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

class QPlainTextEdit;

class TDocumentLoader : public QObject {
public:
    // progress is called after each slice with the share loaded (0..100); done once the whole
    // text is in the editor.
    TDocumentLoader(QPlainTextEdit* editor, std::function<void(int percent)> progress, std::function<void()> done);

    // Replaces the editor's text with utf8. A text of up to FirstSliceBytes goes in at once and
    // Loading() stays false; a longer one shows its first lines now and the rest follows from the
    // event loop, each slice turned into the editor's characters only as it goes in. A load in
    // progress is dropped first.
    void Load(std::string utf8);
    // Drops what is not loaded yet; the editor keeps the lines it has.
    void Cancel();
    bool Loading() const { return position_ < rest_.size(); }

    // Sizes in bytes of UTF-8; each slice ends at a line end (or the end of the text).
    static constexpr std::size_t FirstSliceBytes = std::size_t{1} << 20;
    static constexpr std::size_t SliceBytes = std::size_t{256} << 10;

private:
    // Where a slice that should end near wanted ends: at the next line end after it, kept together
    // with a CR before it, so that a CRLF is never split into two line ends.
    std::size_t SliceEnd(std::size_t from, std::size_t wanted) const;
    void AppendSlice();
    void Finish();

    QPlainTextEdit* editor_;
    std::function<void(int)> progress_;
    std::function<void()> done_;
    std::string rest_;
    std::size_t position_ = 0;  // the first byte of rest_ not in the editor yet
    QTimer timer_;
};
