#include "desktop/helpwindow.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>

#include "core/desktop.h"

namespace {
const QString kManual = QStringLiteral("qrc:/qelwin/manual.html");
const QString kWindowName = QStringLiteral("Manual");

bool Mentions(const std::string& text, const char* words) { return text.find(words) != std::string::npos; }
}  // namespace

// The manual is compiled into the window library; naming its resource here
// makes the linker keep it in every program that shows help.
static void RegisterManual() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  (void)registered;
}

QTextBrowser* HelpWindowOf(QWidget* from) {
  if (!from) return nullptr;
  return from->window()->findChild<QTextBrowser*>(kWindowName, Qt::FindDirectChildrenOnly);
}

bool ShowHelpTopic(QWidget* from, const QString& topic) {
  RegisterManual();
  if (!QFile::exists(QStringLiteral(":/qelwin/manual.html"))) return false;
  QTextBrowser* browser = HelpWindowOf(from);
  if (!browser) {
    browser = new QTextBrowser(from ? from->window() : nullptr);
    browser->setObjectName(kWindowName);
    browser->setWindowFlag(Qt::Window);
    browser->setWindowTitle(QStringLiteral("QEL for Windows Help"));
    browser->setOpenExternalLinks(false);
    browser->resize(640, 720);
  }
  browser->show();
  browser->raise();
  browser->activateWindow();
  if (browser->source() != QUrl(kManual)) browser->setSource(QUrl(kManual));
  // Laid out whole, the page has room to scroll any anchor to the top.
  browser->document()->documentLayout()->documentSize();
  if (topic.isEmpty())
    browser->verticalScrollBar()->setValue(0);
  else
    browser->scrollToAnchor(topic);
  return true;
}

QString HelpTopicOf(const TMessageBox& box) {
  const std::string& text = box.Text;
  if (Mentions(text, "Terminal Type")) return QString::fromLatin1(help::kTrace);
  if (Mentions(text, "Paste")) return QString::fromLatin1(help::kPaste);
  if (Mentions(text, "Playback") || Mentions(text, "Simulate") || Mentions(text, "Replay") ||
      Mentions(text, "Send File Name") || Mentions(text, "Receive File Name"))
    return QString::fromLatin1(help::kTransfer);
  if (Mentions(text, "LogFile Name") || Mentions(text, "Log File")) return QString::fromLatin1(help::kFiles);
  return QString::fromLatin1(help::kErrors);
}
