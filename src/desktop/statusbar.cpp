#include "desktop/statusbar.h"

#include <dlfcn.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QTime>
#include <QtGui/qguiapplication_platform.h>

#include "app/session.h"

// --- Lock keys from XKB ---

namespace {
// libX11 is opened at run time: the program then starts on Wayland and
// offscreen without it, and Xlib's macros stay out of the Qt sources.
struct TXkbCalls {
  using TInternAtom = unsigned long (*)(void*, const char*, int);
  using TGetNamedIndicator = int (*)(void*, unsigned long, int*, int*, void*, int*);
  TInternAtom InternAtom = nullptr;
  TGetNamedIndicator GetNamedIndicator = nullptr;
  unsigned long Atoms[3] = {};  // Num, Caps, Scroll

  static TXkbCalls* Load(void* display) {
    static TXkbCalls calls;
    static bool tried = false;
    if (!tried) {
      tried = true;
      void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
      if (library) {
        calls.InternAtom = reinterpret_cast<TInternAtom>(dlsym(library, "XInternAtom"));
        calls.GetNamedIndicator = reinterpret_cast<TGetNamedIndicator>(dlsym(library, "XkbGetNamedIndicator"));
      }
      if (calls.InternAtom && calls.GetNamedIndicator) {
        const char* names[3] = {"Num Lock", "Caps Lock", "Scroll Lock"};
        for (int i = 0; i < 3; ++i) calls.Atoms[i] = calls.InternAtom(display, names[i], 0);
      }
    }
    return calls.GetNamedIndicator ? &calls : nullptr;
  }
};
}  // namespace

std::optional<TKeyLocks> ReadSystemKeyLocks() {
#if QT_CONFIG(xcb)
  const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->display()) return std::nullopt;
  void* display = x11->display();
  TXkbCalls* xkb = TXkbCalls::Load(display);
  if (!xkb) return std::nullopt;
  bool states[3] = {};
  for (int i = 0; i < 3; ++i) {
    int on = 0;
    if (xkb->Atoms[i] == 0 || !xkb->GetNamedIndicator(display, xkb->Atoms[i], nullptr, &on, nullptr, nullptr)) {
      return std::nullopt;
    }
    states[i] = on != 0;
  }
  return TKeyLocks{states[0], states[1], states[2]};
#else
  return std::nullopt;
#endif
}

// --- One panel ---

class TStatusPanel : public QWidget {
 public:
  explicit TStatusPanel(QWidget* parent) : QWidget(parent) {}

  void Show(const QString& text, const QFont& font) {
    GaugeShown = false;
    if (text == Text && font == Font) return;
    Text = text;
    Font = font;
    setAccessibleName(text);
    update();
  }
  void ShowGauge(int percent, int barWidth) {
    if (GaugeShown && barWidth == BarWidth && Text.isEmpty()) return;
    GaugeShown = true;
    BarWidth = barWidth;
    Text.clear();
    setAccessibleName(QString::number(percent) + QLatin1Char('%'));
    update();
  }
  const QString& ShownText() const { return Text; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect frame = rect();
    if (GaugeShown) {
      painter.fillRect(frame, palette().color(QPalette::Button));
      painter.fillRect(QRect(0, 0, BarWidth, height()), QColor(0, 0, 255));
    }
    // A lowered bevel: dark on the top and left, light on the bottom and right.
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(frame.topLeft(), frame.topRight());
    painter.drawLine(frame.topLeft(), frame.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(frame.bottomLeft(), frame.bottomRight());
    painter.drawLine(frame.topRight(), frame.bottomRight());
    if (Text.isEmpty()) return;
    painter.setFont(Font);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(Font);
    const int x = std::max(1, (width() - metrics.horizontalAdvance(Text)) / 2);
    const int y = std::max(1, (height() - metrics.height()) / 2);
    painter.drawText(QRect(x, y, width() - x, metrics.height()), Qt::AlignLeft | Qt::AlignTop, Text);
  }

 private:
  QString Text;
  QFont Font;
  bool GaugeShown = false;
  int BarWidth = 0;
};

// --- The bar ---

TQelClock::TQelClock(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("QelStatusBar"));
  QFont font(QStringLiteral("MS Sans Serif"), 8, QFont::Bold);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  AlertFont = QFont(QStringLiteral("Courier"), 10);
  AlertFont.setStyleHint(QFont::TypeWriter);
  for (std::size_t i = 0; i < Panels.size(); ++i) {
    Panels[i] = new TStatusPanel(this);
    Panels[i]->setObjectName(QStringLiteral("panel%1").arg(i));
  }
  setToolTip(QString::fromStdString(Model.Hint));
  setAccessibleName(QStringLiteral("Status bar"));
  if (qApp) qApp->installEventFilter(this);
  Timer.setInterval(kTimerMs);
  connect(&Timer, &QTimer::timeout, this, &TQelClock::Tick);
  Timer.start();
  Tick();
}

