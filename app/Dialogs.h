// Every modal box and file dialog the program shows goes through one object. The program installs
// the one that shows Qt's boxes; the tests install a script that answers them, so nothing modal
// ever waits for a person.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// A button of a box that bears the program's own name for what it does rather than the standard
// text (復元 rather than はい).
struct TButtonName {
    QMessageBox::StandardButton Button;
    QString Text;
};
using TButtonNames = QList<TButtonName>;

class TUserDialogs {
public:
    virtual ~TUserDialogs() = default;

    // A message box with the given icon, caption, text and buttons; returns the button chosen.
    // Closing the box without choosing answers the box's escape button (Cancel, No or OK). Buttons
    // in names bear the names given there.
    virtual QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                                const QString& text, QMessageBox::StandardButtons buttons,
                                                const TButtonNames& names = {}) = 0;
    // The chosen file's full path, or an empty text when the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& filter) = 0;
    // As OpenFileName; a name typed without extension gets defaultSuffix. The dialog never asks
    // about overwriting: the program asks itself, about the name it will really write.
    virtual QString SaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) = 0;
    // An existing folder's full path, or an empty text when the user cancelled. Dialogs that offer
    // no folder choice answer as cancelled.
    virtual QString ExistingFolder(QWidget* parent, const QString& caption)
    {
        (void)parent;
        (void)caption;
        return {};
    }
    // Shows a dialog of the program modally and returns its result.
    virtual int Exec(QDialog& dialog) = 0;
};

// The dialogs in use: Qt's own until SetUserDialogs installs others.
TUserDialogs& UserDialogs();
// nullptr restores Qt's own. The caller keeps ownership.
void SetUserDialogs(TUserDialogs* dialogs);

// The caption of every box that is not about a document: the product's name.
inline const QString ProductName = QStringLiteral("Quaverly");
