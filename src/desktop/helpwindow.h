// The bundled manual (manual.html, in the program's resources) shown in a
// window of its own at a topic: the Help menu, the Help buttons of the
// dialogs and of the error boxes each open the topic that explains them.
#pragma once

#include <QString>

class QTextBrowser;
class QWidget;
struct TMessageBox;

// Topics: anchors of the manual.
namespace help {
inline constexpr const char* kContents = "";
inline constexpr const char* kConnecting = "connecting";
inline constexpr const char* kConfigure = "configure";
inline constexpr const char* kAttributes = "attributes";
inline constexpr const char* kSoftKeys = "softkeys";
inline constexpr const char* kTransfer = "transfer";
inline constexpr const char* kPaste = "paste";
inline constexpr const char* kTrace = "trace";
inline constexpr const char* kModes = "modes";
inline constexpr const char* kMemo = "memo";
inline constexpr const char* kPrinting = "printing";
inline constexpr const char* kFiles = "files";
inline constexpr const char* kErrors = "errors";
}  // namespace help

// Shows the manual at the topic in a window belonging to from's window
// (made on first use, so a modal dialog's manual can be read while the
// dialog waits). False when the manual cannot be read.
bool ShowHelpTopic(QWidget* from, const QString& topic);
// The manual window of from's window; null until one was shown.
QTextBrowser* HelpWindowOf(QWidget* from);

// The topic a box's Help button opens.
QString HelpTopicOf(const TMessageBox& box);
