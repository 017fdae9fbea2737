#include "Program.h"

#include <QApplication>
#include <memory>

#include "Application.h"
#include "Devices.h"
#include "Dialogs.h"
#include "FPORT.h"
#include "InstanceLock.h"
#include "Main.h"

int RunQuaverly(const std::string& lockPath, TMidiOutService* service)
{
    // Held while the program runs. A lock that cannot be made at all only costs the guard.
    TInstanceLock lock;
    if (lock.Acquire(lockPath.c_str()) == TInstanceLock::HeldElsewhere) {
        UserDialogs().Message(nullptr, QMessageBox::Critical, QStringLiteral("Error"),
                              QStringLiteral("Quaverlyは既に実行されています"), QMessageBox::Ok);
        return 0;
    }

    std::unique_ptr<TDeviceCatalog> catalog;
    if (service == nullptr) {
        // Without its catalog the program still runs, with no device to choose.
        Guarded([&] { catalog = std::make_unique<TDeviceCatalog>(); });
        service = catalog.get();
    }
    SetMidiOutService(service);

    std::unique_ptr<TFormMain> formMain;
    std::unique_ptr<TFormPort> formPort;
    const bool started = Guarded([&] {
        formMain = std::make_unique<TFormMain>();
        formPort = std::make_unique<TFormPort>();
        formMain->FormPort = formPort.get();
    });
    if (started) {
        // A damaged stored assignment is reported without stopping the start.
        Guarded([&] { formPort->FormCreate(); });
        formMain->show();
        QApplication::exec();
    }

    // The main window goes first: its players silence and close their devices while the service
    // they were opened from still exists. The port dialog goes without writing the settings.
    formMain.reset();
    formPort.reset();
    SetMidiOutService(nullptr);
    catalog.reset();
    return 0;
}
