#include "app/frm_mod_add.h"

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <stdexcept>

#include "app/ui_support.h"
#include "common/trace.h"
#include "host/interfaces.h"
#include "inventory/io_mod.h"

namespace orv::ui {

namespace {
constexpr int32_t IOTYPE_PRODUCT_ = 1;
constexpr int32_t IOTYPE_MODULE_ = 2;
constexpr int32_t kAddedModuleClass = 17;

// Taking the value of a drop-down list with no selected entry.
[[noreturn]] void ThrowIndexError(int index) {
  throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}
}  // namespace

TfmModAdd::TfmModAdd(QWidget* owner, TIOObject* target, TIOObjList* list)
    : QDialog(owner), pList_(list), pTarget_(target) {
  setWindowTitle("Scoutix - Add New Module");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* Label11 = new QLabel("I/O Server Type :", this);
  Label11->setObjectName("Label11");
  cbModuleType = new QComboBox(this);
  cbModuleType->setObjectName("cbModuleType");
  cbModuleType->setStyleSheet("color: blue;");
  cbModuleType->setMinimumWidth(200);

  auto* Image1 = new QLabel(this);  // decoration: the program's icon
  Image1->setObjectName("Image1");
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) Image1->setPixmap(icon.pixmap(32, 32));

  auto* conn = new QGroupBox("Connection Type :", this);
  auto* gbNet = new QGroupBox(conn);
  gbNet->setObjectName("gbNet");
  auto* label12 = new QLabel("Network Interface :", gbNet);
  label12->setObjectName("label12");
  cbINT = new QComboBox(gbNet);
  cbINT->setObjectName("cbINT");
  cbIP = new QLineEdit(gbNet);
  cbIP->setObjectName("cbIP");
  auto* form = new QFormLayout(gbNet);
  form->addRow(label12, cbINT);
  form->addRow(new QLabel("IP Address :", gbNet), cbIP);
  auto* connBox = new QVBoxLayout(conn);
  connBox->addWidget(gbNet);

  btnOK = new QPushButton("OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnOK->setEnabled(false);
  BitBtn2 = new QPushButton("Cancel", this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setAutoDefault(false);

  auto* typeRow = new QHBoxLayout;
  typeRow->addWidget(Label11);
  typeRow->addWidget(cbModuleType, 1);
  typeRow->addWidget(Image1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(BitBtn2);
  auto* top = new QVBoxLayout(this);
  top->addLayout(typeRow);
  top->addWidget(conn);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(cbIP, &QLineEdit::textChanged, this, &TfmModAdd::cbIPChange);
  connect(btnOK, &QPushButton::clicked, this, [this] {
    // A failed value lookup is shown like any error of a handler; the
    // dialog stays open.
    try {
      btnOKClick();
    } catch (const std::exception& e) {
      ShowException(this, e);
    }
  });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

void TfmModAdd::FormCreate() {
  ORV_TRACE("TfmModAdd::FormCreate");
  for (std::size_t i = 0; i < IPNodeList.size(); ++i) {
    const tIPNODE& node = IPNodeList[i];
    if (node.nType != IF_TYPE_ETHERNET_CSMACD) continue;
    // The entry carries the interface address itself: the list may be
    // rebuilt while the dialog is open.
    cbINT->addItem(QString::fromStdString(node.szDescr), QString::fromStdString(node.szIP));
  }
  if (cbINT->count() > 0) cbINT->setCurrentIndex(0);
  if (cbModuleType->count() > 0) cbModuleType->setCurrentIndex(0);
}

void TfmModAdd::cbIPChange(const QString& text) {
  if (pTarget_ && pTarget_->nIOType == IOTYPE_PRODUCT_) btnOK->setEnabled(!text.isEmpty());
}

void TfmModAdd::btnOKClick() {
  ORV_TRACE("TfmModAdd::btnOKClick");
  const std::string typed = cbIP->text().toStdString();
  if (pList_) {
    for (TIOObject* obj : *pList_) {
      if (!obj || obj->nIOType != IOTYPE_MODULE_) continue;
      auto* mod = dynamic_cast<TIOMod*>(obj);
      if (mod && mod->szConnection == typed) {
        ShowMessage(this, "The IP address has already been used !", QString(), MsgIcon::None, MB_OK);
        return;
      }
    }
  }
  if (cbINT->currentIndex() < 0) ThrowIndexError(cbINT->currentIndex());
  szInterfaceIP = cbINT->currentData().toString().toStdString();
  if (cbModuleType->currentIndex() < 0) ThrowIndexError(cbModuleType->currentIndex());
  nModelCode = cbModuleType->currentData().toInt();
  if (pTarget_ && pTarget_->nIOType == IOTYPE_PRODUCT_) {
    nModuleClass = kAddedModuleClass;
    szDeviceIP = typed;
  }
  accept();
}

}  // namespace orv::ui
