// What the SFTP and FTPS window tests share: a large file of bytes no line
// ending conversion would leave alone, the window connected as a user
// connects it, and a round trip of a file through the transfer box.
#pragma once

#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "desktop/ftpwindow.h"
#include "guitesting.h"
#include "support/testing.h"

// size bytes of a fixed pseudo-random stream (CR, LF, NUL and 255 included).
inline void WriteLargeFile(const std::string& name, std::size_t size) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  std::string block(1 << 20, '\0');
  std::uint32_t state = 0x1234567u;
  for (std::size_t done = 0; done < size;) {
    for (char& c : block) {
      state = state * 1664525u + 1013904223u;
      c = static_cast<char>(state >> 24);
    }
    const std::size_t n = std::min(block.size(), size - done);
    out.write(block.data(), static_cast<std::streamsize>(n));
    done += n;
  }
}

// Compares two files chunk by chunk; an empty text when equal, else where they part.
inline std::string FileDifference(const std::string& a, const std::string& b) {
  std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
  if (!left || !right) return "missing: " + std::string(!left ? a : b);
  std::string x(1 << 20, '\0'), y(1 << 20, '\0');
  for (std::size_t at = 0;; at += x.size()) {
    left.read(x.data(), static_cast<std::streamsize>(x.size()));
    right.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (left.gcount() != right.gcount()) return "lengths differ near byte " + std::to_string(at);
    if (std::memcmp(x.data(), y.data(), static_cast<std::size_t>(left.gcount())) != 0) {
      return "bytes differ in the MB at " + std::to_string(at);
    }
    if (left.gcount() < static_cast<std::streamsize>(x.size())) return "";
  }
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
