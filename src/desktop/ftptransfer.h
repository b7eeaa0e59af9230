// TQelFTPTransfer: the small window beside the FTP window that shows the file
// being transferred and how far it has come.
#pragma once

#include <QWidget>
#include <cstdint>

class QLabel;

class TQelFTPTransfer : public QWidget {
  Q_OBJECT
 public:
  explicit TQelFTPTransfer(QWidget* parent = nullptr);

  // Both labels empty, as when a transfer sequence starts.
  void Clear();
  void ShowFile(const QString& direction, const QString& name);
  void ShowBytes(std::int64_t bytes);

  QLabel* FileLabel;
  QLabel* BytesLabel;
};
