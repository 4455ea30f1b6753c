#include "app/ui/WrappingMenuBar.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QToolButton>
#include <algorithm>

namespace ofs {

namespace {
// Menu-bar spacing rather than tool-button spacing, so the rows stay as compact as a menu bar's.
constexpr int kItemPadding = 6;
constexpr int kRowPadding = 4;
}  // namespace

WrappingMenuBar::WrappingMenuBar(QWidget* parent) : QWidget(parent) {
  // Not Fixed: a fixed policy would make the layout take sizeHint() at the bar's old
  // width as its minimum height instead of asking heightForWidth().
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  // Application-wide, as the keys go to whichever widget of the window has the focus. The
  // window's own filter, installed after this one, runs first and blocks input during a job.
  qApp->installEventFilter(this);
}

QAction* WrappingMenuBar::AddItem(const QString& caption) {
  auto* action = new QAction(caption, this);
  addAction(action);
  auto* button = new QToolButton(this);
  button->setDefaultAction(action);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);  // like a menu bar: the client keeps the focus
  // The button follows the action's text, marks and enabled state by itself, not its visibility.
  connect(action, &QAction::visibleChanged, this, [this, button, action] {
    button->setVisible(action->isVisible());
    updateGeometry();
    Arrange(width(), true);
  });
  buttons_.push_back(button);
  updateGeometry();
  Arrange(width(), true);
  return action;
}

int WrappingMenuBar::RowHeight() const { return fontMetrics().height() + kRowPadding; }

int WrappingMenuBar::ItemWidth(const QToolButton* button) const {
  return fontMetrics().horizontalAdvance(button->text()) + 2 * kItemPadding;
}

int WrappingMenuBar::Arrange(int width, bool place) const {
  const int rowHeight = RowHeight();
  int x = 0;
  int y = 0;
  for (QToolButton* b : buttons_) {
    if (b->isHidden()) continue;
    const int w = std::min(ItemWidth(b), std::max(width, 1));
    if (x > 0 && x + w > width) {
      x = 0;
      y += rowHeight;
    }
    if (place) b->setGeometry(x, y, w, rowHeight);
    x += w;
  }
  return y + rowHeight;
}

QSize WrappingMenuBar::sizeHint() const {
  // The window decides the width (the bar takes the client's); the height follows from it.
  int widest = 0;
  for (const QToolButton* b : buttons_)
    if (!b->isHidden()) widest = std::max(widest, ItemWidth(b));
  const int w = width() > 0 ? width() : widest;
  return {w, Arrange(w, false)};
}

QSize WrappingMenuBar::minimumSizeHint() const { return {0, RowHeight()}; }

void WrappingMenuBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Items measure differently once styled: the window must learn the new row count.
  if (Arrange(width(), true) != height()) updateGeometry();
}

QToolButton* WrappingMenuBar::KeyboardButton() const {
  // The window's focus child rather than hasFocus(): a box in front does not end keyboard use.
  auto* held = qobject_cast<QToolButton*>(window()->focusWidget());
  return held && held->parentWidget() == this ? held : nullptr;
}

QAction* WrappingMenuBar::KeyboardItem() const {
  const QToolButton* held = KeyboardButton();
  return held ? held->defaultAction() : nullptr;
}

bool WrappingMenuBar::eventFilter(QObject* watched, QEvent* event) {
  const auto it = std::find(buttons_.begin(), buttons_.end(), watched);
  if (it != buttons_.end()) {
    // Flat items draw no focus mark: the keyboard's item stands out as a raised button.
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
      (*it)->setAutoRaise(event->type() == QEvent::FocusOut);
    if (event->type() == QEvent::KeyPress &&
        FilterItemKey(it - buttons_.begin(), static_cast<QKeyEvent*>(event)->key()))
      return true;
  }
  return FilterWindowKey(watched, event);
}

bool WrappingMenuBar::FilterWindowKey(QObject* receiver, QEvent* event) {
  // Alt+Tab to another window: the Alt release that comes back is no lone Alt.
  if (event->type() == QEvent::WindowDeactivate && receiver == window()) altAlone_ = false;
  const bool press = event->type() == QEvent::KeyPress;
  if (!press && event->type() != QEvent::KeyRelease) return false;
  auto* widget = qobject_cast<QWidget*>(receiver);
  if (widget == nullptr || widget->window() != window() || !isEnabled() || !isVisible()) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->isAutoRepeat()) return false;
  const bool toggle = (press && key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier) ||
                      (!press && key->key() == Qt::Key_Alt && altAlone_);
  altAlone_ = press && key->key() == Qt::Key_Alt && (key->modifiers() & ~Qt::AltModifier) == Qt::NoModifier;
  if (!toggle) return false;
  altAlone_ = false;
  if (KeyboardButton() != nullptr) {
    LeaveKeyboard();
  } else {
    EnterKeyboard();
  }
  return true;
}

bool WrappingMenuBar::FilterItemKey(std::ptrdiff_t index, int key) {
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
      if (QToolButton* next = Neighbour(index, key == Qt::Key_Left || key == Qt::Key_Up ? -1 : 1))
        next->setFocus(Qt::OtherFocusReason);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: {
      // The focus goes back first: the command may open a box that returns it there.
      QAction* action = buttons_[static_cast<std::size_t>(index)]->defaultAction();
      LeaveKeyboard();
      if (action->isEnabled()) action->trigger();
      return true;
    }
    case Qt::Key_Escape:
      LeaveKeyboard();
      return true;
    default:
      return false;
  }
}

void WrappingMenuBar::EnterKeyboard() {
  QToolButton* first = Neighbour(-1, 1);
  if (first == nullptr) return;
  returnFocus_ = QApplication::focusWidget();
  first->setFocus(Qt::MenuBarFocusReason);
}

void WrappingMenuBar::LeaveKeyboard() {
  if (QToolButton* held = KeyboardButton()) held->clearFocus();
  if (returnFocus_) returnFocus_->setFocus(Qt::MenuBarFocusReason);
  returnFocus_ = nullptr;
}

QToolButton* WrappingMenuBar::Neighbour(std::ptrdiff_t index, int step) const {
  const auto count = static_cast<std::ptrdiff_t>(buttons_.size());
  for (std::ptrdiff_t n = 1; n <= count; ++n) {
    QToolButton* b = buttons_[static_cast<std::size_t>((index + count + step * n) % count)];
    if (!b->isHidden() && b->isEnabled()) return b;
  }
  return nullptr;
}

void WrappingMenuBar::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) updateGeometry();
}

}  // namespace ofs
