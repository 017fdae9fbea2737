#include "Application.h"

#include <QLibraryInfo>
#include <QMetaObject>
#include <QTranslator>
#include <new>

#include "Dialogs.h"
#include "Exception.h"
#include "MMLtoMID.h"
#include "MidiOut.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Qt's own texts (file dialogs, the standard buttons) in Japanese like the rest of the program,
    // whatever the user's locale.
    auto* translator = new QTranslator(this);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
    // Devices finish with system-exclusive buffers on threads of their own; their notices are run
    // here, on the GUI thread, as the players expect.
    SetGuiPoster([this](std::function<void()> work) {
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    });
}

TApplication::~TApplication() { SetGuiPoster(nullptr); }

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
