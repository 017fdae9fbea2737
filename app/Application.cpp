#include "app/Application.h"

#include <QLibraryInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QTranslator>
#include <new>

#include "app/Dialogs.h"
#include "song/Exception.h"
#include "compiler/Compiler.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Qt's own texts (file dialogs, the standard buttons) in Japanese like the rest of the program,
    // whatever the user's locale. They are looked for where the Qt in use keeps them, then next to
    // the program (a build folder, or a copy that carries its own), then in the data folder of the
    // prefix the program is installed in and in the system's data folders: the Qt the program
    // runs on need not be the one whose translations are installed.
    QStringList folders{QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                        applicationDirPath() + QStringLiteral("/translations"),
                        applicationDirPath() + QStringLiteral("/../share/qt6/translations")};
    folders += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("qt6/translations"),
                                         QStandardPaths::LocateDirectory);
    auto* translator = new QTranslator(this);
    for (const QString& folder : folders) {
        if (translator->load(QStringLiteral("qtbase_ja"), folder)) {
            installTranslator(translator);
            break;
        }
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}

void ReportCurrentException() noexcept
{
    QString text;
    try {
        throw;
    } catch (const Exception& e) {
        text = QString::fromStdString(e.Message());
    } catch (const std::bad_alloc&) {
        text = QString::fromUtf8(MMLMessage::OutOfMemory);
    } catch (const std::exception& e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("不明なエラーが発生しました");
    }
    // Showing the box can itself fail (no memory left); the error is then lost rather than
    // taking the program down with it.
    try {
        UserDialogs().Message(QApplication::activeWindow(), QMessageBox::Critical, ProductName, text,
                              QMessageBox::Ok);
    } catch (...) {
    }
}
