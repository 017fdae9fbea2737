// The port dialog: which MIDI output device each of the four ports plays on, and the stored
// assignment that carries it from one run to the next.
#pragma once

#include <QDialog>

#include "app/PortSettings.h"

class QComboBox;
class QLabel;
class QPushButton;

class TFormPort : public QDialog {
public:
    explicit TFormPort(QWidget* parent = nullptr);

    // Reads the stored assignment, lists the devices of the process's MIDI service and shows the
    // assignment. Raises, after doing all that, when a stored value could not be read.
    void FormCreate();

    // OK: refuses an assignment that gives one device to two ports; otherwise applies it.
    void Button1Click();
    // Cancel, Esc and the frame's close control: the shown choice goes back to PortDevices.
    void Button2Click();

    // The device number of each port, -1 for none; entry 0 is port 1. The compiler opens them.
    TPortDevices PortDevices{-1, -1, -1, -1};

    std::array<QComboBox*, PortCount> CBPort{};
    QComboBox*& CBPort1 = CBPort[0];
    QComboBox*& CBPort2 = CBPort[1];
    QComboBox*& CBPort3 = CBPort[2];
    QComboBox*& CBPort4 = CBPort[3];
    QLabel* Label1 = nullptr;
    QLabel* Label6 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

protected:
    void reject() override;
    // Every closing writes the stored assignment.
    void done(int result) override;

private:
    void FillDeviceLists();
    void ShowAssignment();
};
