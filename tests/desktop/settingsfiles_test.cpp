// A settings file applied whole on every path a user takes (the command
// line, File|Open, the recent list, Configure OK), judged by what the user
// sees next: the colours of text that arrives afterwards and of trace lines,
// the font, the window's size and position, a command lookup that works.
#include <QAction>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cmath>

#include "app/settingsfile.h"
#include "app/session.h"
#include "desktop/colors.h"
#include "desktop/configdialog.h"
#include "desktop/mainwindow.h"
#include "desktop/screenview.h"
#include "guitesting.h"
#include "screen/store.h"
#include "screen/writer.h"

namespace {

// A site's settings: white on red, errors yellow on navy, a 12-point font,
// the window at 40,30 and 900 x 600, QUORIX with a command file whose PHONE
// lookup finds numbers.
struct TSite {
  TTempDir Dir;
  std::string Settings = Dir.file("site.mse");
  TSite() {
    WriteFileBytes(Dir.file("phones.txt"), "Miller 4711\nSmith 0815\n");
    WriteFileBytes(Dir.file("site.fil"), "PHONE," + Dir.file("phones.txt") + ",3,TEL: ,\n");
    TSetupRecord site = DefaultSettings();
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
    if (WriteSettingsRecord(Settings, site) != 0) qFatal("cannot write %s", Settings.c_str());
  }
};

// The background painted under a store cell (its foot, below the glyphs).
QColor Painted(TStartedWindow& t, int line, int column) {
  TScreenView& view = *t.W->ScreenView();
  const QRect cell = view.CellRect(line, column);
  return view.viewport()->grab().toImage().pixelColor(cell.center().x(), cell.bottom());
}

int LineStarting(TStartedWindow& t, const std::string& text) {
  const TBrowse& store = *t.S().Screen;
  for (int line = store.Count() - 1; line >= 0; --line)
    if (store.GetLineText(line).rfind(text, 0) == 0) return line;
  return -1;
}

// Typed at the Quorix prompt, the lookup writes its record on the screen.
bool LookupFinds(TStartedWindow& t, const char* typed, const std::string& found) {
  TScreenView& view = *t.W->ScreenView();
  view.setFocus();
  QTest::keyClicks(&view, typed);
  QTest::keyClick(&view, Qt::Key_Return);
  return WaitFor([&] { return LineStarting(t, found) >= 0; });
}

void ExpectTheSiteApplied(TStartedWindow& t) {
  QCOMPARE(t.W->size(), QSize(900, 600));
  QCOMPARE(t.W->pos(), QPoint(40, 30));
  QCOMPARE(t.S().Screen->FontName, std::string("Liberation Mono"));
  const QFontMetricsF twelve(QFont(QStringLiteral("Liberation Mono"), 12));
  QCOMPARE(t.W->ScreenView()->CellSize().height(), static_cast<int>(std::ceil(twelve.lineSpacing())));
  t.Receive("\r\narrived after the open\r\n");
  const int line = LineStarting(t, "arrived after the open");
  QVERIFY(line >= 0);
  QCOMPARE(Painted(t, line, 3), ToQColor(colors::Red));
  t.S().Writer->WriteLine("an error line", caError);
  t.Settle();
  QCOMPARE(Painted(t, LineStarting(t, "an error line"), 3), ToQColor(colors::Navy));
  t.W->grab().save(ArtifactPath("settings-applied.png"));
  QVERIFY(LookupFinds(t, "phone smith", "TEL: Smith 0815"));
}
}  // namespace

class TSettingsFilesTest : public QObject {
  Q_OBJECT
 private slots:
  void FileOpen() {
    TSite site;
    TStartedWindow t;
    std::string asked;
    t.W->Desktop().OnFileDialog = [&](const TFileDialog& dialog) -> std::optional<std::string> {
      asked = dialog.Title + (dialog.MustExist && !dialog.Save ? ", an existing file" : "");
      return site.Settings;
    };
    t.W->Actions().Open->trigger();
    QCOMPARE(asked, std::string("Open QEL Settings File, an existing file"));
    QCOMPARE(t.W->windowTitle(), QString::fromStdString("QEL for Windows : [" + site.Settings + "]"));
    ExpectTheSiteApplied(t);
  }

  void TheRecentList() {
    TSite site;
    TStartedWindow t({}, [&](const TTempDir& dir) { WriteFileBytes(dir.file("QelWin.INI"), site.Settings + "\r\n"); });
    t.W->Actions().Recent[0]->trigger();
    ExpectTheSiteApplied(t);
  }

  void TheCommandLine() {
    TSite site;
    TStartedWindow t(site.Settings);
    ExpectTheSiteApplied(t);
  }

  // What else Configure's OK makes live (a new command file among it) is the
  // configuration rules' test; here, that the window applies it.
  void ConfigureOk() {
    TStartedWindow t;
    WhenShown<TConfigDialog>([&](TConfigDialog* dialog) {
      dialog->ChooseColor = [](TColor, const QString& title) -> std::optional<TColor> {
        return title.contains("Background") ? colors::Red : colors::White;
      };
      for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (const QString text = button->text().remove('&'); text == "Background" || text == "Foreground") button->click();
      DialogButton(*dialog, QDialogButtonBox::Ok)->click();
    });
    t.W->Actions().Configure->trigger();
    t.Receive("\r\nafter configure\r\n");
    QCOMPARE(Painted(t, LineStarting(t, "after configure"), 3), ToQColor(colors::Red));
  }
};

QTEST_MAIN(TSettingsFilesTest)
#include "settingsfiles_test.moc"
