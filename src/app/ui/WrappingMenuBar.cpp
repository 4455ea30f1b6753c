#include "app/ui/WrappingMenuBar.h"

#include <QAction>
#include <QEvent>
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

void WrappingMenuBar::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) updateGeometry();
}

}  // namespace ofs
