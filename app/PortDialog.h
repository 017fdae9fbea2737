// The port dialog: which MIDI output device each of the four ports plays on, and the stored
// assignment that carries it from one run to the next.
#pragma once

#include <QDialog>
#include <QString>
#include <array>

#include "app/PortSettings.h"

class QComboBox;
class QLabel;
class QPushButton;

class TPortDialog : public QDialog {
public:
    explicit TPortDialog(QWidget* parent = nullptr);

    // Reads the stored assignment, lists the devices of the process's MIDI service and shows the
    // assignment: each stored device found by its name. Without any stored assignment (the first
    // start) ports 1 to 4 get the built-in synthesizer's devices A to D, and that is stored.
    // Raises, after doing all that, when a stored value could not be read.
    void LoadAssignment();

    // The device number of each port, -1 for none; entry 0 is port 1. Every compile opens them.
    const TPortDevices& PortDevices() const { return portDevices_; }
    // For each port whose stored device was not found by its name, that name (empty for the
    // others). The port has no device until the user confirms another choice with OK.
    const std::array<QString, TSong::PortCount>& MissingDevices() const { return missing_; }

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
    // What the file held, and which named devices were not there: a closing other than OK keeps
    // those entries stored, so the device is found again at a start where it is there.
    TPortEntries stored_{};
    std::array<QString, TSong::PortCount> missing_{};

    // Each widget bears its field's name as its object name; the combo boxes of ports 1 to 4 are
    // portBox1 to portBox4.
    std::array<QComboBox*, TSong::PortCount> portBoxes{};
    QLabel* channelHeading = nullptr;
    QLabel* portHeading = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
