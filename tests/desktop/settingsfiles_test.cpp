// A settings file applied whole on every path a user takes (the command
// line, File|Open, the recent list, Configure OK), judged by what the user
// then sees: the colours of text that arrives afterwards and of trace lines,
// the font, the window's size and position, and a command lookup that works.
// Also the Setup menu's Connect and Disconnect items themselves.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <functional>
#include <memory>

#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "core/session.h"
#include "desktop/configdialog.h"
#include "desktop/mainwindow.h"
#include "desktop/screenview.h"
#include "guitesting.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/loopback.h"
#include "support/testing.h"

namespace {
QColor ToQColor(TColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// A site's settings: white on red, yellow on navy errors, a 12-point font,
// the window at 40,30 and 900 x 600, QUORIX with a command file whose
// PHONE lookup finds Smith.
struct TSiteFiles {
  TTempDir Dir;
  std::string Settings = Dir.file("site.mse");
  explicit TSiteFiles(const TSetupRecord& base) {
    WriteFileBytes(Dir.file("phones.txt"), "Miller 4711\nSmith 0815\n");
    WriteFileBytes(Dir.file("site.fil"), "PHONE," + Dir.file("phones.txt") + ",3,TEL: ,\n");
    TSetupRecord site = base;
    site.Emulation = emQuorix;
    site.ForegroundColor = colors::White;
    site.BackgroundColor = colors::Red;
    site.ErrorAttr.Foreground = colors::Yellow;
    site.ErrorAttr.Background = colors::Navy;
    site.FontName = "Liberation Mono";
    site.FontSize = 12;
    site.WindowLeft = 40;
    site.WindowTop = 30;
    site.WindowWidth = 900;
    site.WindowHeight = 600;
    site.CommandFileName = Dir.file("site.fil");
    if (WriteSettingsRecord(Settings, site) != 0) throw std::runtime_error("cannot write the settings file");
  }
};

TSetupRecord Defaults() {
  TSetupRecord r;
  r.ApplyDefaults();
  return r;
}

struct TWindow {
  TTempDir Dir;
  std::unique_ptr<TMainWindow> W;
  // before: runs on the program directory before the window is made.
  explicit TWindow(const std::string& settingsFile = {},
                   const std::function<void(const TTempDir&)>& before = {}) {
    if (before) before(Dir);
    TWindowOptions options;
    options.SkipBackgroundFile = true;
    options.SettingsFile = settingsFile;
    W = std::make_unique<TMainWindow>(Dir.path().string(), options);
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    W->StartUp();
    if (QWidget* panel = W->findChild<QWidget*>("QelStartupPanel")) QTest::mouseClick(panel, Qt::LeftButton);
  }
  TSession& S() { return W->Session(); }
  TScreenView& View() { return *W->ScreenView(); }
  void Receive(const std::string& bytes) {
    S().ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    Settle();
  }
  void Settle() {
    WaitFor([&] { return S().Screen->PendingDamage().Empty(); });
    QTest::qWait(60);
  }
  // The colour painted in the middle of a store cell's lower edge band
  // (below the glyphs: the cell's background).
  QColor Painted(int line, int column) {
    const QImage shot = View().viewport()->grab().toImage();
    const QRect cell = View().CellRect(line, column);
    return shot.pixelColor(cell.center().x(), cell.bottom());
  }
  // Where the text a line starts with lies on the screen, or -1.
  int LineStarting(const std::string& text) {
    const TBrowse& store = *S().Screen;
    for (int line = store.Count() - 1; line >= 0; --line)
      if (store.GetLineText(line).rfind(text, 0) == 0) return line;
    return -1;
  }
};

// Runs `step` once a visible window of type T shows up.
template <typename T>
void WhenShown(std::function<void(T*)> step) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<T*>(widget); found && found->isVisible()) {
        timer->stop();
        timer->deleteLater();
        step(found);
        return;
      }
    }
  });
  timer->start();
}

