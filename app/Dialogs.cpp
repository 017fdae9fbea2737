#include "app/Dialogs.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFileDialog>

namespace {

class TQtDialogs : public TUserDialogs {
public:
    QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                        const QString& text, QMessageBox::StandardButtons buttons,
                                        const TButtonNames& names) override
    {
        QMessageBox box(icon, caption, text, buttons, parent);
        for (const TButtonName& name : names)
            if (QAbstractButton* button = box.button(name.Button)) button->setText(name.Text);
        const int result = box.exec();
        return static_cast<QMessageBox::StandardButton>(result);
    }

    QString OpenFileName(QWidget* parent, const QString& filter) override
    {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilter(filter);
        return Chosen(dialog);
    }

    QString SaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix) override
    {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        return Chosen(dialog);
    }

    QString ExistingFolder(QWidget* parent, const QString& caption) override
    {
        return QFileDialog::getExistingDirectory(parent, caption);
    }

    int Exec(QDialog& dialog) override { return dialog.exec(); }

private:
    static QString Chosen(QFileDialog& dialog)
    {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return dialog.selectedFiles().constFirst();
    }
};

TQtDialogs qtDialogs;
TUserDialogs* current = &qtDialogs;

}  // namespace

TUserDialogs& UserDialogs() { return *current; }

void SetUserDialogs(TUserDialogs* dialogs) { current = dialogs != nullptr ? dialogs : &qtDialogs; }
