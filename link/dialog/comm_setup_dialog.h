#pragma once
// "User COM Port Selection": shows the port com.ini names, offers COM 1 to
// COM 4 and writes the choice on Apply.

#include <array>

#include <QDialog>

#include "archive/file_module.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tolvan {

namespace comm_setup_texts {
inline constexpr const char* kCaption = "User COM Port Selection";
inline constexpr const char* kApply = "Apply ";
inline constexpr const char* kCancel = "Cancel";
inline constexpr const char* kFrame = "Frame1";
inline constexpr std::array<const char*, 4> kPorts = {"    COM 1", "    COM 2", "    COM 3", "    COM 4"};
inline constexpr std::array<const char*, 4> kSelected = {
    "COM Port 1 currently selected", "COM Port 2 currently selected", "COM Port 3 currently selected",
    "COM Port 4 currently selected"};
inline constexpr const char* kNotConfigured = "COM Port profile is not currently configured";
inline constexpr const char* kCannotWrite = "Could not initiate COM Port";
inline constexpr const char* kErrorCaption = "ERROR";
}  // namespace comm_setup_texts

class TCommSetupDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kResourceId = 6;
    // Template ids. The button labelled "Cancel" carries the OK id: it ends
    // the dialog as accepted, without writing anything.
    static constexpr int kIdOk = 1;
    static constexpr int kIdFirstPort = 101;
    static constexpr int kIdFrame = 105;
    static constexpr int kIdApply = 106;
    static constexpr int kIdStatus = 107;
    static constexpr int kStatusLimit = 50;

    // Reads com.ini at once: the dialog shows the port stored when it opens.
    explicit TCommSetupDialog(QWidget* parent = nullptr);

    int selectedPort() const { return selectedPort_; }
    QCheckBox* portButton(int port) const { return portButton_[static_cast<std::size_t>(port - 1)]; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLineEdit* statusField() const { return statusText_; }

    void choosePort(int port);
    void apply();

private:
    void showPort(int port);

    std::array<QCheckBox*, 4> portButton_{};
    QLineEdit* statusText_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    int selectedPort_ = 0;
    fileModule settingsFile_;
};

}  // namespace tolvan
