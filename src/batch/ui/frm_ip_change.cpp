#include "batch/ui/frm_ip_change.h"

#include <arpa/inet.h>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/ui_support.h"
#include "common/trace.h"
#include "discovery/ip_check.h"
#include "host/interfaces.h"
#include "host/routes.h"

namespace orv::ui {

int CheckIPAddress(const std::string& text) {
  const int code = CheckIPText(text, false);
  if (code != 0) return code;
  // Multicast, loopback, 0/8, class E and broadcast would lose the device.
  const auto n = ParseIPText(text);
  return n && IsDeviceAddress(htonl(*n)) ? 0 : kNotADeviceAddress;
}

QString IPAddressMessage(int code) {
  switch (code) {
    case 1: return "The IP address length is incorrect. Please check it.";
    case 5: return "The IP address format is illegal. Please check it.";
    case kNotADeviceAddress: return "The IP address cannot be given to a device.";
    default: return "The IP address format is incorrect. Please check it.";
  }
}

namespace {
constexpr int kAddressColumn = 3;
constexpr int kResultColumn = 7;

QString Text(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<int>(s.size())); }

// Only the address column is edited, through the line edit with "Set ".
class AddressDelegate : public QStyledItemDelegate {
 public:
  explicit AddressDelegate(TfmIPChange* dialog) : QStyledItemDelegate(dialog), dialog_(dialog) {}
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
    auto* e = new TIPCellEditor(parent);
    QObject::connect(e->set, &QPushButton::clicked, dialog_, [this, e] { dialog_->EditCellEditor1ElipsisClick(e); });
    QObject::connect(e, &TIPCellEditor::enterPressed, dialog_, [this, e] {
      dialog_->EditCellEditor1AllowEndEditEvent(e);
      emit const_cast<AddressDelegate*>(this)->commitData(e);
      emit const_cast<AddressDelegate*>(this)->closeEditor(e);
    });
    return e;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    static_cast<TIPCellEditor*>(editor)->edit->setText(index.data().toString());
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    dialog_->xgIPSetEditText(index.row(), static_cast<TIPCellEditor*>(editor)->edit->text());
  }
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex&) const override {
    editor->setGeometry(option.rect.adjusted(0, -2, 40, 2));
  }

 private:
  TfmIPChange* dialog_;
};
}  // namespace

TIPCellEditor::TIPCellEditor(QWidget* parent) : QWidget(parent) {
  setObjectName("EditCellEditor1");
  setAutoFillBackground(true);
  auto* l = new QHBoxLayout(this);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(0);
  edit = new QLineEdit(this);
  edit->setMaxLength(64);
  SetAccessible(edit, "IP Address");
  set = new QPushButton("Set ", this);
  set->setObjectName("btnSet");
  set->setAutoDefault(false);
  set->setFocusPolicy(Qt::NoFocus);
  SetAccessible(set, "Set");
  l->addWidget(edit, 1);
  l->addWidget(set);
  setFocusProxy(edit);
  edit->installEventFilter(this);
}

bool TIPCellEditor::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      emit enterPressed();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

TfmIPChange::TfmIPChange(TIOProduct* product, QWidget* parent)
    : TBatchListDialog({"fmIPChange", "Change IP Address", "Change IP", BatchOp::SetIp, 0, 0,
                        "Change IP address has finished.\n\nYou need to search for the device again.", "IP Change"},
                       product, parent) {
  RescanRequested = false;
  xgIP = lvVexil;
  xgIP->setObjectName("xgIP");
  SetAccessible(xgIP, "Change IP Address devices");
  xgIP->setSelectionMode(QAbstractItemView::SingleSelection);
  xgIP->setSelectionBehavior(QAbstractItemView::SelectItems);
  xgIP->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                        QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
  xgIP->setItemDelegateForColumn(kAddressColumn, new AddressDelegate(this));
  xgIP->setColumnWidth(kAddressColumn, 150);
  QFont bold = xgIP->font();
  bold.setBold(true);
  for (int r = 0; r < xgIP->rowCount(); ++r) {
    for (int c = 0; c < xgIP->columnCount(); ++c) {
      QTableWidgetItem* it = xgIP->item(r, c);
      if (c != kAddressColumn) it->setFlags(it->flags() & ~Qt::ItemIsEditable);
      if (c == kAddressColumn || c == kResultColumn) it->setForeground(Qt::red);
      if (c == kAddressColumn) it->setFont(bold);
      if (c == 2) it->setForeground(Qt::blue);
    }
  }
  marked_.assign(static_cast<std::size_t>(xgIP->rowCount()), false);

  // Submit (the default button) and the fill aid beside the others.
  BitBtn_Sumit = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), "Submit", this);
  BitBtn_Sumit->setObjectName("BitBtn_Sumit");
  BitBtn_Sumit->setEnabled(false);
  BitBtn_Sumit->setDefault(true);
  SetAccessible(BitBtn_Sumit, "Submit");
  connect(BitBtn_Sumit, &QPushButton::clicked, this, &TfmIPChange::BitBtn_SumitClick);
  btnFill = new QPushButton("Fill Addresses...", this);
  btnFill->setObjectName("btnFill");
  btnFill->setAutoDefault(false);
  SetAccessible(btnFill, "Fill Addresses...");
  connect(btnFill, &QPushButton::clicked, this, &TfmIPChange::btnFillClick);
  if (auto* row = qobject_cast<QHBoxLayout*>(layout()->itemAt(layout()->count() - 1)->layout())) {
    row->insertWidget(1, btnFill);
    row->insertWidget(row->count() - 2, BitBtn_Sumit);
  }
  BitBtn_Stop->setEnabled(false);
  btnExit->setEnabled(true);
}

