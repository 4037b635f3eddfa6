#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kestrel {

// The about box: what the tool is and which build it is. OK, Escape or the
// close box closes it.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void LayOut();

    QLabel* icon_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* version_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace kestrel
