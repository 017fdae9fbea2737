// The port dialog: which MIDI output device each of the four ports plays on, and the stored
// assignment that carries it from one run to the next.
#pragma once

#include <QDialog>
#include <array>

#include "app/PortSettings.h"

class QComboBox;
class QLabel;
class QPushButton;

class TPortDialog : public QDialog {
public:
    explicit TPortDialog(QWidget* parent = nullptr);

    // Reads the stored assignment, lists the devices of the process's MIDI service and shows the
    // assignment. Raises, after doing all that, when a stored value could not be read.
    void LoadAssignment();

    // The device number of each port, -1 for none; entry 0 is port 1. Every compile opens them.
    const TPortDevices& PortDevices() const { return portDevices_; }

protected:
    // Cancel, Esc and the frame's close control: the shown choice goes back to the assignment.
    void reject() override;
    // Every closing writes the stored assignment.
    void done(int result) override;

private:
    // OK: refuses a choice that gives one device to two ports; otherwise applies it.
    void AcceptChoice();
    void FillDeviceLists();
    void ShowAssignment();

    TPortDevices portDevices_{-1, -1, -1, -1};

    // Each widget bears its field's name as its object name; the combo boxes of ports 1 to 4 are
    // portBox1 to portBox4.
    std::array<QComboBox*, TSong::PortCount> portBoxes{};
    QLabel* channelHeading = nullptr;
    QLabel* portHeading = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
