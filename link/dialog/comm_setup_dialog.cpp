#include "link/dialog/comm_setup_dialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>

#include "link/dialog/dialog_units.h"
#include "service/ui/qt_reporter.h"

namespace tolvan {

namespace texts_ = comm_setup_texts;

TCommSetupDialog::TCommSetupDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(texts_::kCaption);
    const DialogUnits du(font());
    setFixedSize(du.x(206), du.y(132));

    // Created in template order, which is also the tab order.
    apply_ = new QPushButton(texts_::kApply, this);
    apply_->setGeometry(du.rect(10, 80, 50, 15));
    apply_->setAutoDefault(false);
    setControlId(apply_, kIdApply);

    cancel_ = new QPushButton(texts_::kCancel, this);
    cancel_->setGeometry(du.rect(75, 80, 50, 15));
    cancel_->setAutoDefault(false);
    setControlId(cancel_, kIdOk);

    statusText_ = new QLineEdit(this);
    statusText_->setGeometry(du.rect(8, 104, 192, 22));
    statusText_->setMaxLength(kStatusLimit);
    statusText_->setEnabled(false);
    setControlId(statusText_, kIdStatus);

    static constexpr int kPortWidth[4] = {160, 120, 160, 156};
    for (int i = 0; i < 4; ++i) {
        auto* box = new QCheckBox(texts_::kPorts[static_cast<std::size_t>(i)], this);
        box->setGeometry(du.rect(20, 10 + 15 * i, kPortWidth[i], 10));
        setControlId(box, kIdFirstPort + i);
        const int port = i + 1;
        connect(box, &QCheckBox::clicked, this, [this, port] { choosePort(port); });
        portButton_[static_cast<std::size_t>(i)] = box;
    }

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setGeometry(du.rect(8, 4, 188, 68));
    frame->setAccessibleName(texts_::kFrame);
    setControlId(frame, kIdFrame);
    frame->lower();

    connect(apply_, &QPushButton::clicked, this, &TCommSetupDialog::apply);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::accept);

    selectedPort_ = settingsFile_.readComPortId();
    if (selectedPort_ >= 1 && selectedPort_ <= 4) {
        showPort(selectedPort_);
    } else if (selectedPort_ == -1) {
        statusText_->setText(texts_::kNotConfigured);
    }
    // Any other number: nothing checked, nothing said, and Apply writes it back.
}

void TCommSetupDialog::showPort(int port)
{
    for (int i = 1; i <= 4; ++i)
        portButton(i)->setChecked(i == port);
    statusText_->setText(texts_::kSelected[static_cast<std::size_t>(port - 1)]);
}

void TCommSetupDialog::choosePort(int port)
{
    selectedPort_ = port;
    showPort(port);
}

void TCommSetupDialog::apply()
{
    if (!settingsFile_.writeComPortId(selectedPort_)) {
        QtReporter(this).message(texts_::kCannotWrite, texts_::kErrorCaption, MessageKind::Exclamation);
    }
    reject();
}

}  // namespace tolvan
