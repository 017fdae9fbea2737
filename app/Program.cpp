#include "app/Program.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "app/Application.h"
#include "devices/Devices.h"
#include "app/Dialogs.h"
#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/PortDialog.h"

namespace {

// Runs action at the turn of the event loop that follows the window's first paint, the moment the
// user first sees the window: what that sight does not need waits until then rather than holding it
// back. Nothing runs when the window goes before it was ever painted.
void AfterFirstPaint(QWidget& window, std::function<void()> action)
{
    class TWatch : public QObject {
    public:
        TWatch(QWidget& watched, std::function<void()> then) : QObject(&watched), then_(std::move(then))
        {
            watched.installEventFilter(this);
        }
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && then_) {
                watched->removeEventFilter(this);
                // The window's other widgets are painted and the whole sent to the screen first.
                QTimer::singleShot(0, this, [this] {
                    Guarded(std::exchange(then_, nullptr));
                    deleteLater();
                });
            }
            return QObject::eventFilter(watched, event);
        }

    private:
        std::function<void()> then_;
    };
    new TWatch(window, std::move(action));
}

}  // namespace

int RunQuaverly(const std::string& lockPath, TMidiOutService* service, const QString& document)
{
    // Held while the program runs. A lock that cannot be made at all only costs the guard.
    TInstanceLock lock;
    const TInstanceLock::TResult locked = lock.Acquire(lockPath.c_str());
    if (locked == TInstanceLock::HeldElsewhere) {
        UserDialogs().Message(nullptr, QMessageBox::Critical, QStringLiteral("Error"),
                              QStringLiteral("Quaverlyは既に実行されています"), QMessageBox::Ok);
        return 0;
    }
    if (locked == TInstanceLock::UnsafeFolder) {
        // A lock there could be anyone's; the user is told why the guard is missing.
        const QString folder = QFileInfo(QString::fromStdString(lockPath)).path();
        UserDialogs().Message(nullptr, QMessageBox::Warning, QStringLiteral("Quaverly"),
                              QStringLiteral("二重起動を確かめるフォルダーが自分だけのものではないため、確かめずに起動します: %1")
                                  .arg(folder),
                              QMessageBox::Ok);
    }

    // The machine's outputs are listed on a thread of their own while the windows are made, so
    // that asking ALSA and JACK for their ports adds nothing to the time the window takes to show.
    // The windows do not use the service before the port dialog reads its assignment.
    std::unique_ptr<TDeviceCatalog> catalog;
    std::exception_ptr catalogError;
    std::jthread listing;
    if (service == nullptr) {
        // The catalog tells JACK through the environment never to start a server of its own. It is
        // set here, before the thread starts: changing the environment while this thread reads it
        // (the fonts, the window system) is not safe, and the catalog then finds it set already.
        setenv("JACK_NO_START_SERVER", "1", 0);
        listing = std::jthread([&catalog, &catalogError] {
            try {
                catalog = std::make_unique<TDeviceCatalog>(/*preloadSynth=*/false);
            } catch (...) {
                catalogError = std::current_exception();
            }
        });
    }

    std::unique_ptr<TMainWindow> mainWindow;
    std::unique_ptr<TPortDialog> portDialog;
    const bool started = Guarded([&] {
        mainWindow = std::make_unique<TMainWindow>();
        portDialog = std::make_unique<TPortDialog>();
        mainWindow->SetPortDialog(portDialog.get());
    });
    if (listing.joinable()) {
        listing.join();
        // Without its catalog the program still runs, with no device to choose.
        if (catalogError) Guarded([&] { std::rethrow_exception(catalogError); });
        service = catalog.get();
    }
    SetMidiOutService(service);
    if (started) {
        // A damaged stored assignment is reported without stopping the start.
        Guarded([&] { portDialog->LoadAssignment(); });
        // The built-in synthesizer's soundfont is large, and reading it would compete with the
        // window's start for the machine: it starts loading once the window is in sight, long
        // before anyone can have written a piece and asked to hear it.
        if (catalog != nullptr) AfterFirstPaint(*mainWindow, [&catalog] { catalog->PreloadSynth(); });
        mainWindow->show();
        // Text a crash left behind is offered before anything else replaces the document.
        Guarded([&] { mainWindow->OfferRecovery(); });
        if (!document.isEmpty()) mainWindow->OpenFile(document);
        QApplication::exec();
    }

    // The main window goes first: its players silence and close their devices while the service
    // they were opened from still exists. The port dialog goes without writing the settings.
    mainWindow.reset();
    portDialog.reset();
    SetMidiOutService(nullptr);
    catalog.reset();
    return 0;
}
