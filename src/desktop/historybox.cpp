#include "desktop/historybox.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

THistoryBox::THistoryBox(const std::vector<std::string>& lines, int selected, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Dialog) {
  Combo = new QComboBox(this);
  Combo->setEditable(true);
  Combo->setInsertPolicy(QComboBox::NoInsert);
  Combo->setMaxVisibleItems(30);
  for (const std::string& line : lines) {
    Combo->addItem(QString::fromLatin1(line.data(), static_cast<int>(line.size())));
  }
  if (selected >= 0 && selected < Combo->count()) Combo->setCurrentIndex(selected);
  Combo->lineEdit()->selectAll();
  Combo->installEventFilter(this);
  Combo->lineEdit()->installEventFilter(this);
  connect(Combo, &QComboBox::currentIndexChanged, this, [this] { Combo->lineEdit()->selectAll(); });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Combo);
}

std::string THistoryBox::Text() const {
  const QByteArray bytes = Combo->currentText().toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void THistoryBox::Step(int delta) {
  const int count = Combo->count();
  if (count == 0) return;
  Combo->setCurrentIndex((Combo->currentIndex() + delta + count) % count);
  Combo->lineEdit()->selectAll();
}

bool THistoryBox::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Up: Step(-1); return true;
    case Qt::Key_Down: Step(1); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // The first Enter closes an open list; the next confirms.
      if (Combo->view()->isVisible()) {
        Combo->hidePopup();
      } else {
        accept();
      }
      return true;
    case Qt::Key_Escape: reject(); return true;
    default: return QDialog::eventFilter(watched, event);
  }
}

std::optional<std::string> THistoryBox::Ask(QWidget* parent, const QRect& area, const std::vector<std::string>& lines,
                                            int selected) {
  THistoryBox box(lines, selected, parent);
  box.setGeometry(area.x(), area.y(), area.width(), box.sizeHint().height());
  box.Combo->setFocus();
  if (box.exec() != QDialog::Accepted) return std::nullopt;
  return box.Text();
}
