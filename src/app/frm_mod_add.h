#pragma once
// Adding a device by address: the model, the host interface to reach it
// through and the device's address.
#include <QDialog>
#include <cstdint>
#include <string>

#include "inventory/io_object.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace orv::ui {

class TfmModAdd : public QDialog {
  Q_OBJECT
 public:
  // target: the selected tree node's object; list: the product's object list
  // the address is checked against (either may be null; neither is owned).
  TfmModAdd(QWidget* owner, TIOObject* target, TIOObjList* list);

  // Read by the caller after OK.
  int32_t nModelCode = 0;
  int32_t nModuleClass = 0;
  std::string szInterfaceIP;
  std::string szDeviceIP;

 public slots:
  void FormCreate();
  void cbIPChange(const QString& text);
  void btnOKClick();

 private:
  TIOObjList* pList_;
  TIOObject* pTarget_;
  QComboBox* cbModuleType;
  QComboBox* cbINT;
  QLineEdit* cbIP;
  QPushButton* btnOK;
  QPushButton* BitBtn2;
};

}  // namespace orv::ui
