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
#include "app/FPORT.h"
#include "app/Fonts.h"
#include "playback/MidiOut.h"

namespace {

// The first entry of every list stands for "no device": a combo box offers the user no other way
// back to an unassigned port once a device was chosen.
constexpr int NoDeviceItems = 1;

int DeviceOfItem(int item) { return item < NoDeviceItems ? -1 : item - NoDeviceItems; }

}  // namespace

// ---- The dialog ----

TFormPort::TFormPort(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("ポートの指定"));
    setFont(JapaneseFont(FontFamily::Proportional, 12));

    auto* panel2 = new QFrame(this);
    panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* grid = new QGridLayout(panel2);
    grid->setContentsMargins(8, 8, 8, 8);
    Label1 = new QLabel(QStringLiteral("チャンネル"), panel2);
    Label6 = new QLabel(QStringLiteral("ポート"), panel2);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Label6, 0, 1);
    const QString ranges[PortCount] = {QStringLiteral("1～16"), QStringLiteral("17～32"), QStringLiteral("33～48"),
                                       QStringLiteral("49～64")};
    for (int port = 0; port < PortCount; ++port) {
        auto* label = new QLabel(ranges[port], panel2);
        QComboBox*& box = CBPort[static_cast<std::size_t>(port)];
        box = new QComboBox(panel2);
        box->setFixedWidth(200);
        label->setBuddy(box);
        box->setAccessibleName(ranges[port]);
        grid->addWidget(label, port + 1, 0);
        grid->addWidget(box, port + 1, 1);
    }

    auto* panel1 = new QFrame(this);
    panel1->setFixedHeight(41);
    auto* buttons = new QHBoxLayout(panel1);
    buttons->addStretch();
    Button1 = new QPushButton(QStringLiteral("OK"), panel1);
    Button2 = new QPushButton(QStringLiteral("キャンセル"), panel1);
    Button1->setDefault(true);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    connect(Button1, &QPushButton::clicked, this, GuardedSlot(this, &TFormPort::Button1Click));
    connect(Button2, &QPushButton::clicked, this, GuardedSlot(this, &TFormPort::Button2Click));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panel2);
    layout->addWidget(panel1);
    setFixedSize(335, 231);
}

void TFormPort::FormCreate()
{
    // The lists are filled and the assignment shown even when a stored value was damaged; the
    // error is raised only once the dialog is usable.
    std::exception_ptr unreadable;
    try {
        TPortSettings::Read(PortDevices);
    } catch (const Exception&) {
        unreadable = std::current_exception();
    }
    FillDeviceLists();
    ShowAssignment();
    if (unreadable) std::rethrow_exception(unreadable);
}

void TFormPort::FillDeviceLists()
{
    TMidiOutService& service = MidiOutService();
    QStringList names{QStringLiteral("（なし）")};
    const int count = service.DeviceCount();
    for (int id = 0; id < count; ++id) {
        // Item and device number must stay in step, so a device without a name still gets an item.
        const QString name = QString::fromStdString(service.DeviceName(id));
        names << (name.isEmpty() ? QStringLiteral("デバイス %1").arg(id) : name);
    }
    for (QComboBox* box : CBPort) {
        box->clear();
        box->addItems(names);
    }
}

void TFormPort::ShowAssignment()
{
    for (int port = 0; port < PortCount; ++port) {
        QComboBox* box = CBPort[static_cast<std::size_t>(port)];
        const int device = PortDevices[static_cast<std::size_t>(port)];
        // A device number the list does not hold shows as no selection; it stays assigned, and
        // Compile reports that it cannot be opened.
        const int item = device < 0 ? 0 : device + NoDeviceItems;
        box->setCurrentIndex(item < box->count() ? item : -1);
    }
}

void TFormPort::Button1Click()
{
    TPortDevices chosen{};
    for (int port = 0; port < PortCount; ++port) {
        chosen[static_cast<std::size_t>(port)] = DeviceOfItem(CBPort[static_cast<std::size_t>(port)]->currentIndex());
    }
    for (int a = 0; a < PortCount; ++a) {
        for (int b = a + 1; b < PortCount; ++b) {
            const int device = chosen[static_cast<std::size_t>(a)];
            if (device >= 0 && device == chosen[static_cast<std::size_t>(b)]) {
                UserDialogs().Message(nullptr, QMessageBox::Critical, QStringLiteral("Error"),
                                      QStringLiteral("同じポートは割当てられません"), QMessageBox::Ok);
                return;
            }
        }
    }
    PortDevices = chosen;
    accept();
}

void TFormPort::Button2Click() { reject(); }

void TFormPort::reject()
{
    ShowAssignment();
    QDialog::reject();
}

void TFormPort::done(int result)
{
    QDialog::done(result);
    // The dialog is closed first: a settings file that cannot be written must not keep the user
    // in the dialog.
    Guarded([this] { TPortSettings::Write(PortDevices); });
}
