#include "shell/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "link/dialog/dialog_units.h"
#include "shell/version.h"

namespace tolvan {

TTolvan_ideAboutDlg::TTolvan_ideAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setWindowTitle(version::kAboutTitle);
    const DialogUnits du(font());
    setFixedSize(du.x(204), du.y(65));

    struct Field {
        int id;
        const char* text;
        Qt::Alignment alignment;
        QRect rect;
    };
    // Template order; the name line sits above the version line all the same.
    const Field fields[] = {
        {kIdVersion, version::kVersionLine, Qt::AlignHCenter | Qt::AlignTop, du.rect(2, 14, 200, 8)},
        {kIdName, version::kProductLine, Qt::AlignHCenter | Qt::AlignTop, du.rect(2, 4, 200, 8)},
        {kIdField1, "", Qt::AlignHCenter | Qt::AlignTop, du.rect(2, 27, 200, 17)},
        {kIdField2, "", Qt::AlignRight | Qt::AlignTop, du.rect(136, 55, 66, 8)},
    };
    for (const Field& f : fields) {
        auto* label = new QLabel(QString::fromLatin1(f.text), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(f.alignment);
        label->setGeometry(f.rect);
        setControlId(label, f.id);
    }

    auto* ok = new QPushButton(version::kOk, this);
    ok->setGeometry(du.rect(82, 48, 40, 14));
    ok->setDefault(true);
    setControlId(ok, kIdOk);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* date = new QLabel(version::kDateLine, this);
    date->setTextFormat(Qt::PlainText);
    date->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    date->setGeometry(du.rect(68, 24, 84, 14));
    setControlId(date, kIdDate);
}

}  // namespace tolvan
