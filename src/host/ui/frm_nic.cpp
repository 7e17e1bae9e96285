#include "host/ui/frm_nic.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/trace.h"

namespace orv::ui {

namespace {
// The group's picture: a network card.
QPixmap NicPicture() {
  QPixmap pm(40, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 90, 0), 2));
  p.setBrush(QColor(40, 150, 60));
  p.drawRoundedRect(QRectF(2, 4, 34, 20), 2, 2);
  p.setBrush(QColor(220, 180, 40));
  for (int i = 0; i < 6; ++i) p.drawRect(QRectF(6 + i * 5, 24, 3, 5));
  p.setBrush(Qt::black);
  p.drawRect(QRectF(22, 8, 10, 10));
  return pm;
}
}  // namespace

TfmNIC::TfmNIC(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select Host Network Interface");
  auto* group = new QGroupBox(this);
  auto* label = new QLabel("Network Interface :", group);
  auto* picture = new QLabel(group);
  picture->setPixmap(NicPicture());
  cbNIC = new QComboBox(group);
  cbNIC->setObjectName("cbNIC");
  cbNIC->setEditable(false);
  cbNIC->setMinimumWidth(260);
  auto* g = new QHBoxLayout(group);
  g->addWidget(picture);
  g->addWidget(label);
  g->addWidget(cbNIC, 1);

  btnOK = new QPushButton("OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  BitBtn1 = new QPushButton("Cancel", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(BitBtn1);
  auto* top = new QVBoxLayout(this);
  top->addWidget(group);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnOK, &QPushButton::clicked, this, &TfmNIC::btnOKClick);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

void TfmNIC::FormCreate() {
  ORV_TRACE("TfmNIC::FormCreate");
  // The list of the last refresh: no new enumeration here.
  choices_ = BuildNicChoices(IPNodeList, szNicIP);
  cbNIC->clear();
  for (const NicEntry& e : choices_.entries)
    cbNIC->addItem(QString::fromStdString(e.szDescr), QString::fromStdString(e.szIP));
  cbNIC->setCurrentIndex(choices_.nSelected);
  // With no usable interface there is nothing to choose.
  btnOK->setEnabled(!choices_.entries.empty());
}

void TfmNIC::btnOKClick() {
  ORV_TRACE("TfmNIC::btnOKClick");
  if (!ApplyNicChoice(choices_, cbNIC->currentIndex())) {
    reject();  // nothing chosen: nothing changes
    return;
  }
  accept();
}

}  // namespace orv::ui
