// Figures of the running window for the benchmarks, written to the file
// named by $QELWIN_STATS when the program ends: paints, the time of the
// last paint after the first received byte, the longest delay of a 10-ms
// timer on the window thread once data flows, and where in the window the
// text area lies. Costs nothing unless that variable is set.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class TScreenView;

class TWindowProbe : public QObject {
  Q_OBJECT
 public:
  // nullptr when $QELWIN_STATS is not set.
  static TWindowProbe* FromEnvironment(TScreenView& view, QObject* parent);

  // A received byte: the clock starts at the first.
  void DataArrived();
  void Write() const;

 private:
  TWindowProbe(TScreenView& view, QString file, QObject* parent);
  void Tick();

  TScreenView& View;
  QString File;
  QTimer Timer;
  QElapsedTimer SinceFirstByte;
  QElapsedTimer SinceTick;
  bool Started = false;
  int LastPaints = 0;
  double LastPaintSeconds = 0;
  double MaxDelayMs = 0;
};
