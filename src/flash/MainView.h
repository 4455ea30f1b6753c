#pragma once
// Everything the controller and the flash engine may do to the screen. The Qt
// window implements it; tests use a scripted fake that records every call.
#include <string>

namespace ofs {

enum class Control { Window, SelDevice, BitBtn1, BitBtn2, BitBtn4, Edit1, Panel2 };

// Option menu items in bar order.
enum class MenuItem {
  Silent1,
  CheckOFSFile1,
  CheckOFSBuffer1,
  Help1,
  VersionInformation1,
  EraseFlashROM1,
  Drive1,
  OverwriteReservedBlocks1,
  KeepUnusedBlocks1,
  OutputDefaultParameterFile1,
  OutputParameterBuffer1,
  OutputOFSBuffer1,
  GetFixDataCheckSum1,
  GetTestParameterFile1,
  IgnoreAskingQuestions1,
  Disable98MEAutoDetectDrive1,
};
inline constexpr int kMenuItemCount = 16;

inline constexpr int kProgressMax = 65536;

class MainView {
 public:
  virtual ~MainView() = default;

  // Drive list SelDevice.
  virtual void ClearDrives() = 0;
  virtual void AddDrive(const std::string& line) = 0;
  virtual void SetDriveText(int item, const std::string& line) = 0;
  virtual int DriveItemCount() = 0;
  virtual std::string DriveText(int item) = 0;
  virtual int SelectedDriveItem() = 0;  // -1 when nothing is selected
  virtual void SelectDriveItem(int item) = 0;

  virtual void SetStatusText(const std::string& text) = 0;  // panel 0 of the status bar
  virtual void SetEdit1(const std::string& text) = 0;       // image line
  virtual void SetEdit2(const std::string& text) = 0;       // image checksum

  // Message list ListBox1.
  virtual void AddLine(const std::string& line) = 0;         // append and repaint
  virtual void PostStatusLine(const std::string& line) = 0;  // append, select the last line, repaint
  // A line of the program's own advice or reasons, posted like any other; it may be longer
  // than the list is wide, and the window then shows it whole on several rows.
  virtual void PostLongLine(const std::string& line) { PostStatusLine(line); }
  virtual void ClearLines() = 0;
  virtual void DeleteFirstLine() = 0;
  virtual void ClearLineSelection() = 0;

  virtual void SetProgress(int position) = 0;
  virtual int Progress() = 0;  // the position last set

  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual void SetVisible(Control control, bool visible) = 0;  // Panel2 hidden also shrinks the window by 113
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetVerifyChecked(bool checked) = 0;
  virtual void SetMenuVisible(MenuItem item, bool visible) = 0;
  virtual void SetMenuChecked(MenuItem item, bool checked) = 0;

  // Boxes: an OK box with a caption; the plain box captioned with the application title;
  // an OK/Cancel question with the warning icon (true only for OK).
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  virtual void ShowPlainMessage(const std::string& text) = 0;
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
  // The same question where OK could harm the drive: Cancel is the default button.
  virtual bool AskOkCancelDefaultCancel(const std::string& text, const std::string& caption) = 0;
  // File dialogs with their filters; "" when the user cancels.
  virtual std::string AskOpenFile(const std::string& filter) = 0;
  virtual std::string AskSaveFile(const std::string& filter) = 0;

  // Lets the window repaint; never re-enters the controller.
  virtual void Pump() = 0;
  // Start-up asks the program to end (after its box has been closed).
  virtual void RequestTermination() = 0;
  // Exit closes the main window, which ends the program.
  virtual void CloseWindow() = 0;
};

}  // namespace ofs