// What the user sees after the site's file was opened, checked as they would.
void ExpectTheSiteApplied(TWindow& t) {
  // The window's size and position.
  QCOMPARE(t.W->width(), 900);
  QCOMPARE(t.W->height(), 600);
  QCOMPARE(t.W->pos(), QPoint(40, 30));
  // The font: the screen's cells are those of a 12-point font.
  QCOMPARE(t.S().Screen->FontName, std::string("Liberation Mono"));
  QFont twelve(QStringLiteral("Liberation Mono"), 12);
  QCOMPARE(t.View().CellSize().height(), static_cast<int>(std::ceil(QFontMetricsF(twelve).lineSpacing())));
  // Text that arrives afterwards is white on red; an error line of the trace
  // yellow on navy.
  t.Receive("\r\narrived after the open\r\n");
  const int line = t.LineStarting("arrived after the open");
  QVERIFY(line >= 0);
  QCOMPARE(t.Painted(line, 3), ToQColor(colors::Red));
  t.S().Writer->WriteLine("an error line", caError);
  t.Settle();
  const int error = t.LineStarting("an error line");
  QVERIFY(error >= 0);
  QCOMPARE(t.Painted(error, 3), ToQColor(colors::Navy));
  t.W->grab().save(ArtifactPath("settings-applied.png"));
  // A command lookup typed at the prompt finds its record.
  t.View().setFocus();
  QTest::keyClicks(&t.View(), "phone smith");
  QTest::keyClick(&t.View(), Qt::Key_Return);
  QVERIFY(WaitFor([&] { return t.LineStarting("TEL: Smith 0815") >= 0; }));
}
}  // namespace

class TSettingsFilesTest : public QObject {
  Q_OBJECT
 private slots:
  void FileOpenAppliesTheFileWhole() {
    TWindow t;
    TSiteFiles site(t.S().Settings);
    WhenShown<QFileDialog>([&](QFileDialog* dialog) {
      dialog->selectFile(QString::fromStdString(site.Settings));
      QMetaObject::invokeMethod(dialog, "accept");
    });
    t.W->Actions().Open->trigger();
    QCOMPARE(t.W->windowTitle(), QString::fromStdString("QEL for Windows : [" + site.Settings + "]"));
    ExpectTheSiteApplied(t);
  }

  void TheRecentListAppliesItToo() {
    TSiteFiles site(Defaults());
    // Opened in an earlier run, it heads the recent list.
    TWindow t({}, [&](const TTempDir& dir) { WriteFileBytes(dir.file("QelWin.INI"), site.Settings + "\r\n"); });
    QAction* first = t.W->Actions().Recent[0];
    QVERIFY(first->isVisible());
    first->trigger();
    ExpectTheSiteApplied(t);
  }

  void TheCommandLineAppliesItAtStartUp() {
    TSiteFiles site(Defaults());
    TWindow t(site.Settings);
    ExpectTheSiteApplied(t);
  }

  void ConfigureOkAppliesColoursAndTheCommandFile() {
    TWindow t;
    TSiteFiles site(t.S().Settings);
    t.S().Settings.Emulation = emQuorix;
    WhenShown<TConfigDialog>([&](TConfigDialog* dialog) {
      dialog->ChooseColor = [](TColor, const QString& title) -> std::optional<TColor> {
        return title.contains("Background") ? colors::Red : colors::White;
      };
      for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().remove('&') == "Background" || button->text().remove('&') == "Foreground") button->click();
      }
      dialog->FileEdit(feCommand)->setText(QString::fromStdString(site.Dir.file("site.fil")));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    t.W->Actions().Configure->trigger();
    QCOMPARE(t.S().Settings.BackgroundColor, colors::Red);
    t.Receive("\r\nafter configure\r\n");
    const int line = t.LineStarting("after configure");
    QVERIFY(line >= 0);
    QCOMPARE(t.Painted(line, 3), ToQColor(colors::Red));
    t.View().setFocus();
    QTest::keyClicks(&t.View(), "phone miller");
    QTest::keyClick(&t.View(), Qt::Key_Return);
    QVERIFY(WaitFor([&] { return t.LineStarting("TEL: Miller 4711") >= 0; }));
  }

  void DisconnectIsDisabledAsAnItemUntilAConnectionIsUp() {
    TLoopbackHost host;
    TWindow t;
    const auto& a = t.W->Actions();
    QVERIFY(a.ConnectMenu->isEnabled());
    QVERIFY(!a.DisconnectMenu->isEnabled());
    QCOMPARE(a.DisconnectMenu->text(), QString("&Disconnect"));
    QCOMPARE(a.DisconnectMenu->menu()->actions().size(), 2);
    t.S().Settings.HostName.assign(host.Address());
    t.S().Settings.Port = 0;
    a.ConnectNetwork->trigger();
    const int peer = host.AcceptOne();
    QVERIFY(peer >= 0);
    QVERIFY(WaitFor([&] { return t.S().Transmit->NetworkConnected; }));
    QVERIFY(a.DisconnectMenu->isEnabled());
    QVERIFY(!a.ConnectMenu->isEnabled());
    a.DisconnectNetwork->trigger();
    ::close(peer);
    QVERIFY(!a.DisconnectMenu->isEnabled());
    QVERIFY(a.ConnectMenu->isEnabled());
  }
};

QTEST_MAIN(TSettingsFilesTest)
#include "settingsfiles_test.moc"