TQelClock::~TQelClock() {
  if (qApp) qApp->removeEventFilter(this);
}

QSize TQelClock::sizeHint() const { return {640, 20}; }
QSize TQelClock::minimumSizeHint() const { return {Model.ClockWidth + 10, 20}; }

void TQelClock::RepaintIf(bool changed) {
  if (changed) Redraw();
}

void TQelClock::SetIndicators(const TStatusIndicators& status) {
  Model.SetLinesInBuffer(status.LinesInBuffer);
  const bool changed = Model.LogStatus != status.LogStatus || Model.MiniStatus != status.MiniStatus ||
                       Model.TraceStatus != status.TraceStatus || Model.ScreenSize != status.ScreenSize ||
                       Model.Connected != status.Connected || HostScrollLock != status.ScrollLock ||
                       Model.Reconnecting != status.Reconnecting;
  Model.LogStatus = status.LogStatus;
  Model.MiniStatus = status.MiniStatus;
  Model.TraceStatus = status.TraceStatus;
  Model.ScreenSize = status.ScreenSize;
  Model.Connected = status.Connected;
  Model.Reconnecting = status.Reconnecting;
  HostScrollLock = status.ScrollLock;
  Model.Locks.Scroll = Tracked.Scroll || HostScrollLock;
  RepaintIf(changed);
}

void TQelClock::SetPrintStatus(bool on) {
  const bool changed = Model.PrintStatus != on;
  Model.PrintStatus = on;
  RepaintIf(changed);
}

void TQelClock::SetKeyLocks(const TKeyLocks& locks) {
  Tracked = locks;
  TKeyLocks shown = locks;
  shown.Scroll = shown.Scroll || HostScrollLock;
  const bool changed = !(shown == Model.Locks);
  Model.Locks = shown;
  RepaintIf(changed);
}

void TQelClock::SetReceivedBytes(std::int64_t bytes) {
  const bool changed = Model.ReceivedBytes != bytes;
  Model.ReceivedBytes = bytes;
  RepaintIf(changed);
}

void TQelClock::ShowGauge(int maximum) {
  // Progress first: a smaller maximum would refuse the old progress.
  Model.GaugeProgress = Model.GaugeMin;
  Model.SetGaugeMax(maximum);
  SetGauge(true);
}

void TQelClock::HideGauge() { SetGauge(false); }

void TQelClock::SetGauge(bool on) { RepaintIf(Model.SetGauge(on)); }

bool TQelClock::SetGaugeMin(int value) {
  const bool accepted = Model.SetGaugeMin(value);
  RepaintIf(accepted);
  return accepted;
}

bool TQelClock::SetGaugeMax(int value) {
  const bool accepted = Model.SetGaugeMax(value);
  RepaintIf(accepted);
  return accepted;
}

bool TQelClock::SetGaugeProgress(int value) {
  const bool accepted = Model.SetGaugeProgress(value);
  RepaintIf(accepted);
  return accepted;
}

void TQelClock::SetClockWidth(int width) {
  Model.ClockWidth = std::max(0, width);
  Redraw();
}

void TQelClock::SetSpace(int space) { RepaintIf(Model.SetSpace(space)); }

void TQelClock::SetAlertLevel(int level) {
  Model.AlertLevel = level;
  Redraw();
}

