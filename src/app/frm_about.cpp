#include "app/frm_about.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv::ui {

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About");
  // Only the close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* icon = new QLabel(this);
  icon->setObjectName("Image1");
  const QIcon appIcon = QApplication::windowIcon();
  if (!appIcon.isNull()) icon->setPixmap(appIcon.pixmap(64, 64));

  auto* name = new QLabel("VORN Orvistar", this);
  name->setObjectName("lbProduct");
  QFont f = name->font();
  f.setBold(true);
  f.setPointSizeF(f.pointSizeF() * 1.4);
  name->setFont(f);
  QString version = QApplication::applicationVersion();
  auto* ver = new QLabel(version.isEmpty() ? QString() : "Version " + version, this);
  ver->setObjectName("lbVersion");
  auto* what = new QLabel(
      "Finds and administers K7710 wireless RTUs\nand Tramix 4410 RTU controllers.", this);
  for (QLabel* l : {name, ver, what}) l->setTextFormat(Qt::PlainText);

  BitBtn1 = new QPushButton("OK", this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &TfmAbout::BitBtn1Click);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  auto* col = new QVBoxLayout;
  col->addWidget(name);
  col->addWidget(ver);
  col->addWidget(what);
  row->addLayout(col);
  auto* top = new QVBoxLayout(this);
  top->addLayout(row);
  top->addWidget(BitBtn1, 0, Qt::AlignHCenter);
  top->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace orv::ui
