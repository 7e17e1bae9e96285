#pragma once
// The IP change grid: a new address per selected device, checked as it is
// entered; Submit sends the changed ones through the shared runner.
#include <QWidget>
#include <string>
#include <vector>

#include "batch/ui/frm_batch.h"

class QLineEdit;
class QPushButton;

namespace orv::ui {

// CheckIPAddress: 0 valid; 1 length; 2 a part above 255; 3 a character
// other than digit or "."; 4 not three dots; 5 all 0 or all 255;
// kNotADeviceAddress multicast, loopback, 0/8, class E or broadcast.
constexpr int kNotADeviceAddress = 20;
int CheckIPAddress(const std::string& text);
// The message of a CheckIPAddress code.
QString IPAddressMessage(int code);

// The grid's cell editor: a line edit with a "Set " button at its right end.
class TIPCellEditor : public QWidget {
  Q_OBJECT
 public:
  explicit TIPCellEditor(QWidget* parent);
  QLineEdit* edit;
  QPushButton* set;

 signals:
  // Enter in the line edit (taken here, so it never also presses the
  // dialog's default button).
  void enterPressed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

class TfmIPChange : public TBatchListDialog {
  Q_OBJECT
 public:
  explicit TfmIPChange(TIOProduct* product, QWidget* parent = nullptr);

  QTableWidget* xgIP;          // the grid (lvVexil of the list dialogs)
  QPushButton* BitBtn_Sumit;
  QPushButton* btnFill;

  // Validation of text entered in a row (the three entry points share it).
  // editor: the open cell editor, or null.
  void ValidateEntry(int row, const QString& text, TIPCellEditor* editor);
  void EditCellEditor1ElipsisClick(TIPCellEditor* editor);
  void EditCellEditor1AllowEndEditEvent(TIPCellEditor* editor);
  void xgIPSetEditText(int row, const QString& text);
  bool Marked(int row) const { return row >= 0 && row < static_cast<int>(marked_.size()) && marked_[row]; }

  void Timer1Timer() override {}

 public slots:
  void BitBtn_SumitClick();
  void btnFillClick();
  void btnExitClick() override;

 protected:
  void OnFinished(std::size_t index, const BatchResult& result) override;
  void OnEnded(const BatchSummary& summary) override;

 private:
  void SetMark(int row, bool on);
  // The address another device found, or another row, already has or gets.
  bool AddressTaken(int row, const std::string& address) const;
  std::vector<bool> marked_;
  std::vector<BatchDevice> all_;  // every row's device while a run uses a subset
  std::vector<int> runRows_;      // grid row of each device of the run
};

}  // namespace orv::ui
