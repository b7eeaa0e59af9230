// TQelClock: the status bar at the bottom of the main window. Clock mode
// shows the time and ten indicator panels (lock keys, log, MINI, trace
// conversion, printing, screen size or the transfer gauge, lines in the
// buffer, connection); resources mode six memory figures. A click switches
// between them. The decisions live in TStatusBarModel; this widget draws
// each panel as a child widget named after what it shows, so screen readers
// read the same words the engineer sees.
#pragma once

#include <QFont>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "app/statusbarmodel.h"

struct TStatusIndicators;
class TStatusPanel;

// The toggle states of Num, Caps and Scroll Lock from the window system (XKB
// on X11); nullopt where the platform does not tell (Wayland, offscreen).
std::optional<TKeyLocks> ReadSystemKeyLocks();

class TQelClock : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kTimerMs = 800;

  explicit TQelClock(QWidget* parent = nullptr);
  ~TQelClock() override;

  // What the session's UpdateStatusBar gathered: log, MINI, trace, screen
  // size, connection, the host's keyboard lock (shown as Scroll Lock) and
  // the line count. Repaints when an indicator changed; the line count
  // waits for the next timer repaint.
  void SetIndicators(const TStatusIndicators& status);
  void SetPrintStatus(bool on);

  // The lock keys. Read from the window system on every tick where it can
  // tell; elsewhere the bar follows the lock key presses it sees, and the
  // main window may feed the states it knows.
  void SetKeyLocks(const TKeyLocks& locks);
  TKeyLocks KeyLocks() const { return Model.Locks; }
  // Where the states come from; tests replace it (return nullopt: no system
  // states, the tracked ones stand).
  std::function<std::optional<TKeyLocks>()> ReadLocks = ReadSystemKeyLocks;
  // What the scroll-back holds, for resources mode; may be empty.
  std::function<TScrollbackFigures()> ReadScrollback;

  // The transfer gauge in panel 8. ShowGauge: progress 0 of maximum.
  // The bytes a running receive stored so far (-1: none runs).
  void SetReceivedBytes(std::int64_t bytes);
  void ShowGauge(int maximum);
  void HideGauge();
  void SetGauge(bool on);
  bool SetGaugeMin(int value);
  bool SetGaugeMax(int value);
  bool SetGaugeProgress(int value);
  int GaugeProgress() const { return Model.GaugeProgress; }
  int GaugeMaximum() const { return Model.GaugeMax; }
  bool GaugeShown() const { return Model.Gauge; }

  void SetClockWidth(int width);
  void SetSpace(int space);
  void SetAllowClick(bool allow) { Model.AllowClick = allow; }
  void SetAlertLevel(int level);
  void SetAlertFont(const QFont& font);

  TPanelMode PanelMode() const { return Model.PanelMode; }
  // Switches between clock and resources, as a click does.
  void SwitchMode();
  // Runs one timer tick now.
  void Tick();

  // The panels as drawn, left to right: clock mode the clock and ten
  // indicators, resources mode six figures.
  int PanelCount() const;
  QString PanelText(int index) const;
  QRect PanelRect(int index) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Redraw();
  void LayOutClock();
  void LayOutResources();
  void RepaintIf(bool changed);
  QString Separator() const;

  TStatusBarModel Model;
  bool HostScrollLock = false;  // the host locked the keyboard
  TKeyLocks Tracked;            // from key presses and what the window fed
  QFont AlertFont;
  QTimer Timer;
  std::array<TStatusPanel*, 1 + TStatusBarModel::kIndicatorPanels> Panels{};
};