bool TfmIPChange::AddressTaken(int row, const std::string& address) const {
  const std::string& mac = devices_[static_cast<std::size_t>(row)].mac;
  if (list_) {
    for (TIOObject* o : *list_) {
      if (!o || o->nIOType != IOTYPE_MODULE) continue;
      auto* m = static_cast<TIOMod*>(o);
      if (m->szMacAddress != mac && m->szConnection == address) return true;
    }
  }
  for (int r = 0; r < xgIP->rowCount(); ++r)
    if (r != row && Marked(r) && xgIP->item(r, kAddressColumn)->text().toStdString() == address) return true;
  return false;
}

void TfmIPChange::SetMark(int row, bool on) {
  marked_[static_cast<std::size_t>(row)] = on;
  xgIP->item(row, 0)->setText((on ? "*" : "") + QString::number(row + 1));
}

void TfmIPChange::ValidateEntry(int row, const QString& text, TIPCellEditor* editor) {
  ORV_TRACE("TfmIPChange::ValidateEntry");
  if (row < 0 || row >= xgIP->rowCount() || !xgIP->isEnabled()) return;
  const std::string t = text.toLocal8Bit().toStdString();
  const std::string& present = devices_[static_cast<std::size_t>(row)].ip;
  QString refusal;
  if (const int code = CheckIPAddress(t); code != 0) {
    refusal = IPAddressMessage(code);
  } else if (t == szNicIP) {
    refusal = "The IP address is the same as the host's IP address.\n\nPlease use a different address.";
  } else if (t != present) {
    const std::optional<uint32_t> a = ParseIPText(t);
    if (!a || !IsDeviceAddress(htonl(*a))) refusal = "The IP address cannot be given to a device.";
    else if (AddressTaken(row, t)) refusal = "The IP address is already used by another device.";
  }
  QString taken = text;
  if (!refusal.isEmpty()) {
    // The present address goes back into the editor and the cell, and the
    // row is judged on it: a mark it carried goes.
    if (editor) editor->edit->setText(Text(present));
    taken = Text(present);
  }
  xgIP->item(row, kAddressColumn)->setText(taken);
  SetMark(row, taken.toLocal8Bit().toStdString() != present);
  bool any = false;
  for (bool m : marked_) any = any || m;
  BitBtn_Sumit->setEnabled(any);
  if (any) BitBtn_Sumit->setFocus();
  else btnExit->setFocus();
  if (!refusal.isEmpty()) ShowMessage(this, refusal, "Error", MsgIcon::Error, MB_OK);
}

void TfmIPChange::EditCellEditor1ElipsisClick(TIPCellEditor* editor) {
  ValidateEntry(xgIP->currentRow(), editor->edit->text(), editor);
}

void TfmIPChange::EditCellEditor1AllowEndEditEvent(TIPCellEditor* editor) {
  ValidateEntry(xgIP->currentRow(), editor->edit->text(), editor);
}

void TfmIPChange::xgIPSetEditText(int row, const QString& text) {
  // Leaving the editor after a refusal takes the present address, quietly.
  const QString cell = xgIP->item(row, kAddressColumn)->text();
  if (text == cell && !Marked(row) && text.toStdString() == devices_[static_cast<std::size_t>(row)].ip) return;
  ValidateEntry(row, text, nullptr);
}

