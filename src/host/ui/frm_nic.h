#pragma once
// Choosing the host interface the program searches and reaches devices on.
#include <QDialog>

#include "host/interfaces.h"

class QComboBox;
class QPushButton;

namespace orv::ui {

class TfmNIC : public QDialog {
  Q_OBJECT
 public:
  explicit TfmNIC(QWidget* parent = nullptr);

 public slots:
  void FormCreate();
  void btnOKClick();

 private:
  QComboBox* cbNIC;
  QPushButton* btnOK;
  QPushButton* BitBtn1;
  NicChoiceList choices_;
};

}  // namespace orv::ui
