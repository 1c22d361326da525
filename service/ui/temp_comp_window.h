#pragma once
// Reads the radio's temp comp value (softpot 1) or writes a new one, in an
// MDI frame. Read mode reads while it is being constructed; whichever way
// the window goes, the operation lock is back at 0 when it is gone.

#include <QFrame>
#include <QString>

#include "service/flows.h"
#include "service/radio_operations.h"
#include "service/radio_storage.h"
#include "service/ui/qt_reporter.h"

class QLabel;
class QPushButton;

namespace tolvan {

class TSerialNoEdit;

class TTempCompWindow : public QFrame {
    Q_OBJECT
public:
    static constexpr int kTempCompChars = 8;
    static constexpr const char* kReadLabel = "Read Temp Comp  :  ";
    static constexpr const char* kWriteLabel = "Temp Comp Write :  ";
    static constexpr const char* kReadButton = "Close";
    static constexpr const char* kWriteButton = "Program";
    static constexpr const char* kHexDigits = "[A-Fa-f0-9]{0,8}";

    // The caller has already written its lock value; a failed read writes 0
    // back before the constructor returns, which the caller checks.
    TTempCompWindow(QWidget* parent, radioStorage* storage, radioOperations* operations, const QString& title,
                    bool readMode, int* operationLock, ConnectionFactory connection);
    ~TTempCompWindow() override;

    bool readMode() const { return readMode_; }
    TSerialNoEdit* valueField() const { return valueField_; }
    QPushButton* actionButton() const { return actionButton_; }
    QLabel* label() const { return label_; }

    QSize sizeHint() const override;

public slots:
    // Read mode: closes the window. Write mode: writes the field's eight digits.
    void CmActionButton();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SetupWindow();
    void EvDestroy();

    bool readMode_;
    int* operationLock_;
    QString valueText_;
    radioStorage* storage_;
    // Kept for the controller's interface; the read goes through the command flow.
    [[maybe_unused]] radioOperations* operations_;
    QtReporter reporter_;
    CommandFlows flows_;
    QPushButton* actionButton_;
    TSerialNoEdit* valueField_;
    QLabel* label_;
    bool lockReleased_ = false;
};

}  // namespace tolvan
