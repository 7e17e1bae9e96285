#include "app/frm_search_wait.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/trace.h"
#include "host/settings.h"

namespace orv::ui {

Tfm_SearchWait::Tfm_SearchWait(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Setting I/O Server");
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  auto* label = new QLabel("Auto Search Wait Timeout", this);
  Edt_SearchCountSec = new QLineEdit("3", this);
  Edt_SearchCountSec->setObjectName("Edt_SearchCountSec");
  Edt_SearchCountSec->setMaxLength(2);
  Edt_SearchCountSec->setFixedWidth(40);
  auto* secs = new QLabel("Secs", this);
  BitBtn_Save = new QPushButton("Save", this);
  BitBtn_Save->setObjectName("BitBtn_Save");
  BitBtn_Save->setDefault(true);

  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(Edt_SearchCountSec);
  row->addWidget(secs);
  auto* top = new QVBoxLayout(this);
  top->addLayout(row);
  top->addWidget(BitBtn_Save, 0, Qt::AlignHCenter);
  top->setSizeConstraint(QLayout::SetFixedSize);
  connect(BitBtn_Save, &QPushButton::clicked, this, &Tfm_SearchWait::BitBtn_SaveClick);
}

void Tfm_SearchWait::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void Tfm_SearchWait::FormShow() {
  Edt_SearchCountSec->setText(
      QString::number(ReadRegInteger(szRegKeySystem, "Search_Timeout", 3)));
}

void Tfm_SearchWait::BitBtn_SaveClick() {
  ORV_TRACE("Tfm_SearchWait::BitBtn_SaveClick");
  bool ok = false;
  int value = Edt_SearchCountSec->text().trimmed().toInt(&ok, 10);
  if (!ok) value = 3;
  WriteRegInteger(szRegKeySystem, "Search_Timeout", value);
  accept();
}

}  // namespace orv::ui
