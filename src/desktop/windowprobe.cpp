#include "desktop/windowprobe.h"

#include <QFile>
#include <QTextStream>

#include "desktop/screenview.h"

TWindowProbe* TWindowProbe::FromEnvironment(TScreenView& view, QObject* parent) {
  const QString file = qEnvironmentVariable("QELWIN_STATS");
  if (file.isEmpty()) return nullptr;
  return new TWindowProbe(view, file, parent);
}

TWindowProbe::TWindowProbe(TScreenView& view, QString file, QObject* parent)
    : QObject(parent), View(view), File(std::move(file)) {
  Timer.setInterval(10);
  Timer.setTimerType(Qt::PreciseTimer);
  connect(&Timer, &QTimer::timeout, this, &TWindowProbe::Tick);
}

void TWindowProbe::DataArrived() {
  if (Started) return;
  Started = true;
  SinceFirstByte.start();
  SinceTick.start();
  LastPaints = View.PaintCount();
  Timer.start();
}

void TWindowProbe::Tick() {
  const double late = static_cast<double>(SinceTick.nsecsElapsed()) / 1e6 - 10.0;
  if (late > MaxDelayMs) MaxDelayMs = late;
  SinceTick.start();
  if (View.PaintCount() != LastPaints) {
    LastPaints = View.PaintCount();
    LastPaintSeconds = static_cast<double>(SinceFirstByte.nsecsElapsed()) / 1e9;
  }
}

void TWindowProbe::Write() const {
  QFile out(File);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  QTextStream text(&out);
  text << "paints " << View.PaintCount() << "\n";
  text << "last_paint_after_first_byte_s " << LastPaintSeconds << "\n";
  text << "max_timer_delay_ms " << MaxDelayMs << "\n";
  // Where the text is drawn, in device pixels of the top-level window, so a
  // benchmark watching the window's drawing can leave the bars out.
  const QWidget* port = View.viewport();
  const QPoint at = port->mapTo(port->window(), QPoint(0, 0));
  const qreal ratio = port->devicePixelRatioF();
  text << "text_area_x " << qRound(at.x() * ratio) << "\ntext_area_y " << qRound(at.y() * ratio) << "\n";
  text << "text_area_width " << qRound(port->width() * ratio) << "\ntext_area_height "
       << qRound(port->height() * ratio) << "\n";
}
