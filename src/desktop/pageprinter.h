// TPagePrinter: the page printer on Qt Print Support. It spools a screen
// buffer's lines into pages (with the "Spooling Print Area" window) and
// draws them on a QPrinter: 15-mm margins, the control's font, each run in
// its attribute's colours and style on a fixed grid, the page number
// right-aligned in the footer, the document titled "Qel for Windows". The
// pages go out under a progress window of their own ("Print Progress").
// TQelPrintPreview, the "Qel Print Preview" window, shows the same pages.
#pragma once

#include <QFont>
#include <QPrintPreviewDialog>
#include <functional>

#include "auxwin/printcommand.h"
#include "auxwin/printing.h"

class QPainter;
class QPrinter;
class QWidget;
class TBrowse;
class TDesktop;

class TPagePrinter {
 public:
  TPagePrinter(const TBrowse& store, TDesktop& desktop);

  TPagePrinterSetup Setup;
  // Raised and lowered around a print (the status bar's "PRNT"); may be unset.
  std::function<void(bool printing)> OnPrinting;

  // The setup onto a printer: margins, orientation, title, one copy.
  void Prepare(QPrinter& printer) const;
  // Cells across and lines down a page of this printer.
  TPageGeometry Geometry(QPrinter& printer) const;
  // The range into pages of this printer, under the spooling window.
  TPrintDocument Spool(QPrinter& printer, bool markedOnly);
  // PrintLines: the range spooled, then drawn page by page with the
  // progress window under parent. The number of pages sent (0: none).
  int PrintLines(QPrinter& printer, bool markedOnly, QWidget* parent);
  // Draws a document; with a parent the pages go out under the progress
  // window, whose Cancel stops after the page being drawn. Pages drawn.
  int Render(QPrinter& printer, const TPrintDocument& document, QWidget* progressParent) const;

 private:
  QFont BaseFont(QPrinter& printer) const;
  struct TGrid {
    double Cell = 0, LineHeight = 0, Ascent = 0;
  };
  void DrawLine(QPainter& painter, const TPrintedLine& line, double y, const TGrid& grid, QPrinter& printer) const;
  void DrawFooter(QPainter& painter, int page, double lineHeight, QPrinter& printer) const;

  const TBrowse& Store;
  TDesktop& Desktop;
};

// The print preview: a window of its own, made once, that shows the pages a
// print of the screen buffer (all, or the marked lines) would give.
class TQelPrintPreview : public QPrintPreviewDialog {
  Q_OBJECT
 public:
  TQelPrintPreview(TPagePrinter& printer, QWidget* parent);
  // Which lines the next showing takes.
  void SetMarkedOnly(bool markedOnly) { MarkedOnly = markedOnly; }
  // Pages drawn by the last paint.
  int PagesShown() const { return Pages; }

 private:
  TPagePrinter& Printer;
  bool MarkedOnly = false;
  int Pages = 0;
};