void TfmIPChange::btnFillClick() {
  if (xgIP->rowCount() == 0 || !xgIP->isEnabled()) return;
  const QString first = AskText(this, "Fill Addresses", "First address for the rows, in grid order:",
                                xgIP->item(0, kAddressColumn)->text());
  if (first.isEmpty()) return;
  const std::string f = first.trimmed().toStdString();
  if (const int code = CheckIPAddress(f); code != 0) {
    ShowMessage(this, IPAddressMessage(code), "Error", MsgIcon::Error, MB_OK);
    return;
  }
  const std::optional<uint32_t> a = ParseIPText(f);
  if (!a || !IsDeviceAddress(htonl(*a))) {
    ShowMessage(this, "The IP address cannot be given to a device.", "Error", MsgIcon::Error, MB_OK);
    return;
  }
  uint32_t next = *a;
  for (int r = 0; r < xgIP->rowCount(); ++r) {
    // Skip the host, addresses in use and addresses no device may have;
    // bounded so a crowded range cannot spin.
    for (int tries = 0; tries < 65536; ++tries, ++next) {
      const std::string t = IPToText(htonl(next));
      const bool ok = CheckIPAddress(t) == 0 && t != szNicIP && IsDeviceAddress(htonl(next)) &&
                      !AddressTaken(r, t);
      if (!ok) continue;
      ValidateEntry(r, Text(t), nullptr);
      ++next;
      break;
    }
  }
}

void TfmIPChange::BitBtn_SumitClick() {
  ORV_TRACE("TfmIPChange::BitBtn_SumitClick");
  BitBtn_Sumit->setEnabled(false);
  BitBtn_Stop->setEnabled(true);
  BitBtn_Stop->repaint();
  btnExit->setEnabled(false);
  if (ShowMessage(this, "Do you want to change the IP? Click No to discard change.", "Confirm", MsgIcon::Question,
                  MB_YESNO) != MB_YES) {
    BitBtn_Stop->setEnabled(false);
    btnExit->setEnabled(true);
    BitBtn_Sumit->setEnabled(true);
    return;
  }
  xgIP->setEnabled(false);
  btnFill->setEnabled(false);
  all_ = devices_;
  std::vector<BatchDevice> run;
  runRows_.clear();
  for (int r = 0; r < xgIP->rowCount(); ++r) {
    if (!Marked(r)) continue;
    BatchDevice d = all_[static_cast<std::size_t>(r)];
    d.newAddress = xgIP->item(r, kAddressColumn)->text().toLocal8Bit().toStdString();
    run.push_back(std::move(d));
    runRows_.push_back(r);
  }
  devices_ = std::move(run);
  PB_Speed->setMaximum(static_cast<int>(devices_.size()));
  PB_Speed->setValue(0);
  BatchJob job = PlainJob();
  job.stopCloseCount = static_cast<std::size_t>(-1);  // Stop stays available to the end
  StartRun(std::move(job));
}

void TfmIPChange::OnFinished(std::size_t index, const BatchResult& result) {
  if (index < runRows_.size())
    if (QTableWidgetItem* it = xgIP->item(runRows_[index], kResultColumn)) it->setText(Text(result.text));
  PB_Speed->setValue(std::min(PB_Speed->value() + 1, PB_Speed->maximum()));
}

void TfmIPChange::OnEnded(const BatchSummary& summary) {
  // Results per grid row again, for the saved report.
  const std::vector<BatchResult> ran = summary.results;  // summary is summary_
  summary_.results.assign(all_.size(), BatchResult{});
  for (std::size_t i = 0; i < runRows_.size() && i < ran.size(); ++i)
    summary_.results[static_cast<std::size_t>(runRows_[i])] = ran[i];
  devices_ = all_;
  if (stop_.Requested())
    ShowMessage(this, "Change IP address has stopped.\n\nYou need to search for the device again.", "Warning",
                MsgIcon::Warning, MB_OK);
  else
    ShowMessage(this, kind_.finishMessage, "Information", MsgIcon::Information, MB_OK);
  EnterFinished();  // the grid and Submit stay disabled: one submit per opening
}

void TfmIPChange::btnExitClick() {
  RescanRequested = ShowMessage(this, "Do you want to initiate a new search for the device now?", "Information",
                                MsgIcon::Information, MB_YESNO) == MB_YES;
  TBatchListDialog::btnExitClick();
}

}  // namespace orv::ui