void TQelClock::SetAlertFont(const QFont& font) {
  AlertFont = font;
  Redraw();
}

void TQelClock::SwitchMode() {
  if (!Model.Click()) return;
  setToolTip(QString::fromStdString(Model.Hint));
  Tick();
}

void TQelClock::Tick() {
  if (Model.PanelMode == pmResources) {
    RepaintIf(Model.ResourcesTick(ResourceFigures(ReadMemorySample()),
                                  ReadScrollback ? ReadScrollback() : TScrollbackFigures{}));
    return;
  }
  if (ReadLocks) {
    if (const std::optional<TKeyLocks> system = ReadLocks()) Tracked = *system;
  }
  Model.Locks = Tracked;
  Model.Locks.Scroll = Tracked.Scroll || HostScrollLock;
  const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  RepaintIf(Model.ClockTick(time.toStdString()));
}

void TQelClock::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  SwitchMode();
}

void TQelClock::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Redraw();
}

// Without the window system's states the bar follows the lock keys pressed
// anywhere in the program.
bool TQelClock::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->isAutoRepeat()) return false;
  switch (key->key()) {
    case Qt::Key_NumLock: Tracked.Num = !Tracked.Num; break;
    case Qt::Key_CapsLock: Tracked.Caps = !Tracked.Caps; break;
    case Qt::Key_ScrollLock: Tracked.Scroll = !Tracked.Scroll; break;
    default: return false;
  }
  // The next tick shows it, as the window system's own states would be.
  return false;
}

QString TQelClock::Separator() const {
  const QLocale locale;
  if (locale.numberOptions() & QLocale::OmitGroupSeparator) return QString();
  return locale.groupSeparator();
}

void TQelClock::Redraw() {
  if (Model.PanelMode == pmClock) {
    LayOutClock();
  } else {
    LayOutResources();
  }
  update();
}

void TQelClock::LayOutClock() {
  const std::string separator = Separator().toStdString();
  const TPanelSpan clock = Model.ClockPanel();
  Panels[0]->setGeometry(clock.Left, 0, clock.Width, height());
  Panels[0]->Show(QString::fromStdString(Model.TimeText()), font());
  Panels[0]->show();
  const std::vector<TPanelSpan> spans = Model.IndicatorPanels(width());
  for (int i = 0; i < TStatusBarModel::kIndicatorPanels; ++i) {
    TStatusPanel* panel = Panels[static_cast<std::size_t>(i) + 1];
    const TPanelSpan& span = spans[static_cast<std::size_t>(i)];
    panel->setGeometry(span.Left, 0, span.Width, height());
    if (i == TStatusBarModel::kGaugePanel && Model.GaugeShown()) {
      panel->ShowGauge(Model.GaugePercent(), Model.GaugeBarWidth(span.Width));
    } else {
      panel->Show(QString::fromStdString(Model.IndicatorText(i, separator)), font());
    }
    panel->show();
  }
}

void TQelClock::LayOutResources() {
  const std::string separator = Separator().toStdString();
  const std::vector<TPanelSpan> spans = Model.ResourcePanels(width());
  for (std::size_t i = 0; i < Panels.size(); ++i) {
    if (i >= spans.size()) {
      Panels[i]->hide();
      continue;
    }
    const int index = static_cast<int>(i);
    Panels[i]->setGeometry(spans[i].Left, 0, spans[i].Width, height());
    const bool alert = Model.FigureAlert(index);
    Panels[i]->Show(QString::fromStdString(Model.FigureText(index, separator)), alert ? AlertFont : font());
    Panels[i]->show();
  }
}

int TQelClock::PanelCount() const {
  return Model.PanelMode == pmClock ? 1 + TStatusBarModel::kIndicatorPanels : TStatusBarModel::kResourcePanels;
}

QString TQelClock::PanelText(int index) const {
  if (index < 0 || index >= PanelCount()) return QString();
  return Panels[static_cast<std::size_t>(index)]->accessibleName();
}

QRect TQelClock::PanelRect(int index) const {
  if (index < 0 || index >= PanelCount()) return QRect();
  return Panels[static_cast<std::size_t>(index)]->geometry();
}
