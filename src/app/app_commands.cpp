// The main window's commands: the menu reached through the four menu buttons,
// the command toolbar, the two pop-up menus and the rules that enable them.
#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>
#include <QToolButton>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "app/frm_search_wait.h"
#include "app/ui_support.h"
#include "common/trace.h"
#include "host/ui/frm_nic.h"

namespace orv::ui {

namespace {
// Small drawn icons: a coloured tile with a letter. Index = image number.
QIcon Tile(const QColor& fill, const QString& letter, bool round = false) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(fill.darker(160));
  p.setBrush(fill);
  if (round)
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  else
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
  if (!letter.isEmpty()) {
    QFont f = p.font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, letter);
  }
  return QIcon(pm);
}
}  // namespace

void TfmMain::BuildCommands() {
  // Tree images: 0 unused, 1 product, 2 address, 3 name, 4 unused, 5 digital,
  // 6 analog, 7 temperature.
  ImageList1 = {Tile(Qt::gray, ""),
                Tile(QColor(30, 80, 170), "O"),
                Tile(QColor(20, 140, 70), "@", true),
                Tile(QColor(110, 110, 110), "N"),
                Tile(Qt::gray, ""),
                Tile(QColor(150, 60, 160), "D"),
                Tile(QColor(200, 110, 20), "A"),
                Tile(QColor(190, 40, 40), "T")};
  ImageList2.assign(13, QIcon());
  ImageList2[0] = Tile(QColor(20, 120, 190), "S", true);
  ImageList2[1] = Tile(QColor(20, 140, 70), "C");
  ImageList2[2] = Tile(QColor(200, 110, 20), "R");
  ImageList2[5] = Tile(QColor(60, 60, 160), "I");
  ImageList2[7] = Tile(QColor(160, 30, 30), "F");
  ImageList2[10] = Tile(QColor(40, 120, 120), "P");
  ImageList2[11] = Tile(QColor(60, 140, 60), "E");
  ImageList2[12] = ImageList2[0];

  auto action = [this](QMenu* menu, const char* name, const QString& text) {
    auto* a = menu->addAction(text);
    a->setObjectName(name);
    return a;
  };

  muMain = new QMenu(this);
  muMain->setObjectName("muMain");
  muFile = muMain->addMenu("File");
  muFile->setObjectName("muFile");
  muSystem = muMain->addMenu("System");
  muSystem->setObjectName("muSystem");
  muSort = muMain->addMenu("Sort");
  muSort->setObjectName("muSort");
  muHelp = muMain->addMenu("Help");
  muHelp->setObjectName("muHelp");

  Exit1 = action(muFile, "Exit1", "Exit");
  connect(Exit1, &QAction::triggered, this, &TfmMain::Exit1Click);
  muRescan = action(muSystem, "muRescan", "Auto Search RTU");
  muRescan->setIcon(ImageList2[0]);
  connect(muRescan, &QAction::triggered, this, &TfmMain::muRescanClick);
  muNIC = action(muSystem, "muNIC", "Network Interface");
  connect(muNIC, &QAction::triggered, this, &TfmMain::muNICClick);
  muAST = action(muSystem, "muAST", "Auto Search Timeout");
  connect(muAST, &QAction::triggered, this, &TfmMain::muASTClick);
  muByConnection = action(muSort, "muByConnection", "By Connection");
  muByConnection->setIcon(ImageList2[1]);
  muByConnection->setCheckable(true);
  connect(muByConnection, &QAction::triggered, this, &TfmMain::muByConnectionClick);
  muByModule = action(muSort, "muByModule", "By RTU");
  muByModule->setIcon(ImageList2[2]);
  muByModule->setCheckable(true);
  connect(muByModule, &QAction::triggered, this, &TfmMain::muByModuleClick);
  // The wiring guide has no viewer here; the item stays hidden.
  muHelp3k = action(muHelp, "muHelp3k", "Wiring Guide for Vexilon6200");
  muHelp3k->setVisible(false);
  muAbout = action(muHelp, "muAbout", "About Orvistar");
  connect(muAbout, &QAction::triggered, this, &TfmMain::muAboutClick);

  // ToolBar1: one captioned button per top-level item, dropping its menu down.
  for (QMenu* m : {muFile, muSystem, muSort, muHelp}) {
    auto* b = new QToolButton(ToolBar1);
    b->setObjectName("tb" + m->objectName().mid(2));
    b->setText(m->title());
    b->setMenu(m);
    b->setPopupMode(QToolButton::InstantPopup);
    b->setAutoRaise(true);
    ToolBar1->addWidget(b);
    menuButtons_.push_back(b);
  }

  auto button = [this](const char* name, int image, const QString& hint) {
    auto* a = ToolBar2->addAction(ImageList2[static_cast<std::size_t>(image)], hint);
    a->setObjectName(name);
    a->setToolTip(hint);
    if (QWidget* w = ToolBar2->widgetForAction(a)) w->setObjectName(name);
    return a;
  };
  btnAutoSearch = button("btnAutoSearch", 12, "Auto search RTU");
  connect(btnAutoSearch, &QAction::triggered, this, &TfmMain::muRescanClick);
  ToolBar2->addSeparator()->setObjectName("ToolButton1");
  btnSortCon = button("btnSortCon", 1, "Sort by connection");
  btnSortCon->setCheckable(true);
  connect(btnSortCon, &QAction::triggered, this, &TfmMain::muByConnectionClick);
  btnSortServer = button("btnSortServer", 2, "Sort by RTU");
  btnSortServer->setCheckable(true);
  connect(btnSortServer, &QAction::triggered, this, &TfmMain::muByModuleClick);
  // The batch operations come with their dialogs; until then the buttons
  // stay hidden and disabled, as the form defines them.
  auto batchButton = [this](const char* name, int image, const QString& hint) {
    auto* b = new QToolButton(ToolBar2);
    b->setObjectName(name);
    b->setIcon(ImageList2[static_cast<std::size_t>(image)]);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setEnabled(false);
    ToolBar2->addWidget(b)->setVisible(false);
    return b;
  };
  btnUpgrade = batchButton("btnUpgrade", 7, "Upgrade Firmware");
  btnImport = batchButton("btnImport", 5, "Import Setting");
  btnExport = batchButton("btnExport", 11, "Export Setting");
  btnChangeIP = batchButton("btnChangeIP", 10, "Change IP Address");

  muVexil = new QMenu(this);
  muVexil->setObjectName("muVexil");
  action(muVexil, "muAddPodModule", "Add Q6200 Series I/O Server");

  muModRemoteE = new QMenu(this);
  muModRemoteE->setObjectName("muModRemoteE");
  action(muModRemoteE, "FirmwareUpgrade1", "Firmware Upgrade");
  action(muModRemoteE, "Import1", "Import");
  action(muModRemoteE, "Export1", "Export");
  action(muModRemoteE, "ChangeIP1", "Change IP Address");
  muModRemoteE->addSeparator()->setObjectName("N2");
  action(muModRemoteE, "muRemoteERestartModule", "Restart System");
  action(muModRemoteE, "muDelModule", "Delete Module")->setVisible(false);
  muModRemoteE->addSeparator()->setObjectName("N1");
  action(muModRemoteE, "muRemoteEResetModule", "Reset to Default");
  connect(muModRemoteE, &QMenu::aboutToShow, this, &TfmMain::muModRemoteEPopup);
}

