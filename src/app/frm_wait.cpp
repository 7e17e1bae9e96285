#include "app/frm_wait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "common/trace.h"

namespace orv::ui {

namespace {
// A plain clock face: the dialog's picture.
QPixmap ClockPicture() {
  QPixmap pm(48, 48);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0, 0, 160), 3));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(3, 3, 42, 42));
  p.drawLine(QPointF(24, 24), QPointF(24, 10));
  p.drawLine(QPointF(24, 24), QPointF(34, 28));
  return pm;
}
}  // namespace

TfmWait::TfmWait(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Restarting I/O Server");
  // No title-bar buttons: the countdown ends the dialog.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setCursor(Qt::WaitCursor);

  auto* text = new QLabel("Wait for IO server to restart.", this);
  QFont bold = text->font();
  bold.setBold(true);
  text->setFont(bold);
  lbTime = new QLabel(this);
  lbTime->setObjectName("lbTime");
  lbTime->setTextFormat(Qt::PlainText);
  QFont big = bold;
  big.setPointSizeF(bold.pointSizeF() * 1.6);
  lbTime->setFont(big);
  lbTime->setStyleSheet("color: blue;");
  auto* picture = new QLabel(this);
  picture->setPixmap(ClockPicture());

  auto* row = new QHBoxLayout;
  row->addWidget(picture);
  auto* col = new QVBoxLayout;
  col->addWidget(text);
  col->addWidget(lbTime, 0, Qt::AlignHCenter);
  row->addLayout(col);
  auto* top = new QVBoxLayout(this);
  top->addLayout(row);
  top->setSizeConstraint(QLayout::SetFixedSize);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TfmWait::Timer1Timer);
  nCount_ = 6;
  FormCreate();
}

void TfmWait::FormCreate() {
  lbTime->setText(QString::number(nCount_));
  emit countShown(lbTime->text());
}

void TfmWait::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TfmWait::FormActivate() {
  if (nCount_ > 0 && !Timer1->isActive()) Timer1->start();
}

void TfmWait::Timer1Timer() {
  --nCount_;
  lbTime->setText(QString::number(nCount_));
  emit countShown(lbTime->text());
  if (nCount_ <= 0) {
    Timer1->stop();
    accept();
  }
}

void TfmWait::closeEvent(QCloseEvent* event) {
  // Only the countdown closes this dialog.
  if (nCount_ > 0) event->ignore();
  else QDialog::closeEvent(event);
}

void TfmWait::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // no early way out
  QDialog::keyPressEvent(event);
}

void QtRestartWait::ShowModal() {
  ORV_TRACE("QtRestartWait::ShowModal");
  auto show = [] {
    QWidget* over = QApplication::activeModalWidget();
    TfmWait dlg(over ? over : QApplication::activeWindow());
    dlg.exec();
  };
  // A batch run calls this from its worker thread: the countdown is shown on
  // the window's thread and the worker waits until it has closed.
  if (!qApp || QThread::currentThread() == qApp->thread()) show();
  else QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
}

}  // namespace orv::ui
