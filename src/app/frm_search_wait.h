#pragma once
// The search length setting: how many cycles a search may run
// ("Search_Timeout").
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace orv::ui {

class Tfm_SearchWait : public QDialog {
  Q_OBJECT
 public:
  explicit Tfm_SearchWait(QWidget* parent = nullptr);

 public slots:
  void FormShow();
  void BitBtn_SaveClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLineEdit* Edt_SearchCountSec;
  QPushButton* BitBtn_Save;
};

}  // namespace orv::ui