void TfmMain::EnableMainCommands(bool on) {
  for (QToolButton* b : menuButtons_) b->setEnabled(on);
  for (QAction* a : {btnAutoSearch, btnSortCon, btnSortServer}) a->setEnabled(on);
  for (QAction* a : muMain->actions()) a->setEnabled(on);
  for (QAction* a : muVexil->actions()) a->setEnabled(on);
  for (QAction* a : muModRemoteE->actions()) a->setEnabled(on);
}

void TfmMain::SetBatchEnabled(bool on) {
  for (QToolButton* b : {btnUpgrade, btnImport, btnExport, btnChangeIP}) b->setEnabled(on);
  for (QAction* a : muModRemoteE->actions()) a->setEnabled(on);
}

void TfmMain::InitFunctionBtnFalse() { SetBatchEnabled(false); }
void TfmMain::InitFunctionBtnTrue() { SetBatchEnabled(true); }

void TfmMain::muModRemoteEPopup() {
  InitFunctionBtnFalse();
  if (!mScoutix || mScoutix->SelectedList.empty()) return;
  std::vector<int32_t> codes;
  bool mixed = false;
  for (TIOObject* o : mScoutix->IOObjList) {
    if (!o || o->nIOType != IOTYPE_MODULE) continue;
    auto* m = static_cast<TIOMod*>(o);
    for (const std::string& mac : mScoutix->SelectedList) {
      if (m->szMacAddress != mac || codes.size() >= 256) continue;
      codes.push_back(m->nModuleID);
      for (std::size_t i = 0; i + 1 < codes.size(); ++i)
        if (codes[i] != codes.back()) mixed = true;
    }
  }
  const QList<QAction*> items = muModRemoteE->actions();
  btnChangeIP->setEnabled(true);
  btnExport->setEnabled(true);
  for (int i : {3, 2, 5, 8}) items[i]->setEnabled(true);
  if (!mixed) {
    btnImport->setEnabled(true);
    btnUpgrade->setEnabled(true);
    for (int i : {1, 0}) items[i]->setEnabled(true);
  }
}

void TfmMain::Exit1Click() { close(); }

void TfmMain::muRescanClick() { ScanSystem(); }

void TfmMain::muByConnectionClick() { SortAndShow(1); }
void TfmMain::muByModuleClick() { SortAndShow(4); }

void TfmMain::muNICClick() {
  TfmNIC dialog(this);
  if (dialog.exec() == QDialog::Accepted) SortAndShow(nSortMode);
}

void TfmMain::muASTClick() {
  Tfm_SearchWait dialog(this);
  dialog.exec();
}

void TfmMain::muAboutClick() {
  TfmAbout dialog(this);
  dialog.exec();
}

}  // namespace orv::ui
