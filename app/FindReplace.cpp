// The find and replace dialog.
#include "app/FindReplace.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/Application.h"
#include "app/Dialogs.h"

TFindDialog::TFindDialog(QPlainTextEdit& editor, QWidget* parent) : QDialog(parent), editor_(editor)
{
    setObjectName(QStringLiteral("findDialog"));
    auto* grid = new QGridLayout(this);
    const auto field = [this, grid](const char* name, const QString& label, int row, QLabel** labelOut) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        auto* caption = new QLabel(label, this);
        caption->setBuddy(edit);
        edit->setAccessibleName(QString(label).remove(QStringLiteral("(&N)")).remove(QStringLiteral("(&P)")));
        grid->addWidget(caption, row, 0);
        grid->addWidget(edit, row, 1);
        if (labelOut != nullptr) *labelOut = caption;
        return edit;
    };
    findField = field("findField", QStringLiteral("検索する文字列(&N):"), 0, nullptr);
    replaceField = field("replaceField", QStringLiteral("置換後の文字列(&P):"), 1, &replaceLabel);
    caseBox = new QCheckBox(QStringLiteral("大文字と小文字を区別する(&C)"), this);
    caseBox->setObjectName(QStringLiteral("caseBox"));
    grid->addWidget(caseBox, 2, 0, 1, 2);

    auto* buttons = new QVBoxLayout;
    const auto button = [this, buttons](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    findNextButton = button("findNextButton", QStringLiteral("次を検索(&F)"));
    findNextButton->setDefault(true);
    replaceButton = button("replaceButton", QStringLiteral("置換(&R)"));
    replaceAllButton = button("replaceAllButton", QStringLiteral("すべて置換(&A)"));
    closeButton = button("closeButton", QStringLiteral("閉じる"));
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 4, 1);

    connect(findNextButton, &QPushButton::clicked, this, GuardedSlot(this, &TFindDialog::FindNext));
    connect(replaceButton, &QPushButton::clicked, this, GuardedSlot(this, &TFindDialog::ReplaceOne));
    connect(replaceAllButton, &QPushButton::clicked, this, GuardedSlot(this, &TFindDialog::ReplaceAll));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    const auto enable = [this] {
        const bool any = !findField->text().isEmpty();
        for (QPushButton* b : {findNextButton, replaceButton, replaceAllButton}) b->setEnabled(any);
    };
    connect(findField, &QLineEdit::textChanged, this, enable);
    enable();
}

QString TFindDialog::FindText() const { return findField->text(); }
QString TFindDialog::ReplaceText() const { return replaceField->text(); }
bool TFindDialog::CaseSensitive() const { return caseBox->isChecked(); }

void TFindDialog::Open(bool replace)
{
    setWindowTitle(replace ? QStringLiteral("置換") : QStringLiteral("検索"));
    for (QWidget* w : std::initializer_list<QWidget*>{replaceLabel, replaceField, replaceButton, replaceAllButton})
        w->setVisible(replace);
    // A selection within one line is what the user most likely wants to find.
    const QTextCursor cursor = editor_.textCursor();
    if (cursor.hasSelection() && !cursor.selectedText().contains(QChar::ParagraphSeparator))
        findField->setText(cursor.selectedText());
    show();
    raise();
    activateWindow();
    findField->setFocus(Qt::OtherFocusReason);
    findField->selectAll();
}

QTextDocument::FindFlags TFindDialog::Flags() const
{
    return CaseSensitive() ? QTextDocument::FindCaseSensitively : QTextDocument::FindFlags();
}

bool TFindDialog::SelectionMatches() const
{
    const QTextCursor cursor = editor_.textCursor();
    return cursor.hasSelection() &&
           cursor.selectedText().compare(FindText(), CaseSensitive() ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0;
}

void TFindDialog::ReportNotFound()
{
    UserDialogs().Message(isVisible() ? static_cast<QWidget*>(this) : parentWidget(), QMessageBox::Information,
                          ProductName, QStringLiteral("「%1」が見つかりません").arg(FindText()), QMessageBox::Ok);
}

void TFindDialog::FindNext()
{
    if (FindText().isEmpty()) {
        Open(replaceField->isVisible());
        return;
    }
    QTextDocument* document = editor_.document();
    QTextCursor found = document->find(FindText(), editor_.textCursor(), Flags());
    if (found.isNull()) found = document->find(FindText(), 0, Flags());  // once round from the start
    if (found.isNull()) {
        ReportNotFound();
        return;
    }
    editor_.setTextCursor(found);
    editor_.ensureCursorVisible();
}

void TFindDialog::ReplaceOne()
{
    if (FindText().isEmpty()) return;
    // A text that may not be typed into (a document still loading) is not replaced into either.
    if (SelectionMatches() && !editor_.isReadOnly()) editor_.textCursor().insertText(ReplaceText());
    FindNext();
}

int TFindDialog::ReplaceAll()
{
    if (FindText().isEmpty() || editor_.isReadOnly()) return 0;
    QTextDocument* document = editor_.document();
    // One edit block: a single undo takes every replacement back.
    QTextCursor edit(document);
    int count = 0;
    QTextCursor found = document->find(FindText(), 0, Flags());
    while (!found.isNull()) {
        if (count == 0) edit.beginEditBlock();
        edit.setPosition(found.selectionStart());
        edit.setPosition(found.selectionEnd(), QTextCursor::KeepAnchor);
        edit.insertText(ReplaceText());
        ++count;
        // On from the end of the replacement, so that a replacement holding the text to find
        // is not replaced again.
        found = document->find(FindText(), edit.position(), Flags());
    }
    if (count == 0) {
        ReportNotFound();
        return 0;
    }
    edit.endEditBlock();
    editor_.setTextCursor(edit);
    return count;
}
