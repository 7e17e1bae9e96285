#include "app/frm_q6000.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/frm_main.h"
#include "app/ui_support.h"
#include "common/trace.h"
#include "inventory/name_tables.h"

namespace orv::ui {

const QColor TfmQ6000::kWhite(255, 255, 255);
const QColor TfmQ6000::kSkyBlue(166, 202, 240);

namespace {
bool gSorted = false;

constexpr int kColumns = 8;
const char* const kHeadings[kColumns] = {"#",           "Server Name", "Model",   "IP Address",
                                         "MAC Address", "Subnet Mask", "Gateway", "Firmware Ver."};

QString Text(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }

// Letters a-z fold to upper case; everything else compares by byte value.
int CompareText(const QByteArray& a, const QByteArray& b) {
  const int n = std::min(a.size(), b.size());
  for (int i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x -= 'a' - 'A';
    if (y >= 'a' && y <= 'z') y -= 'a' - 'A';
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
}  // namespace

bool TfmQ6000::Sorted() { return gSorted; }
void TfmQ6000::ResetSorted() { gSorted = false; }

TfmQ6000::TfmQ6000(QWidget* owner, TScoutix* product) : QFrame(owner), product_(product) {
  ORV_TRACE("TfmQ6000::TfmQ6000");
  setObjectName("fmQ6000");
  if (product_) {
    product_->SelectedList.clear();
    product_->szHostIP = "255.255.255.255";
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  PanelCaption = new QFrame(this);
  PanelCaption->setObjectName("PanelCaption");
  PanelCaption->setFixedHeight(48);
  auto* stack = new QStackedLayout(PanelCaption);
  stack->setStackingMode(QStackedLayout::StackAll);
  Label16 = new QLabel("Orvistar", PanelCaption);
  Label16->setObjectName("Label16");
  Label16->setTextFormat(Qt::PlainText);
  QFont big = Label16->font();
  big.setBold(true);
  big.setPointSize(18);
  Label16->setFont(big);
  Label16->setStyleSheet("color: blue; background: transparent; padding-left: 8px;");
  Label16->setAttribute(Qt::WA_TransparentForMouseEvents);
  Image1 = new QLabel(PanelCaption);
  Image1->setObjectName("Image1");
  Image1->setScaledContents(true);
  Image1->setToolTip("Enter Edit Mode");
  stack->addWidget(Label16);
  stack->addWidget(Image1);
  Label16->raise();
  layout->addWidget(PanelCaption);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setObjectName("GroupBox1");
  auto* gl = new QVBoxLayout(GroupBox1);
  gl->setContentsMargins(2, 2, 2, 2);
  lvVexil = new QTableWidget(0, kColumns, GroupBox1);
  lvVexil->setObjectName("lvVexil");
  QStringList headings;
  for (const char* h : kHeadings) headings << h;
  lvVexil->setHorizontalHeaderLabels(headings);
  lvVexil->verticalHeader()->hide();
  lvVexil->setShowGrid(true);
  lvVexil->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Devices are chosen for the batch commands here: click, Ctrl-click,
  // Shift-click, Ctrl+A, Shift+arrows.
  lvVexil->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvVexil->setContextMenuPolicy(Qt::CustomContextMenu);
  SetAccessible(lvVexil, "Device list");
  lvVexil->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvVexil->setWordWrap(false);
  lvVexil->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  lvVexil->horizontalHeader()->setSectionsClickable(true);
  lvVexil->horizontalHeader()->setHighlightSections(false);
  lvVexil->horizontalHeader()->setStretchLastSection(true);
  const int widths[kColumns] = {40, 140, 190, 120, 150, 120, 120, 100};
  for (int c = 0; c < kColumns; ++c) lvVexil->setColumnWidth(c, widths[c]);
  lvVexil->verticalHeader()->setDefaultSectionSize(lvVexil->fontMetrics().height() + 6);
  lvVexil->installEventFilter(this);
  lvVexil->viewport()->installEventFilter(this);
  connect(lvVexil->horizontalHeader(), &QHeaderView::sectionClicked, this,
          &TfmQ6000::lvVexilColumnClick);
  connect(lvVexil, &QTableWidget::itemSelectionChanged, this, &TfmQ6000::lvVexilSelectItem);
  connect(lvVexil, &QTableWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    // A right-click on a row outside the selection selects that row alone.
    const QModelIndex at = lvVexil->indexAt(pos);
    if (at.isValid() && !lvVexil->selectionModel()->isRowSelected(at.row(), QModelIndex())) {
      lvVexil->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
    }
    if (fmMain) fmMain->PopupDeviceMenu(lvVexil->viewport()->mapToGlobal(pos));
  });
  gl->addWidget(lvVexil);
  layout->addWidget(GroupBox1, 1);

  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setStyleSheet("#Panel1 { background: silver; }");
  auto* pl = new QHBoxLayout(Panel1);
  pl->setContentsMargins(4, 2, 4, 2);
  btnRefresh = new QPushButton("Refresh", Panel1);
  btnRefresh->setObjectName("btnRefresh");
  btnRefresh->hide();
  connect(btnRefresh, &QPushButton::clicked, this, &TfmQ6000::btnRefreshClick);
  pl->addWidget(btnRefresh);
  pl->addStretch();
  Panel1->setFixedHeight(8);
  layout->addWidget(Panel1);
}

TfmQ6000::~TfmQ6000() = default;

void TfmQ6000::AttachTo(void* parent) { setParent(static_cast<QWidget*>(parent)); }

void TfmQ6000::FillParent() {
  if (QWidget* p = parentWidget(); p && p->layout()) p->layout()->addWidget(this);
}

void TfmQ6000::OnInit() {
  if (!BannerImage.isNull()) Image1->setPixmap(QPixmap::fromImage(BannerImage));
}

void TfmQ6000::OnAddIO(TIOObjList* list) {
  list_ = list;
  btnRefreshClick();
  lvVexilColumnClick(2);
}

void TfmQ6000::btnRefreshClick() {
  ORV_TRACE("TfmQ6000::btnRefreshClick");
  const QStringList keep = SelectedMacs();
  lvVexil->blockSignals(true);
  lvVexil->setRowCount(0);
  lvVexil->blockSignals(false);
  if (!list_) {
    lvVexilSelectItem();
    return;
  }
  lvVexil->setUpdatesEnabled(false);
  int n = 1;
  for (TIOObject* o : *list_) {
    if (!o || o->nIOType != IOTYPE_MODULE) continue;
    auto* m = static_cast<TIOMod*>(o);
    const int row = lvVexil->rowCount();
    lvVexil->insertRow(row);
    const std::string model =
        IsValidModelIndex(m->nModuleID) ? NAME_MOD[m->nModuleID] : std::string();
    const QString cells[kColumns] = {QString::number(n++),    Text(m->szServerName),
                                     Text(model),             Text(m->szConnection),
                                     Text(m->szMacAddress),   Text(m->szSubnetMask),
                                     Text(m->szGateway),      Text(m->szFirmwareVersion)};
    for (int c = 0; c < kColumns; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      item->setTextAlignment((c == 2 || c == 4) ? Qt::AlignCenter
                                                : (Qt::AlignLeft | Qt::AlignVCenter));
      item->setBackground(kWhite);
      lvVexil->setItem(row, c, item);
    }
  }
  lvVexil->setUpdatesEnabled(true);
  ApplyBands();
  SelectMacs(keep);
}

QStringList TfmQ6000::SelectedMacs() const {
  QStringList macs;
  for (int r = 0; r < lvVexil->rowCount(); ++r)
    if (lvVexil->selectionModel()->isRowSelected(r, QModelIndex()))
      if (const QTableWidgetItem* it = lvVexil->item(r, 4)) macs << it->text();
  return macs;
}

void TfmQ6000::SelectMacs(const QStringList& macs) {
  lvVexil->blockSignals(true);
  lvVexil->selectionModel()->blockSignals(true);
  lvVexil->clearSelection();
  QItemSelection sel;
  for (int r = 0; r < lvVexil->rowCount(); ++r) {
    const QTableWidgetItem* it = lvVexil->item(r, 4);
    if (it && macs.contains(it->text()))
      sel.select(lvVexil->model()->index(r, 0), lvVexil->model()->index(r, lvVexil->columnCount() - 1));
  }
  lvVexil->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
  lvVexil->selectionModel()->blockSignals(false);
  lvVexil->blockSignals(false);
  lvVexil->viewport()->update();
  lvVexilSelectItem();
}

void TfmQ6000::lvVexilSelectItem() {
  if (!product_) return;
  // The selected rows' MAC texts, in list order.
  product_->SelectedList.clear();
  for (const QString& mac : SelectedMacs()) product_->SelectedList.push_back(mac.toLocal8Bit().toStdString());
  if (fmMain) fmMain->DeviceSelectionChanged();
}

QStringList TfmQ6000::RowTexts(int row) const {
  QStringList out;
  for (int c = 0; c < kColumns; ++c) {
    const QTableWidgetItem* it = lvVexil->item(row, c);
    out << (it ? it->text() : QString());
  }
  return out;
}

bool TfmQ6000::lvVexilCompare(const QStringList& a, const QStringList& b) const {
  gSorted = true;
  const int c = std::clamp(nSortColumn_, 0, kColumns - 1);
  return CompareText(a[c].toLocal8Bit(), b[c].toLocal8Bit()) < 0;
}

void TfmQ6000::lvVexilColumnClick(int column) {
  ORV_TRACE("TfmQ6000::lvVexilColumnClick");
  if (column <= 0 || column >= kColumns) return;
  nSortColumn_ = column;
  const QStringList keep = SelectedMacs();
  const int rows = lvVexil->rowCount();
  std::vector<QStringList> data;
  data.reserve(static_cast<std::size_t>(rows));
  for (int r = 0; r < rows; ++r) data.push_back(RowTexts(r));
  std::stable_sort(data.begin(), data.end(),
                   [this](const QStringList& a, const QStringList& b) { return lvVexilCompare(a, b); });
  lvVexil->setUpdatesEnabled(false);
  for (int r = 0; r < rows; ++r) {
    data[static_cast<std::size_t>(r)][0] = QString::number(r + 1);  // renumber
    for (int c = 0; c < kColumns; ++c)
      lvVexil->item(r, c)->setText(data[static_cast<std::size_t>(r)][c]);
  }
  lvVexil->setUpdatesEnabled(true);
  ApplyBands();
  SelectMacs(keep);  // the selection stays on the same devices
}

QColor TfmQ6000::lvVexilCustomDrawItem(int row, const QColor& above) const {
  if (!gSorted) return kWhite;
  if (nSortColumn_ != 1 && nSortColumn_ != 2 && nSortColumn_ != 7) return kWhite;
  if (row <= 0) return kWhite;
  const QByteArray mine = lvVexil->item(row, nSortColumn_)->text().toLocal8Bit();
  const QByteArray prev = lvVexil->item(row - 1, nSortColumn_)->text().toLocal8Bit();
  const int n = std::min(mine.size(), prev.size());
  // One text beginning with the whole of the other stays in the band.
  if (mine.left(n) == prev.left(n)) return above;
  return above == kWhite ? kSkyBlue : kWhite;
}

void TfmQ6000::ApplyBands() {
  QColor above = kWhite;
  for (int r = 0; r < lvVexil->rowCount(); ++r) {
    QColor c = lvVexilCustomDrawItem(r, above);
    for (int col = 0; col < kColumns; ++col)
      if (QTableWidgetItem* it = lvVexil->item(r, col)) it->setBackground(c);
    above = c;
  }
}

void TfmQ6000::lvVexilClick() {
  if (!lvVexil->selectionModel()->selectedRows().isEmpty() || lvVexil->rowCount() == 0) return;
  if (fmMain) fmMain->InitFunctionBtnFalse();
  // Focus mark only: the row is not selected.
  lvVexil->selectionModel()->setCurrentIndex(lvVexil->model()->index(lvVexil->rowCount() - 1, 0),
                                             QItemSelectionModel::NoUpdate);
}

bool TfmQ6000::lvVexilKeyDown(int key) {
  if (key == Qt::Key_Menu) {
    OpenMenuFromKeyboard();
    return true;
  }
  if (key != Qt::Key_F5) return false;
  if (fmMain) fmMain->muRescanClick();
  return true;
}

void TfmQ6000::OpenMenuFromKeyboard() {
  QPoint at(4, 4);
  const QModelIndex cur = lvVexil->currentIndex();
  if (cur.isValid()) at = lvVexil->visualRect(cur).bottomLeft();
  if (fmMain) fmMain->PopupDeviceMenu(lvVexil->viewport()->mapToGlobal(at));
}

bool TfmQ6000::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvVexil && event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() == Qt::Key_F10 && (k->modifiers() & Qt::ShiftModifier)) {
      OpenMenuFromKeyboard();
      return true;
    }
    if (lvVexilKeyDown(k->key())) return true;
  } else if (watched == lvVexil->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(event);
    // A click on the empty area below the rows leaves no row selected.
    if (!lvVexil->indexAt(me->position().toPoint()).isValid()) lvVexil->clearSelection();
  } else if (watched == lvVexil->viewport() && event->type() == QEvent::MouseButtonRelease) {
    lvVexilClick();
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace orv::ui
