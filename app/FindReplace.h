// The find and replace dialog of the editor: one modeless dialog that finds, or finds and
// replaces, in the editor's text, searching forward from the cursor and wrapping round once.
#pragma once

#include <QDialog>
#include <QTextDocument>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TFindDialog : public QDialog {
public:
    TFindDialog(QPlainTextEdit& editor, QWidget* parent);

    // Shows the dialog for finding alone or for replacing too, with the editor's selection (when
    // it lies within one line) as the text to find.
    void Open(bool replace);
    // Selects the next match after the cursor, wrapping round to the start once; says so in a box
    // when there is none. Without a text to find yet the dialog opens instead.
    void FindNext();
    // Replaces the selection when it is a match, then selects the next match.
    void ReplaceOne();
    // Replaces every match in the text as one step of undo; says so when there is none. The
    // number of replacements.
    int ReplaceAll();

    // What is searched for, as the fields hold it.
    QString FindText() const;
    QString ReplaceText() const;
    bool CaseSensitive() const;

private:
    QTextDocument::FindFlags Flags() const;
    bool SelectionMatches() const;
    void ReportNotFound();

    QPlainTextEdit& editor_;
    // Each widget bears its field's name as its object name.
    QLineEdit* findField = nullptr;
    QLabel* replaceLabel = nullptr;
    QLineEdit* replaceField = nullptr;
    QCheckBox* caseBox = nullptr;
    QPushButton* findNextButton = nullptr;
    QPushButton* replaceButton = nullptr;
    QPushButton* replaceAllButton = nullptr;
    QPushButton* closeButton = nullptr;
};
