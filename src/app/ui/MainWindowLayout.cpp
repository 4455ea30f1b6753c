// The window's components and menu bar, placed at fixed pixel positions.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <algorithm>

#include "app/Mainflash.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WrappingMenuBar.h"

// The glyphs live in this static library; make sure the linker keeps them.
static void InitGlyphResources() { Q_INIT_RESOURCE(glyphs); }

namespace ofs {

namespace {

// MS Sans Serif does not exist on Linux; DejaVu Sans does on every desktop we target.
constexpr char kFontFamily[] = "DejaVu Sans";
constexpr int kListItemHeight = 20;
constexpr int kStatusBarHeight = 20;

QFont PixelFont(int pixels, bool bold) {
  QFont font(QString::fromLatin1(kFontFamily));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

template <class W, class... Args>
W* Place(QWidget* parent, const char* name, QRect geometry, Args&&... args) {
  auto* w = new W(std::forward<Args>(args)..., parent);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(geometry);
  return w;
}

QPushButton* GlyphButton(QWidget* parent, const char* name, const char* caption, const char* glyph,
                         QRect geometry) {
  auto* b = Place<QPushButton>(parent, name, geometry, QString::fromLatin1(caption));
  b->setFont(PixelFont(13, true));
  QIcon icon;
  icon.addFile(QStringLiteral(":/glyphs/%1.png").arg(QLatin1String(glyph)), {}, QIcon::Normal);
  icon.addFile(QStringLiteral(":/glyphs/%1-disabled.png").arg(QLatin1String(glyph)), {}, QIcon::Disabled);
  b->setIcon(icon);
  b->setIconSize(QSize(24, 24));
  return b;
}

QFrame* Panel(QWidget* parent, const char* name, QRect geometry) {
  auto* p = Place<QFrame>(parent, name, geometry);
  p->setFrameShape(QFrame::NoFrame);
  return p;
}

// Every row of the message list is 20 pixels high, whatever the font says. A line marked to
// wrap takes as many rows as its words need within the list's width (the width it has with
// its scroll bar shown, so that a scroll bar coming never cuts it); the rest keep to one row.
class ListRowDelegate final : public QStyledItemDelegate {
 public:
  explicit ListRowDelegate(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!index.data(kWrappedLineRole).toBool()) {
      return {QStyledItemDelegate::sizeHint(option, index).width(), kListItemHeight};
    }
    const int width = list_->width() - 2 * list_->frameWidth() - list_->verticalScrollBar()->sizeHint().width();
    const int margin = list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1;
    return {width, kListItemHeight * RowCount(index.data(Qt::DisplayRole).toString(), width - 2 * margin)};
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(kWrappedLineRole).toBool()) option->features |= QStyleOptionViewItem::WrapText;
  }

 private:
  // The rows the style's word wrap makes of the text.
  int RowCount(QString text, int width) const {
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, list_->font());
    QTextOption wrap;
    wrap.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(wrap);
    layout.beginLayout();
    int rows = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      ++rows;
    }
    layout.endLayout();
    return std::max(rows, 1);
  }

  QListWidget* list_;
};

struct MenuEntry {
  const char* name;
  const char* caption;
};

// In bar order, matching MenuItem.
constexpr MenuEntry kMenuEntries[kMenuItemCount] = {
    {"Silent1", "Silent"},
    {"CheckOFSFile1", "Check OFS File"},
    {"CheckOFSBuffer1", "Check OFS Buffer"},
    {"Help1", "Help"},
    {"VersionInformation1", "Version Information"},
    {"EraseFlashROM1", "Erase Flash ROM"},
    {"Drive1", "Drive"},
    {"OverwriteReservedBlocks1", "Overwrite Reserved Blocks"},
    {"KeepUnusedBlocks1", "Keep Unused Blocks"},
    {"OutputDefaultParameterFile1", "Output Default Parameter File"},
    {"OutputParameterBuffer1", "Output Parameter Buffer"},
    {"OutputOFSBuffer1", "Output OFS Buffer"},
    {"GetFixDataCheckSum1", "Get Fix Data Check Sum"},
    {"GetTestParameterFile1", "Get Test Parameter File"},
    {"IgnoreAskingQuestions1", "Ignore Asking Questions"},
    {"Disable98MEAutoDetectDrive1", "Disable 98 ME Auto Detect Drive"},
};

}  // namespace

