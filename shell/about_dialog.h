#pragma once
// Help > About: the tool's name, version and date, fixed texts.

#include <QDialog>

namespace tolvan {

class TTolvan_ideAboutDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kResourceId = 22000;
    static constexpr int kIdVersion = 22001;
    static constexpr int kIdName = -1;
    static constexpr int kIdField1 = 22002;
    static constexpr int kIdField2 = 22003;
    static constexpr int kIdOk = 1;
    static constexpr int kIdDate = 101;

    explicit TTolvan_ideAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tolvan
