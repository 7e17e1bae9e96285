// The main window's commands: the menu reached through the four menu buttons,
// the command toolbar, the two pop-up menus and the rules that enable them.
#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "app/frm_about.h"
#include "app/frm_mod_add.h"
#include "app/frm_main.h"
#include "app/frm_search_wait.h"
#include "app/ui_support.h"
#include "common/trace.h"
#include "batch/ui/frm_batch.h"
#include "batch/ui/frm_ip_change.h"
#include "host/routes.h"
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
  // The batch buttons follow the selection (the device menu's enabling rule).
  auto batchButton = [this](const char* name, int image, const QString& hint,
                            void (TfmMain::*handler)()) {
    auto* b = new QToolButton(ToolBar2);
    b->setObjectName(name);
    b->setIcon(ImageList2[static_cast<std::size_t>(image)]);
    b->setToolTip(hint);
    b->setAccessibleName(hint);
    b->setAutoRaise(true);
    b->setEnabled(false);
    ToolBar2->addWidget(b);
    connect(b, &QToolButton::clicked, this, handler);
    return b;
  };
  btnUpgrade = batchButton("btnUpgrade", 7, "Upgrade Firmware", &TfmMain::btnUpgradeClick);
  btnImport = batchButton("btnImport", 5, "Import Setting", &TfmMain::btnImportClick);
  btnExport = batchButton("btnExport", 11, "Export Setting", &TfmMain::btnExportClick);
  btnChangeIP = batchButton("btnChangeIP", 10, "Change IP Address", &TfmMain::btnChangeIPClick);

  muVexil = new QMenu(this);
  muVexil->setObjectName("muVexil");
  muAddPodModule = action(muVexil, "muAddPodModule", "Add Q6200 Series I/O Server");
  connect(muAddPodModule, &QAction::triggered, this, &TfmMain::muAddModuleClick);

  muModRemoteE = new QMenu(this);
  muModRemoteE->setObjectName("muModRemoteE");
  muModRemoteE->setTitle("Device");
  FirmwareUpgrade1 = action(muModRemoteE, "FirmwareUpgrade1", "Firmware Upgrade");
  connect(FirmwareUpgrade1, &QAction::triggered, this, &TfmMain::btnUpgradeClick);
  Import1 = action(muModRemoteE, "Import1", "Import");
  connect(Import1, &QAction::triggered, this, &TfmMain::btnImportClick);
  Export1 = action(muModRemoteE, "Export1", "Export");
  connect(Export1, &QAction::triggered, this, &TfmMain::btnExportClick);
  ChangeIP1 = action(muModRemoteE, "ChangeIP1", "Change IP Address");
  connect(ChangeIP1, &QAction::triggered, this, &TfmMain::btnChangeIPClick);
  N2 = muModRemoteE->addSeparator();
  N2->setObjectName("N2");
  muRemoteERestartModule = action(muModRemoteE, "muRemoteERestartModule", "Restart System");
  connect(muRemoteERestartModule, &QAction::triggered, this, &TfmMain::muRemoteERestartModuleClick);
  muDelModule = action(muModRemoteE, "muDelModule", "Delete Module");
  muDelModule->setVisible(false);
  connect(muDelModule, &QAction::triggered, this, &TfmMain::muDelModuleClick);
  N1 = muModRemoteE->addSeparator();
  N1->setObjectName("N1");
  muRemoteEResetModule = action(muModRemoteE, "muRemoteEResetModule", "Reset to Default");
  connect(muRemoteEResetModule, &QAction::triggered, this, &TfmMain::muRemoteEResetModuleClick);
  connect(muModRemoteE, &QMenu::aboutToShow, this, &TfmMain::muModRemoteEPopup);

  // Every batch command without a right-click: the device menu on a fifth
  // button of the menu bar.
  auto* device = new QToolButton(ToolBar1);
  device->setObjectName("tbDevice");
  device->setText("Device");
  device->setAccessibleName("Device");
  device->setMenu(muModRemoteE);
  device->setPopupMode(QToolButton::InstantPopup);
  device->setAutoRaise(true);
  ToolBar1->addWidget(device);
  menuButtons_.push_back(device);
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
  btnChangeIP->setEnabled(true);
  btnExport->setEnabled(true);
  for (QAction* a : {ChangeIP1, Export1, muRemoteERestartModule, muRemoteEResetModule}) a->setEnabled(true);
  // Import and firmware need one model (a selection matching nothing counts
  // as one model).
  if (!mixed) {
    btnImport->setEnabled(true);
    btnUpgrade->setEnabled(true);
    for (QAction* a : {Import1, FirmwareUpgrade1}) a->setEnabled(true);
  }
}