void MainWindow::BuildClientArea() {
  InitGlyphResources();
  setFont(PixelFont(13, false));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client_);
  // The window follows the client area's fixed size (and its 113-pixel shrink).
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  groupBox1_ = Place<QGroupBox>(client_, "GroupBox1", {0, 0, kClientWidth, 80}, QStringLiteral("Selected Source : "));
  groupBox1_->setFont(PixelFont(13, true));
  selDevice_ = Place<QComboBox>(groupBox1_, "SelDevice", {16, 31, 353, 21});
  selDevice_->setFont(PixelFont(13, false));
  selDevice_->setEnabled(false);

  panel2_ = Panel(client_, "Panel2", {0, 80, kClientWidth, kPanel2Height});
  auto* groupBox2 = Place<QGroupBox>(panel2_, "GroupBox2", {0, 0, kClientWidth, kPanel2Height},
                                     QStringLiteral("Selected File : "));
  groupBox2->setFont(PixelFont(13, true));
  edit1_ = Place<QLineEdit>(groupBox2, "Edit1", {16, 20, 350, 21});
  edit1_->setFont(PixelFont(13, false));
  edit1_->setReadOnly(true);
  edit1_->setFocusPolicy(Qt::ClickFocus);
  bitBtn1_ = GlyphButton(groupBox2, "BitBtn1", "&Load OFS", "load", {18, 59, 135, 38});
  checkVerify_ = Place<QCheckBox>(groupBox2, "check_verify", {184, 72, 65, 17}, QStringLiteral("Verify"));
  checkVerify_->setFont(PixelFont(13, true));
  auto* label1 = Place<QLabel>(groupBox2, "Label1", {280, 56, 0, 0}, QStringLiteral("CheckSum"));
  label1->setFont(PixelFont(13, true));
  label1->adjustSize();
  edit2_ = Place<QLineEdit>(groupBox2, "Edit2", {288, 72, 57, 28});
  edit2_->setFont(PixelFont(17, true));
  QPalette navy = edit2_->palette();
  navy.setColor(QPalette::Text, QColor(0x00, 0x00, 0x80));
  edit2_->setPalette(navy);

  panel1_ = Panel(client_, "Panel1", {0, 193, kClientWidth, 64});
  bitBtn2_ = GlyphButton(panel1_, "BitBtn2", "&Start", "start", {57, 18, 92, 31});
  bitBtn2_->setEnabled(false);
  bitBtn4_ = GlyphButton(panel1_, "BitBtn4", "&Exit", "exit", {226, 18, 93, 31});

  listBox1_ = Place<QListWidget>(client_, "ListBox1", {0, 257, kClientWidth, 276});
  listBox1_->setFont(PixelFont(17, false));
  listBox1_->setItemDelegate(new ListRowDelegate(listBox1_));

  statusBar1_ = Place<QStatusBar>(client_, "StatusBar1", {0, 533, kClientWidth, kStatusBarHeight});
  statusBar1_->setSizeGripEnabled(false);
  // The bar's one panel (nominally 50 wide) is also its last, and a last panel reaches
  // across the bar: up to the progress bar here, so the 36 characters have room.
  statusPanel0_ = Place<QLabel>(statusBar1_, "StatusPanel0", {2, 2, 252, 16});
  progressBar1_ = Place<QProgressBar>(statusBar1_, "ProgressBar1", {256, 2, 129, 16});
  progressBar1_->setRange(0, kProgressMax);
  progressBar1_->setValue(0);
  progressBar1_->setTextVisible(false);

  Relayout();

  connect(bitBtn1_, &QPushButton::clicked, this, [this] {
    RunOnWorker([](TMainForm& f) { f.BitBtn1Click(); }, false);
  });
  connect(bitBtn2_, &QPushButton::clicked, this, [this] {
    RunOnWorker([](TMainForm& f) { f.BitBtn2Click(); }, true);
  });
  connect(bitBtn4_, &QPushButton::clicked, this, [this] { Dispatch([](TMainForm& f) { f.BitBtn4Click(); }); });
  // Only the user's choices reach the controller, not the controller's own updates.
  connect(selDevice_, &QComboBox::activated, this, [this] { Dispatch([](TMainForm& f) { f.SelDeviceChange(); }); });
  connect(checkVerify_, &QCheckBox::clicked, this,
          [this](bool checked) { Dispatch([checked](TMainForm& f) { f.check_verifyClick(checked); }); });
}

void MainWindow::BuildMenu() {
  // All items on the bar, in rows when they do not fit in one; the client area stays below.
  auto* bar = new WrappingMenuBar(this);
  bar->setObjectName(QStringLiteral("MainMenu1"));
  setMenuWidget(bar);
  menuBar_ = bar;
  using Handler = void (TMainForm::*)();
  const std::array<Handler, kMenuItemCount> handlers = {
      &TMainForm::Silent1Click,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      &TMainForm::EraseFlashROM1Click,
      &TMainForm::Drive1Click,
      &TMainForm::OverwriteReservedBlocks1Click,
      &TMainForm::KeepUnusedBlocks1Click,
      &TMainForm::OutputDefaultParameterFile1Click,
  };
  for (int i = 0; i < kMenuItemCount; ++i) {
    QAction* action = bar->AddItem(QString::fromLatin1(kMenuEntries[i].caption));
    action->setObjectName(QString::fromLatin1(kMenuEntries[i].name));
    // Checkable so the state shows; a click never changes the mark, only SetMenuChecked does.
    action->setCheckable(true);
    const Handler handler = handlers[static_cast<std::size_t>(i)];
    connect(action, &QAction::triggered, this, [this, i, action, handler] {
      action->setChecked(menuChecked_[static_cast<std::size_t>(i)]);
      if (handler) Dispatch([handler](TMainForm& f) { (f.*handler)(); });
    });
    menu_[static_cast<std::size_t>(i)] = action;
  }
}

void MainWindow::Relayout() {
  const int shrink = panel2_->isHidden() ? kPanel2Height : 0;
  panel1_->move(0, 193 - shrink);
  listBox1_->move(0, 257 - shrink);
  statusBar1_->move(0, 533 - shrink);
  client_->setFixedSize(kClientWidth, kClientHeight - shrink);
  layout()->activate();
}

QWidget* MainWindow::ControlWidget(Control control) const {
  switch (control) {
    case Control::SelDevice: return selDevice_;
    case Control::BitBtn1: return bitBtn1_;
    case Control::BitBtn2: return bitBtn2_;
    case Control::BitBtn4: return bitBtn4_;
    case Control::Edit1: return edit1_;
    case Control::Panel2: return panel2_;
    case Control::Window: return nullptr;
  }
  return nullptr;
}

}  // namespace ofs
