// The port dialog and the stored assignment.
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Application.h"
#include "app/Dialogs.h"
#include "song/Exception.h"
#include "app/Fonts.h"
#include "app/PortDialog.h"
#include "devices/Devices.h"
#include "playback/MidiOut.h"

namespace {

// The first entry of every list stands for "no device": a combo box offers the user no other way
// back to an unassigned port once a device was chosen.
constexpr int NoDeviceItems = 1;

int DeviceOfItem(int item) { return item < NoDeviceItems ? -1 : item - NoDeviceItems; }

// The names of the service's devices by number, as the service gives them.
QStringList DeviceNames(TMidiOutService& service)
{
    QStringList names;
    const int count = service.DeviceCount();
    for (int id = 0; id < count; ++id) names << QString::fromStdString(service.DeviceName(id));
    return names;
}

// The first start's assignment: the built-in synthesizer on every port, so that the first Play
// sounds without a visit to this dialog. A port whose device the machine lacks gets none.
TPortEntries InitialEntries(const QStringList& devices)
{
    TPortEntries entries{};
    for (int port = 0; port < TSong::PortCount; ++port) {
        const QString name = QString::fromUtf8(BuiltinSynthNames[port]);
        const auto device = static_cast<int>(devices.indexOf(name));
        if (device >= 0) entries[static_cast<std::size_t>(port)] = {device, name};
    }
    return entries;
}

}  // namespace

// ---- The dialog ----

TPortDialog::TPortDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ポートの指定"));
    setFont(JapaneseFont(FontFamily::Proportional, 12));

    // The assignment: a heading row, then one row per port with its channels and its device.
    auto* assignmentPanel = new QFrame(this);
    assignmentPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* grid = new QGridLayout(assignmentPanel);
    grid->setContentsMargins(8, 8, 8, 8);
    channelHeading = new QLabel(QStringLiteral("チャンネル"), assignmentPanel);
    channelHeading->setObjectName(QStringLiteral("channelHeading"));
    portHeading = new QLabel(QStringLiteral("ポート"), assignmentPanel);
    portHeading->setObjectName(QStringLiteral("portHeading"));
    grid->addWidget(channelHeading, 0, 0);
    grid->addWidget(portHeading, 0, 1);
    const QString ranges[TSong::PortCount] = {QStringLiteral("1～16"), QStringLiteral("17～32"), QStringLiteral("33～48"),
                                       QStringLiteral("49～64")};
    for (int port = 0; port < TSong::PortCount; ++port) {
        auto* label = new QLabel(ranges[port], assignmentPanel);
        QComboBox*& box = portBoxes[static_cast<std::size_t>(port)];
        box = new QComboBox(assignmentPanel);
        box->setObjectName(QStringLiteral("portBox%1").arg(port + 1));
        box->setFixedWidth(200);
        label->setBuddy(box);
        box->setAccessibleName(ranges[port]);
        grid->addWidget(label, port + 1, 0);
        grid->addWidget(box, port + 1, 1);
    }

    auto* buttonPanel = new QFrame(this);
    buttonPanel->setFixedHeight(41);
    auto* buttons = new QHBoxLayout(buttonPanel);
    buttons->addStretch();
    okButton = new QPushButton(QStringLiteral("OK"), buttonPanel);
    okButton->setObjectName(QStringLiteral("okButton"));
    cancelButton = new QPushButton(QStringLiteral("キャンセル"), buttonPanel);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    okButton->setDefault(true);
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    connect(okButton, &QPushButton::clicked, this, GuardedSlot(this, &TPortDialog::AcceptChoice));
    connect(cancelButton, &QPushButton::clicked, this, GuardedSlot(this, &TPortDialog::reject));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(assignmentPanel);
    layout->addWidget(buttonPanel);
    setFixedSize(335, 231);
}

void TPortDialog::LoadAssignment()
{
    // The lists are filled and the assignment shown even when a stored value was damaged; the
    // error is raised only once the dialog is usable.
    std::exception_ptr unreadable;
    bool stored = true;
    try {
        stored = TPortSettings::Read(stored_);
    } catch (const Exception&) {
        unreadable = std::current_exception();
    }
    const QStringList devices = DeviceNames(MidiOutService());
    if (!stored) {
        stored_ = InitialEntries(devices);
        // Stored as any choice is. Without any of the devices there is nothing to keep, and the
        // next start tries again.
        if (stored_ != TPortEntries{}) {
            try {
                TPortSettings::Write(stored_);
            } catch (const Exception&) {
                unreadable = std::current_exception();
            }
        }
    }
    std::array<bool, TSong::PortCount> missing{};
    portDevices_ = TPortSettings::FindDevices(stored_, devices, missing);
    for (std::size_t port = 0; port < missing.size(); ++port)
        missing_[port] = missing[port] ? stored_[port].Name : QString();
    FillDeviceLists();
    ShowAssignment();
    if (unreadable) std::rethrow_exception(unreadable);
}

void TPortDialog::FillDeviceLists()
{
    TMidiOutService& service = MidiOutService();
    QStringList names{QStringLiteral("（なし）")};
    const int count = service.DeviceCount();
    for (int id = 0; id < count; ++id) {
        // Item and device number must stay in step, so a device without a name still gets an item.
        const QString name = QString::fromStdString(service.DeviceName(id));
        names << (name.isEmpty() ? QStringLiteral("デバイス %1").arg(id) : name);
    }
    for (QComboBox* box : portBoxes) {
        box->clear();
        box->addItems(names);
    }
}

void TPortDialog::ShowAssignment()
{
    for (int port = 0; port < TSong::PortCount; ++port) {
        QComboBox* box = portBoxes[static_cast<std::size_t>(port)];
        const int device = portDevices_[static_cast<std::size_t>(port)];
        // A device number the list does not hold shows as no selection; it stays assigned, and
        // Compile reports that it cannot be opened.
        const int item = device < 0 ? 0 : device + NoDeviceItems;
        box->setCurrentIndex(item < box->count() ? item : -1);
    }
}

void TPortDialog::AcceptChoice()
{
    TPortDevices chosen{};
    for (int port = 0; port < TSong::PortCount; ++port) {
        chosen[static_cast<std::size_t>(port)] = DeviceOfItem(portBoxes[static_cast<std::size_t>(port)]->currentIndex());
    }
    for (int a = 0; a < TSong::PortCount; ++a) {
        for (int b = a + 1; b < TSong::PortCount; ++b) {
            const int device = chosen[static_cast<std::size_t>(a)];
            if (device >= 0 && device == chosen[static_cast<std::size_t>(b)]) {
                UserDialogs().Message(nullptr, QMessageBox::Critical, QStringLiteral("Error"),
                                      QStringLiteral("同じポートは割当てられません"), QMessageBox::Ok);
                return;
            }
        }
    }
    portDevices_ = chosen;
    // The user has seen the ports without their missing devices and confirmed what is shown.
    missing_ = {};
    accept();
}

void TPortDialog::reject()
{
    ShowAssignment();
    QDialog::reject();
}

void TPortDialog::done(int result)
{
    QDialog::done(result);
    // The dialog is closed first: a settings file that cannot be written must not keep the user
    // in the dialog.
    Guarded([this] {
        TMidiOutService& service = MidiOutService();
        TPortEntries entries{};
        for (std::size_t port = 0; port < entries.size(); ++port) {
            const int device = portDevices_[port];
            if (!missing_[port].isEmpty())
                entries[port] = stored_[port];
            else
                entries[port] = {device, device < 0 ? QString() : QString::fromStdString(service.DeviceName(device))};
        }
        TPortSettings::Write(entries);
        stored_ = entries;
    });
}
