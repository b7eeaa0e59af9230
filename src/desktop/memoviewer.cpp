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
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

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
  QAction* print = file->addAction(QStringLiteral("&Print"));
  QAction* exit = file->addAction(QStringLiteral("&Exit"));
  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  QAction* copy = edit->addAction(QStringLiteral("&Copy"));
  QAction* selectAll = edit->addAction(QStringLiteral("Select All"));
  QAction* unmark = edit->addAction(QStringLiteral("Unmark"));
  edit->addSeparator();
  QAction* find = edit->addAction(QStringLiteral("&Find"));
  QAction* forward = edit->addAction(QStringLiteral("Find F&orward"));
  QAction* backward = edit->addAction(QStringLiteral("Find &Backward"));
  layout()->setMenuBar(bar);

  connect(print, &QAction::triggered, this, [this] {
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    if (View->textCursor().hasSelection()) dialog.setOption(QAbstractPrintDialog::PrintSelection);
    if (dialog.exec() == QDialog::Accepted) View->print(&printer);
  });
  connect(exit, &QAction::triggered, this, &TQelMemoForm::Exit);
  connect(copy, &QAction::triggered, View, &QPlainTextEdit::copy);
  connect(selectAll, &QAction::triggered, View, &QPlainTextEdit::selectAll);
  connect(unmark, &QAction::triggered, this, [this] {
    QTextCursor cursor = View->textCursor();
    cursor.clearSelection();
    View->setTextCursor(cursor);
  });
  connect(find, &QAction::triggered, this, &TQelMemoForm::ShowFindDialog);
  connect(forward, &QAction::triggered, this, [this] { Find(0); });
  connect(backward, &QAction::triggered, this, [this] { Find(1); });

  connect(View, &QWidget::customContextMenuRequested, this, [=, this](const QPoint& at) {
    QMenu popup(this);
    popup.addAction(QStringLiteral("Copy"), View, &QPlainTextEdit::copy);
    popup.addAction(QStringLiteral("Print"), print, &QAction::trigger);
    popup.addAction(QStringLiteral("Select All"), View, &QPlainTextEdit::selectAll);
    popup.addAction(QStringLiteral("Unmark"), unmark, &QAction::trigger);
    popup.addAction(QStringLiteral("Find"), find, &QAction::trigger);
    popup.addAction(QStringLiteral("Find Next"), forward, &QAction::trigger);
    popup.addAction(QStringLiteral("Find Previous"), backward, &QAction::trigger);
    popup.exec(View->viewport()->mapToGlobal(at));
  });
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

TQelMemoForm* TQelMemoForm::ShowModeless(const TMemoText& memo, QWidget* parent) {
  auto* form = new TQelMemoForm(parent);
  form->setAttribute(Qt::WA_DeleteOnClose);
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
