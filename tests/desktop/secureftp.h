// What the SFTP and FTPS window tests share: a large file of bytes no line
// ending conversion would leave alone, the window connected as a user
// connects it, and a round trip of a file through the transfer box.
#pragma once

#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <string>

#include "desktop/ftpwindow.h"
#include "guitesting.h"
#include "support/randombytes.h"
#include "support/sshserver.h"  // RunProgram
#include "support/testing.h"

// A file of size bytes of every value (CR, LF, NUL and 255 among them), so
// that any line ending conversion shows.
inline void WriteLargeFile(const std::string& name, std::size_t size) { WriteFileBytes(name, RandomBytes(size, 7)); }

// cmp's verdict on two files: an empty text when equal, else where they part.
inline std::string FileDifference(const std::string& a, const std::string& b) {
  std::string out;
  return RunProgram({"cmp", a, b}, &out) == 0 ? std::string() : "cmp: " + out;
}

inline QString HistoryOf(const TQelFTPDlg& window) { return window.History().join(QLatin1Char('\n')); }

// Sends local/name to the remote directory, then takes it back as back/name;
// the milliseconds the two took.
inline qint64 RoundTrip(TQelFTPDlg& window, const std::string& local, const std::string& back,
                        const QString& name, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  window.ShowLocalFolder(QString::fromStdString(local));
  window.QueueLocalFiles({QString::fromStdString(local) + "/" + name});
  window.BinaryRb->setChecked(true);
  window.StartClick();
  if (!WaitFor([&] { return !window.Sequence().Running(); }, timeoutMs)) return -1;
  if (!WaitFor([&] { return !window.RemoteList->findItems(name, Qt::MatchExactly).isEmpty(); }, 10000)) return -1;
  window.ShowLocalFolder(QString::fromStdString(back));
  window.RemoteList->findItems(name, Qt::MatchExactly).value(0)->setSelected(true);
  emit window.TransferBox->RemoteEntriesDropped();
  window.StartClick();
  if (!WaitFor([&] { return !window.Sequence().Running(); }, timeoutMs)) return -1;
  return clock.elapsed();
}
