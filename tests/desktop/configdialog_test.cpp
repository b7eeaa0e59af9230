// The configuration dialog and the colour and attribute chooser, offscreen.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <algorithm>
#include <cstring>

#include "core/desktop.h"
#include "desktop/attributechooser.h"
#include "desktop/configdialog.h"
#include "guitesting.h"
#include "support/scripteddesktop.h"

Q_DECLARE_METATYPE(TSetupRecord)

namespace {
bool SameBytes(const TSetupRecord& a, const TSetupRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

class TConfigDialogTest : public QObject {
  Q_OBJECT

 private:
  TScriptedDesktop Desktop;

 private slots:
  void HasItsCaptionTabsAndButtonsAndEveryPageItsControls() {
    TConfigDialog dialog(DefaultSettings(), Desktop);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("QelWin Configuration Parameters"));
    QTabWidget* tabs = dialog.Pages();
    QCOMPARE(tabs->tabPosition(), QTabWidget::South);
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{" Display ", " Files ", " Connectivity ", " Trace Parameters ",
                                  " Transfer Parameters", " Advanced"}));
    for (auto which : {QDialogButtonBox::Ok, QDialogButtonBox::Cancel, QDialogButtonBox::Help})
      QVERIFY(DialogButton(dialog, which));
    QCOMPARE(DialogButton(dialog, QDialogButtonBox::Apply)->text().remove('&'), QStringLiteral("Apply"));
    // Each page's check boxes, buttons and labels; a label stands for its field.
    const QList<QStringList> pages{
        {"Wrap", "Local Echo", "New Line", "Lazy Scroll", "Follow Cursor", "ETX Send Ack", "Foreground",
         "Background", "Blink", "Mark Foreground", "Mark Background", "Font..."},
        {"Browse...", "Log File Name:", "Mode File Name:", "Simulate File Name:", "Send/Receive File Name:",
         "Ornet Files Directory:", "Command File Name:", "EBCDIC Map File Name:"},
        {"Baudrate", "Parity", "Flow Control", "Stop Bits", "Data Bits", "Host Name:", "Port", "User Name: ",
         "Password: ", "Host Name: ", "Remote Path: ", "Local Path: "},
        {"Display Msg Header", "Display Msg Buffer", "Display User Buffer", "Convert Set Elements",
         "Background Logging", "'COL' turns trace on", "':COL' turns MINI-trace on", "IE Attr", "DSS1 Msg Attr",
         "MBID Attr", "VMI Attr", "Data Attr", "Error Attr", "MSG Attr", "Indicator Attr", "Quorix Type"},
        {"Send Ctrl-Z at EOF", "Ctrl-Z EOF", "Suppress Ctrl-Char", "Character Delay", "Line Delay",
         "Wait After Line", "Char To Wait For", "End Of Line"},
        {"Wait for Echo", "Use Improved Protocol", "Esc Flushes Inbuffer", "SoftKey Delay", "Max Echo Delay",
         "Nbr of Retries", "Pads Delay"}};
    for (int page = 0; page < tabs->count(); ++page) {
      QCOMPARE(MissingTexts(*tabs->widget(page), pages[page]), QStringList());
      for (const QString& text : pages[page]) {
        if (QLabel* label = Named<QLabel>(tabs->widget(page), text)) QVERIFY2(label->buddy(), qPrintable(text));
      }
    }
    for (const char* text : {"QUORIX", "VT100", "VT220-8bit", "TN3270", "Backspace", "Delete"})
      QVERIFY2(Named<QRadioButton>(&dialog, text), text);
    // The hidden edits and button are not shown.
    QVERIFY(!Named<QLabel>(&dialog, "VMI File Name:"));
    QVERIFY(!dialog.FileEdit(feVMI)->isVisibleTo(&dialog));
    QVERIFY(!Named<QPushButton>(&dialog, "SND/RCV Attr")->isVisibleTo(&dialog));
    // COM1..COM4 only.
    QVERIFY(Named<QRadioButton>(&dialog, "COM4"));
    QVERIFY(!Named<QRadioButton>(&dialog, "COM5"));
  }

  void ControlsShowTheRecord() {
    TSetupRecord r = DefaultSettings();
    r.WaitChar = 13;
    r.LogFileName = "trace.log";
    r.ComPort = 5;
    r.StopBits = 2;
    r.DataBits = 3;
    r.Port = 4;
    r.Emulation = 2;
    r.LazyScroll = 2;
    r.LineDelay = 2;
    r.BaudRate = 12;
    TConfigDialog dialog(r, Desktop);
    QCOMPARE(Field<QLineEdit>(&dialog, "Char To Wait For")->text(), QStringLiteral("<13>"));
    QCOMPARE(dialog.FileEdit(feLog)->text(), QStringLiteral("trace.log"));
    QCOMPARE(dialog.FileEdit(feLog)->cursorPosition(), 0);
    for (const char* com : {"COM1", "COM2", "COM3", "COM4"}) QVERIFY(!Named<QRadioButton>(&dialog, com)->isChecked());
    QStringList shown;
    for (const char* label : {"Stop Bits", "Data Bits", "Port", "Baudrate", "Line Delay"})
      shown << Field<QComboBox>(&dialog, label)->currentText();
    QCOMPARE(shown, (QStringList{"2 bits", "7 bits", "Chargen", "115200", "Wait For x/10 Seconds"}));
    QVERIFY(Named<QRadioButton>(&dialog, "VT220-8bit")->isChecked());
    QVERIFY(!Named<QCheckBox>(&dialog, "Lazy Scroll")->isChecked());
    QVERIFY(Named<QCheckBox>(&dialog, "Wrap")->isChecked());
  }

  // How a typed wait character reads is the rules' own test; here, that the
  // field is read by them (below and in OkReadsEveryPage), the record's
  // character the fallback for what is no character.
  void ApplyHandsBackTheEditedRecord() {
    TSetupRecord live = DefaultSettings();
    live.WaitChar = '#';
    TConfigDialog dialog(live, Desktop);
    QSignalSpy applied(&dialog, &TConfigDialog::Applied);
    Field<QLineEdit>(&dialog, "Host Name:")->setText("exchange.example");
    Field<QLineEdit>(&dialog, "Char To Wait For")->setText("<300>");
    Field<QComboBox>(&dialog, "Baudrate")->setCurrentIndex(12);
    DialogButton(dialog, QDialogButtonBox::Apply)->click();
    QCOMPARE(applied.count(), 1);
    const TSetupRecord handed = applied.at(0).at(0).value<TSetupRecord>();
    QCOMPARE(QString::fromStdString(handed.HostName.str()), QStringLiteral("exchange.example"));
    QCOMPARE(handed.BaudRate, 12);
    QCOMPARE(int(handed.WaitChar), int('#'));
    QCOMPARE(dialog.Draft().HostName.str(), std::string("exchange.example"));
    QVERIFY(dialog.isVisible() || dialog.result() == 0);  // Apply does not close
  }

  void OkWithoutEditsKeepsEveryByte() {
    // Values the dialog never writes, and a name not valid in the local encoding.
    TSetupRecord r = DefaultSettings();
    r.ComPort = 6;
    r.StopBits = 1;
    r.DataBits = 1;
    r.Emulation = emVT52;
    r.LazyScroll = 2;
    r.EOL = 9;
    r.MaxEchoDelay = 200;
    r.LogFileName = "\xE9t\xE9.log";
    r.Reserved12104[5] = 99;
    TConfigDialog dialog(r, Desktop);
    DialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(SameBytes(dialog.Draft(), r));
  }

  // A port typed outside the list is stored as no port.
  void OkReadsEveryPage() {
    TConfigDialog dialog(DefaultSettings(), Desktop);
    QComboBox* port = Field<QComboBox>(&dialog, "Port");
    QVERIFY(port->isEditable());
    port->setEditText("8023");
    Named<QCheckBox>(&dialog, "Local Echo")->setChecked(true);
    Named<QRadioButton>(&dialog, "132 Columns")->setChecked(true);
    Named<QRadioButton>(&dialog, "TN3270")->setChecked(true);
    Named<QRadioButton>(&dialog, "Backspace")->setChecked(true);
    dialog.FileEdit(feMode)->setText("/modes/base");
    dialog.FileEdit(feOrnet)->setText("/ornet/");
    Named<QRadioButton>(&dialog, "COM3")->setChecked(true);
    Field<QComboBox>(&dialog, "Stop Bits")->setCurrentIndex(1);
    Field<QComboBox>(&dialog, "Data Bits")->setCurrentIndex(0);
    Field<QComboBox>(&dialog, "Flow Control")->setCurrentIndex(3);
    Field<QLineEdit>(&dialog, "Password: ")->setText(QString(100, 'p'));
    Named<QCheckBox>(&dialog, "Display Msg Header")->setChecked(true);
    Field<QComboBox>(&dialog, "Quorix Type")->setCurrentIndex(2);
    Field<QComboBox>(&dialog, "End Of Line")->setCurrentIndex(3);
    Field<QSpinBox>(&dialog, "Wait After Line")->setValue(25);
    Field<QLineEdit>(&dialog, "Char To Wait For")->setText("  $ ");
    Named<QCheckBox>(&dialog, "Suppress Ctrl-Char")->setChecked(true);
    Field<QSpinBox>(&dialog, "Nbr of Retries")->setValue(5);
    Field<QSpinBox>(&dialog, "SoftKey Delay")->setValue(100);
    Named<QCheckBox>(&dialog, "Esc Flushes Inbuffer")->setChecked(true);
    Named<QCheckBox>(&dialog, "Use Improved Protocol")->setChecked(false);
    DialogButton(dialog, QDialogButtonBox::Ok)->click();
    const TSetupRecord& d = dialog.Draft();
    QCOMPARE((QList<int>{d.Port, d.LocalEcho, d.ScreenSize, d.Emulation, d.BackSpaceSends, d.ComPort,
                         d.StopBits, d.DataBits, d.FlowControl, d.DisplayMsgHeader, d.QuorixType, d.EOL,
                         d.LineDly, d.WaitChar, d.SuppressCtrlChar, d.PadsRetries, d.SoftKeyDelay,
                         d.EscFlush, d.ImprovedProtocol}),
             (QList<int>{kNoPortIndex, 1, 1, emTN3270, 0, 2, 2, 3, 3, 1, 2, 3, 25, '$', 1, 5, 100, 1, 0}));
    QCOMPARE((QStringList{QString::fromStdString(d.ModeFileName.str()),
                          QString::fromStdString(d.OrnetDirectoryName.str()),
                          QString::fromStdString(d.FTPPassword.str())}),
             (QStringList{"/modes/base", "/ornet/", QString(80, 'p')}));
  }

  void BrowseFillsTheEditClickedLast() {
    TSetupRecord r = DefaultSettings();
    r.LogFileName = "old.log";
    r.CommandFileName = "lookup.fil";
    TConfigDialog dialog(r, Desktop);
    QVERIFY(Exposed(dialog));
    dialog.Pages()->setCurrentIndex(1);
    QPushButton* browse = Named<QPushButton>(&dialog, "Browse...");
    Desktop.Dialogs.clear();
    Desktop.DialogAnswers = {std::string("/logs/new.log")};
    browse->click();  // the log edit is the one selected at first
    QCOMPARE(Desktop.Dialogs.size(), std::size_t(1));
    QCOMPARE((std::vector<std::string>{Desktop.Dialogs[0].Filter, Desktop.Dialogs[0].InitialName}),
             (std::vector<std::string>{FileEditInfo(feLog).Filter, "old.log"}));
    QCOMPARE(dialog.FileEdit(feLog)->text(), QStringLiteral("/logs/new.log"));

    QTest::mouseClick(dialog.FileEdit(feCommand), Qt::LeftButton);
    QCOMPARE(dialog.BrowseTarget(), feCommand);
    Desktop.DialogAnswers = {std::nullopt};
    browse->click();
    QCOMPARE((std::vector<std::string>{Desktop.Dialogs[1].Filter, Desktop.Dialogs[1].InitialName}),
             (std::vector<std::string>{FileEditInfo(feCommand).Filter, "lookup.fil"}));
    QCOMPARE(dialog.FileEdit(feCommand)->text(), QStringLiteral("lookup.fil"));  // cancelled: unchanged

    QTest::mouseClick(dialog.FileEdit(feOrnet), Qt::LeftButton);
    Desktop.DialogAnswers = {std::string("/srv/ornet/KASP.MSG")};
    browse->click();
    QCOMPARE(dialog.FileEdit(feOrnet)->text(), QStringLiteral("/srv/ornet/"));
    DialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.Draft().LogFileName.str(), std::string("/logs/new.log"));
    QCOMPARE(dialog.Draft().OrnetDirectoryName.str(), std::string("/srv/ornet/"));
  }

  void AttributeButtonsOpenTheChooserOnTheirBlock() {
    TConfigDialog dialog(DefaultSettings(), Desktop);
    QStringList captions;
    TAttributeChoice preset;
    dialog.ChooseAttributes = [&](const QString& caption, const TAttributeChoice& p) -> std::optional<TAttributeChoice> {
      captions << caption;
      preset = p;
      return TAttributeChoice{colors::Purple, colors::Yellow, fsItalic};
    };
    Named<QPushButton>(&dialog, "Error Attr")->click();
    QCOMPARE(captions, QStringList{"Error Attributes"});
    // The chooser opens on the block's own look.
    QCOMPARE(std::pair(preset.Foreground, int(preset.Style)), std::pair(colors::Red, int(fsBold)));
    const TAttributeBlock& error = dialog.Draft().ErrorAttr;
    QCOMPARE(std::tuple(TColor(error.Foreground), TColor(error.Background), int(error.Style)),
             std::tuple(colors::Purple, colors::Yellow, int(fsItalic)));
    QCOMPARE(dialog.Draft().IEAttr.Foreground, colors::Blue);  // others untouched
    dialog.ChooseAttributes = [&](const QString& caption, const TAttributeChoice&) -> std::optional<TAttributeChoice> {
      captions << caption;
      return std::nullopt;
    };
    Named<QPushButton>(&dialog, "MSG Attr")->click();
    QCOMPARE(captions.last(), QStringLiteral("Message Attributes"));
    QCOMPARE(dialog.Draft().MsgAttr.Foreground, colors::Black);
  }

  void ColourAndFontButtonsEditTheDraft() {
    TConfigDialog dialog(DefaultSettings(), Desktop);
    QString asked;
    dialog.ChooseColor = [&](TColor current, const QString& title) -> std::optional<TColor> {
      asked = title;
      return current == colors::Blue ? std::optional<TColor>(colors::Green) : std::nullopt;
    };
    Named<QPushButton>(&dialog, "Mark Background")->click();
    QCOMPARE(asked, QStringLiteral("Mark Background"));
    QCOMPARE(dialog.Draft().MarkBackgroundColor, colors::Green);
    Named<QPushButton>(&dialog, "Foreground")->click();  // cancelled
    QCOMPARE(dialog.Draft().ForegroundColor, colors::Black);

    QFont preset;
    dialog.ChooseFont = [&](const QFont& current) -> std::optional<QFont> {
      preset = current;
      QFont font(QString(45, 'N'));
      font.setPointSize(11);
      font.setBold(true);
      font.setUnderline(true);
      return font;
    };
    Named<QPushButton>(&dialog, "Font...")->click();
    QCOMPARE(std::pair(preset.family(), preset.pointSize()), std::pair(QStringLiteral("Courier New"), 8));
    const TSetupRecord& d = dialog.Draft();
    QCOMPARE(std::tuple(QString::fromStdString(d.FontName.str()), int(d.FontSize), int(d.FontStyle)),
             std::tuple(QString(40, 'N'), 11, fsBold | fsUnderline));
  }

  void ChooserPicksColoursWithEitherButtonAndStyles() {
    TAttributeChooser chooser("IE Attributes", {colors::Blue, colors::White, fsBold | fsStrikeOut});
    QVERIFY(Exposed(chooser));
    QCOMPARE(chooser.windowTitle(), QStringLiteral("IE Attributes"));
    QVERIFY(Named<QLabel>(&chooser, "Left Mousebutton = FG               Right Mousebutton = BG"));
    QVERIFY(Named<QCheckBox>(&chooser, "Bold")->isChecked());
    QVERIFY(!Named<QCheckBox>(&chooser, "Italic")->isChecked());
    TColorGrid* grid = chooser.findChild<TColorGrid*>();
    const auto& palette = ChooserPalette();
    const int red = int(std::find(palette.begin(), palette.end(), colors::Red) - palette.begin());
    const int yellow = int(std::find(palette.begin(), palette.end(), colors::Yellow) - palette.begin());
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(red).center());
    QTest::mouseClick(grid, Qt::RightButton, {}, grid->CellRect(yellow).center());
    Named<QCheckBox>(&chooser, "Bold")->setChecked(false);
    Named<QCheckBox>(&chooser, "Underline")->setChecked(true);
    QVERIFY(chooser.grab().save(ArtifactPath("attribute-chooser.png")));
    const TAttributeChoice choice = chooser.Choice();
    QCOMPARE(std::tuple(TColor(choice.Foreground), TColor(choice.Background), int(choice.Style)),
             std::tuple(colors::Red, colors::Yellow, fsUnderline | fsStrikeOut));
    QListWidget* samples = chooser.findChild<QListWidget*>();
    QVERIFY(samples->count() >= 3);
    QCOMPARE(samples->item(0)->foreground().color(), QColor(Qt::red));
    QVERIFY(samples->item(0)->font().underline());
  }
};

QTEST_MAIN(TConfigDialogTest)
#include "configdialog_test.moc"
