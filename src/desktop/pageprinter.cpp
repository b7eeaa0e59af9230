#include "desktop/pageprinter.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>
#include <cmath>
#include <memory>

#include "core/cp437.h"
#include "core/desktop.h"
#include "desktop/colors.h"
#include "screen/store.h"

namespace {
QString PrintedText(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (const char b : bytes) text.append(QChar(static_cast<char16_t>(Cp437CodePoint(static_cast<std::uint8_t>(b)))));
  return text;
}

// The printable area in device pixels (the painter's origin is its top left).
QRectF Printable(QPrinter& printer) {
  return printer.pageLayout().paintRectPixels(printer.resolution()).toRectF();
}
}  // namespace

TPagePrinter::TPagePrinter(const TBrowse& store, TDesktop& desktop) : Store(store), Desktop(desktop) {}

void TPagePrinter::Prepare(QPrinter& printer) const {
  printer.setFullPage(false);
  printer.setPageOrientation(Setup.Landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  using M = TPagePrinterSetup;
  printer.setPageMargins(QMarginsF(Setup.Margins[M::pmLeft], Setup.Margins[M::pmTop], Setup.Margins[M::pmRight],
                                   Setup.Margins[M::pmBottom]),
                         QPageLayout::Millimeter);
  printer.setDocName(QString::fromLatin1(kPrintTitle));
  printer.setCopyCount(1);
}

QFont TPagePrinter::BaseFont(QPrinter& printer) const {
  QFont font(QString::fromStdString(Store.FontName), std::max(1, Store.FontSize));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setKerning(false);
  return QFont(font, &printer);
}

TPageGeometry TPagePrinter::Geometry(QPrinter& printer) const {
  const QFontMetricsF metrics(BaseFont(printer), &printer);
  const QRectF area = Printable(printer);
  return PageGeometryOf(area.width(), area.height(), metrics.horizontalAdvance(QLatin1Char('M')),
                        metrics.lineSpacing());
}

TPrintDocument TPagePrinter::Spool(QPrinter& printer, bool markedOnly) {
  Prepare(printer);
  return SpoolLines(Store, markedOnly, Geometry(printer), Desktop);
}

int TPagePrinter::PrintLines(QPrinter& printer, bool markedOnly, QWidget* parent) {
  Setup.Printing = true;
  if (OnPrinting) OnPrinting(true);
  const TPrintDocument document = Spool(printer, markedOnly);
  const int pages = Render(printer, document, parent);
  Setup.Printing = false;
  if (OnPrinting) OnPrinting(false);
  return pages;
}

int TPagePrinter::Render(QPrinter& printer, const TPrintDocument& document, QWidget* progressParent) const {
  QPainter painter;
  if (!painter.begin(&printer)) return 0;
  const QFont base = BaseFont(printer);
  const QFontMetricsF metrics(base, &printer);
  const TGrid grid{metrics.horizontalAdvance(QLatin1Char('M')), metrics.lineSpacing(), metrics.ascent()};
  std::unique_ptr<QProgressDialog> progress;
  if (progressParent) {
    progress = std::make_unique<QProgressDialog>(QString(), QStringLiteral("Cancel"), 0,
                                                 static_cast<int>(document.Pages.size()), progressParent);
    progress->setWindowTitle(QStringLiteral("Print Progress"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
  }
  int drawn = 0;
  for (const auto& page : document.Pages) {
    if (progress) {
      progress->setLabelText(QStringLiteral("Sending Pages To Printer\nPage %1").arg(drawn + 1));
      progress->setValue(drawn);
      if (progress->wasCanceled()) break;
    }
    if (drawn > 0 && !printer.newPage()) break;
    double y = 0;
    for (const TPrintedLine& line : page) {
      DrawLine(painter, line, y, grid, printer);
      y += grid.LineHeight;
    }
    ++drawn;
    painter.setFont(base);
    DrawFooter(painter, drawn, grid.LineHeight, printer);
  }
  painter.end();
  return drawn;
}

void TPagePrinter::DrawLine(QPainter& painter, const TPrintedLine& line, double y, const TGrid& grid,
                            QPrinter& printer) const {
  const double cell = grid.Cell, ascent = grid.Ascent;
  for (const TPrintRun& run : line.Runs) {
    const TTextAttributes& record = Store.GetAttributeRecord(run.Attribute);
    const QRectF cells(run.Start * cell, y, run.Length * cell, grid.LineHeight);
    painter.fillRect(cells, ToQColor(record.Background));
    QFont font(QString::fromStdString(record.FontName), std::max(1, Store.FontSize));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setKerning(false);
    font.setBold(record.Style & fsBold);
    font.setItalic(record.Style & fsItalic);
    font.setUnderline(record.Style & fsUnderline);
    font.setStrikeOut(record.Style & fsStrikeOut);
    font = QFont(font, &printer);
    if (run.Wide) font.setStretch(200);
    painter.setPen(ToQColor(record.Foreground));
    const std::string_view bytes(line.Text.data() + run.Start, static_cast<std::size_t>(run.Length));
    if (run.Wide) {
      // Each character over two cells, the blank after it left as it is.
      painter.setFont(font);
      for (int i = 0; i < run.Length; i += 2)
        painter.drawText(QPointF((run.Start + i) * cell, y + ascent), PrintedText(bytes.substr(i, 1)));
      continue;
    }
    // Spaced so every character takes one cell, whatever the font's own width.
    const double advance = QFontMetricsF(font, &printer).horizontalAdvance(QLatin1Char('M'));
    font.setLetterSpacing(QFont::AbsoluteSpacing, cell - advance);
    painter.setFont(font);
    painter.drawText(QPointF(run.Start * cell, y + ascent), PrintedText(bytes));
  }
}

void TPagePrinter::DrawFooter(QPainter& painter, int page, double lineHeight, QPrinter& printer) const {
  const QRectF area = Printable(printer);
  const QRectF footer(0, area.height() - lineHeight, area.width(), lineHeight);
  painter.setPen(Qt::black);
  painter.drawText(footer, Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(FooterText(TPagePrinterSetup::kFooter, page)));
}

TQelPrintPreview::TQelPrintPreview(TPagePrinter& printer, QWidget* parent)
    : QPrintPreviewDialog(parent), Printer(printer) {
  setObjectName(QStringLiteral("QelPrintPreview"));
  setWindowTitle(QStringLiteral("Qel Print Preview"));
  Printer.Prepare(*this->printer());
  connect(this, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* target) {
    Pages = Printer.Render(*target, Printer.Spool(*target, MarkedOnly), nullptr);
  });
}
