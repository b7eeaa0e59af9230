#include "desktop/attributechooser.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/helpwindow.h"

namespace {
constexpr int kCell = 26;
constexpr int kGap = 4;
constexpr int kRows = kPaletteSize / TColorGrid::kColumns;

const char* const kSampleLines[] = {
    "MSG 0123  SND  MBID 1A2B  VMI 0007",
    "  SETUP  call reference 0012",
    "  Bearer capability  speech, 64 kbit/s",
    "  DATA  00 1F 3C 80 A0 FF",
};

// Black or white, whichever reads on the colour.
QColor Contrasting(TColor color) {
  const QColor c = ToQColor(color);
  return c.lightness() > 128 ? Qt::black : Qt::white;
}
}  // namespace

TColor FromQColor(const QColor& color) {
  return static_cast<TColor>(color.red()) | static_cast<TColor>(color.green()) << 8 |
         static_cast<TColor>(color.blue()) << 16;
}

// ------------------------------------------------------------ TColorGrid

TColorGrid::TColorGrid(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::PointingHandCursor);
}

QSize TColorGrid::sizeHint() const {
  return {kColumns * (kCell + kGap) + kGap, kRows * (kCell + kGap) + kGap};
}

QRect TColorGrid::CellRect(int index) const {
  const int row = index / kColumns;
  const int column = index % kColumns;
  return {kGap + column * (kCell + kGap), kGap + row * (kCell + kGap), kCell, kCell};
}

int TColorGrid::CellAt(const QPoint& point) const {
  for (int i = 0; i < kPaletteSize; ++i) {
    if (CellRect(i).contains(point)) return i;
  }
  return -1;
}

void TColorGrid::SetChoice(TColor foreground, TColor background) {
  Foreground = foreground;
  Background = background;
  update();
}

void TColorGrid::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QFont font = painter.font();
  font.setPointSizeF(font.pointSizeF() * 0.8);
  font.setBold(true);
  painter.setFont(font);
  const auto& palette = ChooserPalette();
  for (int i = 0; i < kPaletteSize; ++i) {
    const QRect cell = CellRect(i);
    painter.fillRect(cell, ToQColor(palette[i]));
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(cell.adjusted(0, 0, -1, -1));
    QString mark;
    if (palette[i] == Foreground) mark = "FG";
    if (palette[i] == Background) mark = mark.isEmpty() ? "BG" : "F/B";
    if (mark.isEmpty()) continue;
    painter.setPen(QPen(Contrasting(palette[i]), 2));
    painter.drawRect(cell.adjusted(2, 2, -2, -2));
    painter.drawText(cell, Qt::AlignCenter, mark);
  }
}

void TColorGrid::mousePressEvent(QMouseEvent* event) {
  const int cell = CellAt(event->position().toPoint());
  if (cell < 0) return;
  const TColor color = ChooserPalette()[cell];
  if (event->button() == Qt::LeftButton) emit ForegroundPicked(color);
  if (event->button() == Qt::RightButton) emit BackgroundPicked(color);
}

// ------------------------------------------------------------ TAttributeChooser

TAttributeChooser::TAttributeChooser(const QString& caption, const TAttributeChoice& preset, QWidget* parent)
    : QDialog(parent), Current(preset) {
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromLatin1(kChooserLabel)));
  Grid = new TColorGrid;
  layout->addWidget(Grid, 0, Qt::AlignHCenter);

  auto* styles = new QHBoxLayout;
  Bold = new QCheckBox("Bold");
  Italic = new QCheckBox("Italic");
  Underline = new QCheckBox("Underline");
  for (QCheckBox* box : {Bold, Italic, Underline}) styles->addWidget(box);
  styles->addStretch();
  layout->addLayout(styles);

  Samples = new QListWidget;
  Samples->setSelectionMode(QAbstractItemView::NoSelection);
  Samples->setFocusPolicy(Qt::NoFocus);
  BuildSamples();
  layout->addWidget(Samples);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { ShowHelpTopic(this, QString::fromLatin1(help::kAttributes)); });
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  Bold->setChecked(Current.HasStyle(fsBold));
  Italic->setChecked(Current.HasStyle(fsItalic));
  Underline->setChecked(Current.HasStyle(fsUnderline));
  const std::pair<QCheckBox*, std::uint8_t> bits[] = {{Bold, fsBold}, {Italic, fsItalic}, {Underline, fsUnderline}};
  for (const auto& [box, bit] : bits) {
    connect(box, &QCheckBox::toggled, this, [this, bit = bit](bool on) {
      Current.SetStyle(bit, on);
      ShowChoice();
    });
  }
  connect(Grid, &TColorGrid::ForegroundPicked, this, [this](TColor c) {
    Current.Foreground = c;
    ShowChoice();
  });
  connect(Grid, &TColorGrid::BackgroundPicked, this, [this](TColor c) {
    Current.Background = c;
    ShowChoice();
  });
  ShowChoice();
}

void TAttributeChooser::BuildSamples() {
  QFont font("Courier New");
  font.setStyleHint(QFont::Monospace);
  Samples->setFont(font);
  for (const char* line : kSampleLines) Samples->addItem(QString::fromLatin1(line));
  const int rows = Samples->count();
  Samples->setFixedHeight(Samples->sizeHintForRow(0) * rows + 2 * Samples->frameWidth() + 4);
}

void TAttributeChooser::ShowChoice() {
  Grid->SetChoice(Current.Foreground, Current.Background);
  QFont font = Samples->font();
  font.setBold(Current.HasStyle(fsBold));
  font.setItalic(Current.HasStyle(fsItalic));
  font.setUnderline(Current.HasStyle(fsUnderline));
  font.setStrikeOut(Current.HasStyle(fsStrikeOut));
  QPalette palette = Samples->palette();
  palette.setColor(QPalette::Base, ToQColor(Current.Background));
  Samples->setPalette(palette);
  for (int i = 0; i < Samples->count(); ++i) {
    QListWidgetItem* item = Samples->item(i);
    item->setFont(font);
    item->setForeground(ToQColor(Current.Foreground));
    item->setBackground(ToQColor(Current.Background));
  }
}
