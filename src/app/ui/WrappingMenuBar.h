#pragma once
// A menu bar whose items sit on the bar itself and wrap into further rows when the
// window is too narrow for one row, so none hides behind an extension button
// (QMenuBar never wraps). Each item is a QAction of the bar, in bar order
// (actions()); a hidden action takes no room.
#include <QWidget>
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

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Places the shown items row by row within width (only measures unless place);
  // returns the height the rows take, at least one row.
  int Arrange(int width, bool place) const;
  int RowHeight() const;
  int ItemWidth(const QToolButton* button) const;

  std::vector<QToolButton*> buttons_;
};

}  // namespace ofs