void TfmMain::DeviceSelectionChanged() { muModRemoteEPopup(); }

void TfmMain::PopupDeviceMenu(const QPoint& globalPos) { muModRemoteE->popup(globalPos); }

void TfmMain::PopupTreeMenu(QTreeWidgetItem* item, const QPoint& globalPos) {
  TIOObject* o = item ? static_cast<TIOObject*>(item->data(0, Qt::UserRole).value<void*>()) : nullptr;
  if (!o || !mScoutix) return;
  if (o->nIOType == IOTYPE_MODULE) {
    mScoutix->SelectedList = {static_cast<TIOMod*>(o)->szMacAddress};
    muModRemoteEPopup();
    muModRemoteE->popup(globalPos);
  } else if (o->nIOType == IOTYPE_PRODUCT) {
    muVexil->popup(globalPos);
  }
}

void TfmMain::muRemoteERestartModuleClick() {
  if (!mScoutix) return;
  TfmRestart dialog(mScoutix.get(), this);
  dialog.exec();
}

void TfmMain::muRemoteEResetModuleClick() {
  if (!mScoutix) return;
  if (ShowMessage(this, "Do you really want to reset device to default?", "Warning", MsgIcon::Warning,
                  MB_YESNO) != MB_YES)
    return;
  RescanRequested = false;
  {
    TfmReset dialog(mScoutix.get(), this);
    dialog.exec();
  }
  if (RescanRequested) muRescanClick();
}

void TfmMain::btnUpgradeClick() {
  if (!mScoutix) return;
  TfmUpgradeFirmware dialog(mScoutix.get(), this);
  dialog.exec();
}

void TfmMain::btnImportClick() {
  if (!mScoutix) return;
  if (ShowMessage(this, "WARNING: Current IO and system settings will be overwritten.\n\nClick yes to confirm.",
                  "Confirm", MsgIcon::Question, MB_YESNO) != MB_YES)
    return;
  TfmImport dialog(mScoutix.get(), this);
  dialog.exec();
}

void TfmMain::btnExportClick() {
  if (!mScoutix) return;
  TfmExport dialog(mScoutix.get(), this);
  dialog.exec();
}

void TfmMain::btnChangeIPClick() {
  if (!mScoutix) return;
  {
    TfmIPChange dialog(mScoutix.get(), this);
    dialog.exec();
  }
  if (RescanRequested) muRescanClick();
}

void TfmMain::muAddModuleClick() {
  QTreeWidgetItem* node = tvDAC->currentItem();
  TIOObject* o = node ? static_cast<TIOObject*>(node->data(0, Qt::UserRole).value<void*>()) : nullptr;
  if (!o || !mScoutix) return;
  TfmModAdd dialog(this, o, &mScoutix->IOObjList);
  if (dialog.exec() != QDialog::Accepted) return;
  if (dialog.nModuleClass % 2 != 0 && MainHostOps().AddRoute)
    MainHostOps().AddRoute(dialog.szInterfaceIP, dialog.szDeviceIP, "", nullptr);
  TIOMod* added = nullptr;
  if (o->nIOType == IOTYPE_PRODUCT)
    added = mScoutix->InsIO(nPanelParent, o, dialog.nModelCode, dialog.nModuleClass, dialog.szDeviceIP);
  if (!added) return;
  SortAndShow(nSortMode);
  SelectTreeNodeOf(o->nIOType == IOTYPE_PRODUCT ? added : o);
}

void TfmMain::muDelModuleClick() {
  QTreeWidgetItem* node = tvDAC->currentItem();
  TIOObject* o = node ? static_cast<TIOObject*>(node->data(0, Qt::UserRole).value<void*>()) : nullptr;
  if (!o || !mScoutix) return;
  HourglassGuard hourglass;
  if (o->nIOType == IOTYPE_MODULE && static_cast<TIOMod*>(o)->nModuleClass % 2 != 0)
    RemoveDeviceRoute(static_cast<TIOMod*>(o)->szConnection);
  tvDACChanging(node);
  ClearTreeQuietly();
  mScoutix->DelIO(o);
  SortAndShow(nSortMode);
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
