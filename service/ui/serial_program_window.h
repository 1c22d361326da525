#pragma once
// Programs a new ten-character serial number into the radio. Every attempt
// opens and closes its own connection; closing the window reminds the
// technician to read the radio again and frees the operation lock.

#include <QFrame>
#include <QString>

#include "service/flows.h"
#include "service/ui/qt_reporter.h"

class QLabel;
class QPushButton;

namespace tolvan {

class TSerialNoEdit;

class TSerialProgramWindow : public QFrame {
    Q_OBJECT
public:
    static constexpr int kSerialChars = 10;
    static constexpr const char* kLabel = "New Radio Serial No : ";
    static constexpr const char* kButton = "Update";

    // The caller has already written 3 into the lock; the radio is not touched here.
    TSerialProgramWindow(QWidget* parent, const QString& title, int* operationLock, ConnectionFactory connection);
    ~TSerialProgramWindow() override;

    TSerialNoEdit* serialField() const { return serialField_; }
    QPushButton* updateButton() const { return updateButton_; }
    QLabel* label() const { return label_; }

    QSize sizeHint() const override;

public slots:
    void CmUpdate();
    void EvSerialNotify(int id, int code);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // One programming attempt with the field's text as typed.
    void updateSerialNumber();
    void EvDestroy();

    int* operationLock_;
    QtReporter reporter_;
    CommandFlows flows_;
    QPushButton* updateButton_;
    TSerialNoEdit* serialField_;
    QLabel* label_;
    bool destroyed_ = false;
};

}  // namespace tolvan
