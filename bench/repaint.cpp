// Full repaint of a 132 x 24 screen of mixed attributes (bold, underline,
// reverse, colours, line-drawing bytes, a selection) by the screen view,
// offscreen, rendered into an image: the median over many runs.
//   bench_repaint [RUNS [PNG]]      (PNG: the last repaint, saved)
#include <QApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/session.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "desktop/screenview.h"
#include "screen/store.h"

namespace {
// Row r of the screen: runs of changing looks across all 132 columns.
std::string MixedRow(int r) {
  static const char* const looks[] = {"\x1b[0m", "\x1b[1m", "\x1b[4m", "\x1b[7m", "\x1b[0;31m", "\x1b[0;32;44m", "\x1b[1;33m"};
  std::string row = "\x1b[" + std::to_string(r) + ";1H";
  for (int column = 0; column < 132; column += 12) {
    row += looks[(r + column / 12) % 7];
    for (int k = 0; k < 12 && column + k < 132; ++k)
      row += static_cast<char>(k == 5 ? '\xC4' : 'A' + (r * 7 + column + k) % 58);
  }
  return row + "\x1b[0m";
}

void Receive(TSession& session, const std::string& bytes) {
  session.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}
}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 400;
  const TTemporaryDirectory directory("qelbench");
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  session.StartUp();
  Receive(session, "\x1b[?3h");
  for (int r = 1; r <= 24; ++r) Receive(session, MixedRow(r));
  TBrowse& store = *session.Screen;
  PlaceMark(store, kSelectionMark, store.ScreenLine(5), store.ScreenLine(9), 20, 70);

  TScreenView view(store);
  view.resize(view.SizeForColumns(132));
  view.show();
  QApplication::processEvents();
  QWidget* port = view.viewport();
  QImage image(port->size() * port->devicePixelRatioF(), QImage::Format_RGB32);
  image.setDevicePixelRatio(port->devicePixelRatioF());

  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    port->render(&image);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  if (argc > 2) image.save(QString::fromLocal8Bit(argv[2]));  // to look at what was drawn
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  const double target = 1.5;
  std::printf("repaint 132x24 mixed attributes  median %6.3f ms  best %6.3f ms  (%d runs, %dx%d px; target %.1f ms) %s\n",
              median, times.front(), runs, port->width(), port->height(), target,
              median <= target ? "ok" : "SLOW");
  return 0;
}
