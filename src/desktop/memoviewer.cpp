#include "desktop/memoviewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include "auxwin/printcommand.h"
#include "auxwin/printing.h"
#include "desktop/helpwindow.h"
#include "desktop/pageprinter.h"
#include "desktop/printdialog.h"
#include "screen/selection.h"
#include "screen/store.h"

namespace {
QString MemoText(const std::string& text) {
  QString out = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  // The text's last line end opens no line of its own.
  if (out.endsWith(QLatin1Char('\n'))) out.chop(1);
  return out;
}
}  // namespace

TQelMemoForm::TQelMemoForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("QelMemoForm"));
  View = new QPlainTextEdit(this);
  View->setObjectName(QStringLiteral("MemoBrowse"));
  View->setReadOnly(true);
  View->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  View->setLineWrapMode(QPlainTextEdit::NoWrap);
  View->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  View->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font(QStringLiteral("Courier New"), 8);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  View->setFont(font);
  // Black on white, the mark white on blue, also while the window is inactive.
  QPalette colours = View->palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    colours.setColor(group, QPalette::Base, Qt::white);
    colours.setColor(group, QPalette::Text, Qt::black);
    colours.setColor(group, QPalette::Highlight, QColor(0, 0, 255));
    colours.setColor(group, QPalette::HighlightedText, Qt::white);
  }
  View->setPalette(colours);
  View->installEventFilter(this);
  View->viewport()->installEventFilter(this);
  View->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(View, &QPlainTextEdit::cursorPositionChanged, this, &TQelMemoForm::MarkCursorLine);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(View);
  BuildMenus();

  // 80 character widths by 20 line heights of the viewer's font.
  const QFontMetrics metrics(font);
  const int frame = 2 * View->frameWidth() + View->verticalScrollBar()->sizeHint().width();
  View->setMinimumSize(120, 80);
  resize(metrics.horizontalAdvance(QLatin1Char('M')) * 80 + frame + 8,
         metrics.lineSpacing() * 20 + frame + layout->menuBar()->sizeHint().height() + 8);
}

TQelMemoForm::~TQelMemoForm() = default;

void TQelMemoForm::BuildMenus() {
  auto* bar = new QMenuBar(this);
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  Menu.Print = file->addAction(QStringLiteral("&Print"));
  Menu.Exit = file->addAction(QStringLiteral("&Exit"));
  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  Menu.Copy = edit->addAction(QStringLiteral("&Copy"));
  Menu.PasteToDisk = edit->addAction(QStringLiteral("Paste to &Disk"));
  Menu.SelectAll = edit->addAction(QStringLiteral("Select All"));
  Menu.Unmark = edit->addAction(QStringLiteral("Unmark"));
  edit->addSeparator();
  Menu.Find = edit->addAction(QStringLiteral("&Find"));
  Menu.FindForward = edit->addAction(QStringLiteral("Find F&orward"));
  Menu.FindBackward = edit->addAction(QStringLiteral("Find &Backward"));
  Menu.Help = bar->addAction(QStringLiteral("&Help"));
  layout()->setMenuBar(bar);
  Menu.Print->setEnabled(false);
  Menu.PasteToDisk->setEnabled(false);

  connect(Menu.Print, &QAction::triggered, this, &TQelMemoForm::Print);
  connect(Menu.Exit, &QAction::triggered, this, &TQelMemoForm::Exit);
  connect(Menu.Copy, &QAction::triggered, View, &QPlainTextEdit::copy);
  connect(Menu.PasteToDisk, &QAction::triggered, this, [this] {
    if (Services.PasteToDisk) Services.PasteToDisk();
  });
  connect(Menu.SelectAll, &QAction::triggered, View, &QPlainTextEdit::selectAll);
  connect(Menu.Unmark, &QAction::triggered, this, [this] {
    QTextCursor cursor = View->textCursor();
    cursor.clearSelection();
    View->setTextCursor(cursor);
  });
  connect(Menu.Find, &QAction::triggered, this, &TQelMemoForm::ShowFindDialog);
  connect(Menu.FindForward, &QAction::triggered, this, [this] { Find(0); });
  connect(Menu.FindBackward, &QAction::triggered, this, [this] { Find(1); });
  connect(Menu.Help, &QAction::triggered, this, [this] { ShowHelpTopic(this, QString::fromLatin1(help::kMemo)); });
  // As in the main window: Paste to Disk wants text on the clipboard.
  connect(edit, &QMenu::aboutToShow, this, [this] {
    Menu.PasteToDisk->setEnabled(Services.PasteToDisk && !QApplication::clipboard()->text().isEmpty());
  });

  connect(View, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    Menu.PasteToDisk->setEnabled(Services.PasteToDisk && !QApplication::clipboard()->text().isEmpty());
    QMenu popup(this);
    const std::pair<const char*, QAction*> items[] = {
        {"Copy", Menu.Copy},     {"Paste to Disk", Menu.PasteToDisk}, {"Print", Menu.Print},
        {"Select All", Menu.SelectAll}, {"Unmark", Menu.Unmark},      {"Find", Menu.Find},
        {"Find Next", Menu.FindForward}, {"Find Previous", Menu.FindBackward}};
    for (const auto& [caption, item] : items) {
      QAction* entry = popup.addAction(QString::fromLatin1(caption), item, &QAction::trigger);
      entry->setEnabled(item->isEnabled());
    }
    popup.exec(View->viewport()->mapToGlobal(at));
  });
}

