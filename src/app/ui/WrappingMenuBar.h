#pragma once
// A menu bar whose items sit on the bar itself and wrap into further rows when the
// window is too narrow for one row, so none hides behind an extension button
// (QMenuBar never wraps). Each item is a QAction of the bar, in bar order
// (actions()); a hidden action takes no room.
// Keyboard, as on a menu bar: F10 or a lone Alt enters the bar, the arrow keys move
// between items, Enter or Space chooses one, Esc, F10 or Alt leaves.
#include <QPointer>
#include <QWidget>
#include <cstddef>
#include <vector>

class QAction;
class QToolButton;

namespace ofs {

class WrappingMenuBar final : public QWidget {
  Q_OBJECT

 public:
  explicit WrappingMenuBar(QWidget* parent = nullptr);

  // Appends an item; the bar owns it.
  QAction* AddItem(const QString& caption);

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override { return Arrange(width, false); }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  // The item that has the keyboard, or nullptr outside keyboard use.
  QAction* KeyboardItem() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Places the shown items row by row within width (only measures unless place);
  // returns the height the rows take, at least one row.
  int Arrange(int width, bool place) const;
  int RowHeight() const;
  int ItemWidth(const QToolButton* button) const;

  // Keyboard use.
  bool FilterWindowKey(QObject* receiver, QEvent* event);
  bool FilterItemKey(std::ptrdiff_t index, int key);
  QToolButton* KeyboardButton() const;
  void EnterKeyboard();
  void LeaveKeyboard();
  // The next usable item from the one at index (-1: before the first) in direction
  // step (+1/-1), wrapping; nullptr when none is usable.
  QToolButton* Neighbour(std::ptrdiff_t index, int step) const;

  std::vector<QToolButton*> buttons_;
  QPointer<QWidget> returnFocus_;  // where Esc sends the focus back
  bool altAlone_ = false;          // Alt is down and no other key came since
};

}  // namespace ofs
