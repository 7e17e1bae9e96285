#pragma once
// One running program per user: a lock file decides who is first, a local
// socket lets a later start ask the first one to come to the front.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace orv::ui {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // name: the per-user identity ("Orvistar"); the lock and the socket live in
  // the user's runtime directory (or the temporary directory with the user id).
  explicit TSingleInstance(const QString& name, QObject* parent = nullptr);
  ~TSingleInstance() override;

  // True when no other instance holds the lock (this one now does).
  bool BecomeFirst();
  // First instance: starts answering later starts (once the window exists).
  bool Listen();
  // Later start: asks the first instance to raise its window. False when
  // nobody answers (the first is still creating its window).
  bool AskFirstToRaise(int timeoutMs = 1000);

  QString LockPath() const { return lockPath_; }
  QString ServerName() const { return serverName_; }

 signals:
  void RaiseRequested();

 private:
  QString lockPath_;
  QString serverName_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
};

}  // namespace orv::ui