void TQelMemoForm::SetServices(const TMemoServices& services) {
  Services = services;
  Menu.Print->setEnabled(Services.Settings && Services.Files && Services.Desktop && Services.Printer);
}

std::unique_ptr<TBrowse> TQelMemoForm::LinesAsStore() const {
  auto store = std::make_unique<TBrowse>();
  // Courier New 8, black on white: the viewer's own look.
  TTextAttributes look;
  look.Foreground = colors::Black;
  look.Background = colors::White;
  look.Size = 8;
  look.FontName = "Courier New";
  store->FontName = look.FontName;
  store->FontSize = look.Size;
  const int attribute = store->InternAttribute(look);
  const QTextDocument* document = View->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const QByteArray text = block.text().toLatin1();
    store->AddLine(std::string_view(text.constData(), static_cast<std::size_t>(text.size())), attribute, false);
  }
  const QTextCursor cursor = View->textCursor();
  if (cursor.hasSelection()) {
    const QTextBlock first = document->findBlock(cursor.selectionStart());
    QTextBlock last = document->findBlock(cursor.selectionEnd());
    int endColumn = cursor.selectionEnd() - last.position();
    // A selection up to a line's start ends with the line before it.
    if (endColumn == 0 && last.blockNumber() > first.blockNumber()) {
      last = last.previous();
      endColumn = kLineCells;
    }
    PlaceMark(*store, kSelectionMark, first.blockNumber(), last.blockNumber(),
              cursor.selectionStart() - first.position() + 1, std::max(1, endColumn));
  }
  return store;
}

bool TQelMemoForm::PrintChosen(bool markedOnly, bool toFile) {
  if (!Services.Settings || !Services.Files || !Services.Desktop || !Services.Printer) return false;
  const std::unique_ptr<TBrowse> store = LinesAsStore();
  if (toFile) return PrintLinesToFile(*store, *Services.Settings, *Services.Files, *Services.Desktop, markedOnly);
  TPagePrinter pages(*store, *Services.Desktop);
  return pages.PrintLines(*Services.Printer, markedOnly, this) > 0;
}

void TQelMemoForm::Print() {
  if (!Services.Settings || !Services.Printer) return;
  TQelPrintDialog dialog(*Services.Printer, PrintPresets(*Services.Settings), Services.Settings->LogFileName.str(),
                         this);
  if (dialog.exec() != QDialog::Accepted) return;
  const TPrintChoice choice = dialog.Choice();
  PrintChosen(choice.MarkedOnly, choice.ToFile);
}

void TQelMemoForm::SetMemo(const TMemoText& memo) {
  setWindowTitle(QString::fromLatin1(memo.Title.data(), static_cast<qsizetype>(memo.Title.size())));
  View->setPlainText(MemoText(memo.Text));
  Chosen.clear();
  SetCursor(memo.CursorLine, memo.CursorColumn);
}

void TQelMemoForm::SetCursor(int line, int column) {
  QTextDocument* document = View->document();
  const int lineIndex = std::clamp(line, 1, std::max(1, document->blockCount())) - 1;
  const QTextBlock block = document->findBlockByNumber(lineIndex);
  const int columnIndex = std::clamp(column, 1, block.length()) - 1;
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + columnIndex);
  View->setTextCursor(cursor);
  View->ensureCursorVisible();
  MarkCursorLine();
}

int TQelMemoForm::CursorLine() const { return View->textCursor().blockNumber() + 1; }
int TQelMemoForm::CursorColumn() const { return View->textCursor().positionInBlock() + 1; }

// The caret's line is tinted, so the line Enter takes is plain to see.
void TQelMemoForm::MarkCursorLine() {
  QTextEdit::ExtraSelection line;
  line.format.setBackground(QColor(0xE0, 0xE8, 0xFF));
  line.format.setProperty(QTextFormat::FullWidthSelection, true);
  line.cursor = View->textCursor();
  line.cursor.clearSelection();
  View->setExtraSelections({line});
}

