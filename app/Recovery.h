// The copy of unsaved text that survives a crash. While the document has unsaved changes the
// window writes its text, at an interval, to one file in the user's state folder; a normal save
// or close removes it, so a file found at the start was left by a run that did not end normally.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "formats/Document.h"

class QTimer;

struct TRecoveredDocument {
    QString DocumentPath;  // empty for a document that was never saved
    TDocumentForm Form;
    QDateTime Written;
    QString Text;
};

class TRecovery : public QObject {
public:
    // tick runs every intervalMs; it calls Write when there is something to keep.
    TRecovery(QObject* parent, std::function<void()> tick, int intervalMs = 60000);

    // $XDG_STATE_HOME/quaverly/recovery (~/.local/state when the variable is unset).
    static QString FilePath();
    // What the recovery file holds; nothing when there is none or it cannot be read.
    static std::optional<TRecoveredDocument> Read();

    void SetInterval(int ms);
    int Interval() const;
    // Writes the copy atomically: a crash while writing leaves the previous copy. Raises
    // Exception when it cannot be written.
    void Write(const TRecoveredDocument& document);
    // Removes the copy this run wrote or took over; a copy another run left is kept until the
    // user has decided about it.
    void Remove();
    // Takes over the copy a previous run left: it is this run's to replace and remove now.
    void Adopt() { owned_ = true; }
    // Removes the copy whoever wrote it.
    static void Discard();

private:
    QTimer* timer_ = nullptr;
    bool owned_ = false;
};
