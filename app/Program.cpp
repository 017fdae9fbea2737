#include "app/Program.h"

#include <QApplication>
#include <QFileInfo>
#include <memory>

#include "app/Application.h"
#include "devices/Devices.h"
#include "app/Dialogs.h"
#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/PortDialog.h"

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

    std::unique_ptr<TDeviceCatalog> catalog;
    if (service == nullptr) {
        // Without its catalog the program still runs, with no device to choose.
        Guarded([&] { catalog = std::make_unique<TDeviceCatalog>(); });
        service = catalog.get();
    }
    SetMidiOutService(service);

    std::unique_ptr<TMainWindow> mainWindow;
    std::unique_ptr<TPortDialog> portDialog;
    const bool started = Guarded([&] {
        mainWindow = std::make_unique<TMainWindow>();
        portDialog = std::make_unique<TPortDialog>();
        mainWindow->SetPortDialog(portDialog.get());
    });
    if (started) {
        // A damaged stored assignment is reported without stopping the start.
        Guarded([&] { portDialog->LoadAssignment(); });
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