void TQelMemoForm::TakeCursorLine() {
  Chosen = View->textCursor().block().text();
  accept();
}

void TQelMemoForm::Exit() {
  QTextCursor cursor = View->textCursor();
  cursor.clearSelection();
  View->setTextCursor(cursor);
  if (FindDialog) FindDialog->hide();
  reject();
}

bool TQelMemoForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == View && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      TakeCursorLine();
      return true;
    }
  }
  if (watched == View->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton) {
      View->setTextCursor(View->cursorForPosition(mouse->position().toPoint()));
      TakeCursorLine();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

TQelMemoForm* TQelMemoForm::ShowModeless(const TMemoText& memo, QWidget* parent, const TMemoServices& services) {
  auto* form = new TQelMemoForm(parent);
  form->setAttribute(Qt::WA_DeleteOnClose);
  form->SetServices(services);
  form->SetMemo(memo);
  form->show();
  return form;
}

std::optional<std::string> TQelMemoForm::ChooseLine(const TMemoText& memo, QWidget* parent) {
  TQelMemoForm form(parent);
  form.SetMemo(memo);
  if (form.exec() != QDialog::Accepted) return std::nullopt;
  return form.ChosenLine().toLatin1().toStdString();
}

// --- Find ---

bool TQelMemoForm::Find(int kind) {
  if (SearchText.isEmpty()) return false;
  QTextDocument::FindFlags flags;
  if (CaseSensitive) flags |= QTextDocument::FindCaseSensitively;
  if (kind == 1) flags |= QTextDocument::FindBackward;
  QTextCursor from = View->textCursor();
  if (kind == 2 && FromStart) from.movePosition(QTextCursor::Start);
  const QTextCursor found = View->document()->find(SearchText, from, flags);
  if (found.isNull()) return false;
  View->setTextCursor(found);
  View->ensureCursorVisible();
  return true;
}

void TQelMemoForm::ShowFindDialog() {
  if (!FindDialog) FindDialog = new TMemoFindDlg(*this);
  FindDialog->Preset();
  // Beside the viewer's bottom right corner, inside the screen.
  const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect();
  QPoint at = frameGeometry().bottomRight();
  if (screen.isValid()) {
    at.setX(std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() - FindDialog->width())));
    at.setY(std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() - FindDialog->height())));
  }
  FindDialog->move(at);
  FindDialog->show();
  FindDialog->raise();
}

TMemoFindDlg::TMemoFindDlg(TQelMemoForm& viewer) : QDialog(&viewer), Viewer(viewer) {
  setObjectName(QStringLiteral("MemoFindDlg"));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  Text = new QLineEdit(this);
  CaseSensitive = new QCheckBox(QStringLiteral("Case sensitive"), this);
  FromStart = new QCheckBox(QStringLiteral("Search from start of text"), this);
  auto* find = new QPushButton(QStringLiteral("Find"), this);
  auto* next = new QPushButton(QStringLiteral("FindNext"), this);
  auto* previous = new QPushButton(QStringLiteral("Find Previous"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  find->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text);
  layout->addWidget(CaseSensitive);
  layout->addWidget(FromStart);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {find, next, previous, cancel}) buttons->addWidget(button);
  layout->addLayout(buttons);

  connect(find, &QPushButton::clicked, this, [this] { Run(2); });
  connect(next, &QPushButton::clicked, this, [this] { Run(0); });
  connect(previous, &QPushButton::clicked, this, [this] { Run(1); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
  connect(CaseSensitive, &QCheckBox::toggled, this, [this](bool on) { Viewer.CaseSensitive = on; });
  connect(FromStart, &QCheckBox::toggled, this, [this](bool on) { Viewer.FromStart = on; });
}

void TMemoFindDlg::Preset() {
  setWindowTitle(QStringLiteral("Find Dialog"));
  Text->setText(Viewer.SearchText);
  FromStart->setChecked(true);
  CaseSensitive->setChecked(false);
  Viewer.FromStart = true;
  Viewer.CaseSensitive = false;
}

void TMemoFindDlg::Run(int kind) {
  Viewer.SearchText = Text->text().trimmed();
  setWindowTitle(QStringLiteral("Find Mode Dialog - Searching"));
  const bool found = Viewer.Find(kind);
  setWindowTitle(found ? QStringLiteral("Find Mode Dialog - Found") : QStringLiteral("Find Mode Dialog - Not Found"));
}
