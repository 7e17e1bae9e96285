#pragma once
// The about box.
#include <QDialog>

class QPushButton;

namespace orv::ui {

class TfmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfmAbout(QWidget* parent = nullptr);

 public slots:
  void BitBtn1Click() {}  // the button's own closing is all it does

 private:
  QPushButton* BitBtn1;
};

}  // namespace orv::ui
