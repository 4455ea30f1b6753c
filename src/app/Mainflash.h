#pragma once
// TMainForm: the application state and every event handler of the main window.
// It reaches the screen only through MainView, so it runs the same under the Qt
// window, the console view of ofstool and the scripted view of the tests.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ModelRule.h"
#include "drive/AtapiImp.h"
#include "drive/Winfunc.h"
#include "firmware/EmbeddedAreas.h"
#include "firmware/Ofs.h"
#include "flash/FlashContext.h"
#include "flash/Flashmsg.h"
#include "flash/MainView.h"
#include "params/Parameter.h"
#include "system/Platform.h"
#include "system/SettingStore.h"
#include "system/StopSignals.h"

namespace ofs {

using EDriveIndex = uint8_t;

inline constexpr char kProgramVersion[] = "v.5.08.02";
inline constexpr char kProgramDate[] = "2006/07/14";
inline constexpr char kApplicationTitle[] = "ofsflash";
inline constexpr char kOpenDialogFilter[] = "OFS file(*.ofs)|*.ofs;*.zip|All File (*.*)|*.*";  // the loader also takes zip archives
inline constexpr char kSaveDialogFilter[] = "INI file(*.ini)|*.ini|All File (*.*)|*.*";
inline constexpr char kFlashedNotVerifiedLine[] =
    "The flash ended well but was not verified: the verification was skipped.";
inline constexpr char kRestartQuestion[] =
    "After updating, the system must be restarted.\nClick Yes to reboot your system.";

struct AppServices {
  MainView& view;
  TAtapiImp& atapi;
  Platform& platform;
  SettingStore& settings;
  EmbeddedAreas areas;
};

class TMainForm {
 public:
  explicit TMainForm(AppServices services);
  ~TMainForm();

  // Window events.
  void FormCreate();
  void BitBtn1Click();  // Load OFS
  void BitBtn2Click();  // Start: the update sequence
  void BitBtn4Click();  // Exit
  void Silent1Click();
  void KeepUnusedBlocks1Click();
  void OverwriteReservedBlocks1Click();
  void Drive1Click();
  void OutputDefaultParameterFile1Click();
  void EraseFlashROM1Click();
  void FormClose();
  void SelDeviceChange();
  void check_verifyClick(bool checked);

  // Runs one event handler. An exception that escapes it shows the exception's text
  // captioned "Error" and enables the window again; the update sequence has by then
  // unlocked the tray and given the drive back on its own way out.
  void RunJob(const std::function<void(TMainForm&)>& job);

  // Loading a chosen path: the load button after its dialog.
  void LoadFirmwareFile(const std::string& path);

  std::optional<std::string> DiscoverDrives();
  std::optional<std::string> MatchFirmware();

  // State, by the names the rest of the program and the tests use.
  bool checkSumTest = false;
  bool hardwareIdTest = false;
  bool modelNameTest = false;
  bool availableModelTest = false;
  bool silent = false;
  bool noDisc = false;
  bool verify = false;
  bool overwriteReservedBlocks = false;
  bool eraseUnusedBlocks = false;
  bool updaterMode = false;
  uint32_t imageLength = 0;
  std::array<uint32_t, 3> bufferImageLength{};
  uint16_t imageChecksum = 0;
  SOFSParameter imageParameter;
  std::array<SOFSParameter, 3> bufferParameter;
  std::array<bool, 3> bufferLoaded{true, true, true};
  bool singleImage = false;
  bool philipsImage = false;
  int32_t bufferImageCount = 0;
  SenseData senseData{};
  std::vector<EDriveIndex> driveList;

  std::unique_ptr<uint8_t[]> imageBuffer;
  std::unique_ptr<uint8_t[]> scratchBuffer;
  std::array<std::unique_ptr<uint8_t[]>, 3> bufferImage;
  std::vector<std::string> modelNameTable;
  int32_t defaultDriveIndex = -1;  // the "Drive" menu item's tag
  ErrorMessages errorMessages;

  // Start-up ended early ("Updater is corrupt !") or asked the program to end.
  bool startupFailed = false;

  // How the last update sequence ended; the console front end turns it into its exit code.
  // Cancelled: the user answered one of its questions with Cancel, before anything was written.
  // FlashedNotVerified: the flash ended well, and a stop signal skipped the verification asked for.
  enum class UpdateOutcome { None, Completed, Failed, DryRun, Cancelled, FlashedNotVerified };
  UpdateOutcome lastUpdate = UpdateOutcome::None;
  // A refusal of the last sequence, before its first command, that the same sequence
  // meets again: the image is the cause (a flash type it cannot be sent whole by, or
  // none), or the image with verification asked for (too large for this drive to verify).
  enum class StandingRefusal { None, Image, Verification };
  StandingRefusal standingRefusal = StandingRefusal::None;
  // Stop the update sequence before its first command that writes (tray, lock, flash).
  bool dryRun = false;
  // Start on a battery below the flash's threshold all the same (ofstool's --ignore-power).
  bool ignorePower = false;
  // A failure after writes reached the drive, with no completed update since: closing asks first.
  bool mayHoldIncompleteFirmware = false;
  // Such a failure tells to press Start again at once; ofstool says it with its own command.
  bool startAgainAdvice = true;
  // A sequence that wrote nothing ends its list saying so; ofstool's last line says it instead.
  bool unwrittenLine = true;
  // Asked about such a failure, by the result the history records for it: the run before,
  // of the same image on the same drive, ended with it too (set by the run's recorder).
  std::function<bool(const std::string& result)> failedAlikeBefore;
  // Transport index that discovery selects when it is listed (console front end).
  std::optional<EDriveIndex> preferredDrive;
  // The one drive start-up and discovery send commands to, when several
  // controllers update several drives at once; the others are left alone.
  std::optional<EDriveIndex> onlyDrive;
  // Drives that answered no model name: discovery leaves them out of the matching and
  // lists them as "(no identity)". The one named here it keeps (the recovery case of
  // ofstool flash --drive N --force), with nothing to check the image against.
  std::vector<EDriveIndex> unidentifiedDrives;
  std::optional<EDriveIndex> unidentifiedAllowed;
  // The drive ofstool verify reads: discovery keeps it whatever the drive tests say and
  // whether it tells its model or not, since reading it harms no drive.
  std::optional<EDriveIndex> readOnlyDrive;
  bool IsUnidentified(EDriveIndex d) const;

  // The question the update asks before writing to drive d when the drive's
  // firmware is newer than the image's; empty when it asks none.
  std::string NewerFirmwareQuestion(EDriveIndex d);

  // Lines that must be read before the working image goes to drive d: an image
  // for another model or hardware, a checksum that disagrees with its header.
  std::vector<std::string> WriteWarnings(EDriveIndex d);
  // Set when the person has already read WriteWarnings and chose to write (ofstool's
  // confirmation): Start then does not ask about another model again.
  bool writeWarningsAccepted = false;
  // The image names drive d's model and hardware ID.
  bool ImageIsForDrive(EDriveIndex d);

  // The last update sequence ended because its drive went from the system (unplugged, dropped by its bus).
  bool driveDisappeared = false;

  // The stop signal (SIGINT, SIGTERM, ...) the last update sequence held while it
  // wrote to the drive, to act on it once the writing had ended; 0 if none.
  int heldSignal = 0;
  // The drive's line as read once the last sequence's write phase had ended; unset when
  // it was not read, or the drive did not tell it.
  std::optional<std::string> driveLineAfterWriting;
  // Called once per update sequence, just before its first command that writes goes out.
  std::function<void()> onWritePhaseBegins;
  // Called when the sequence refuses to start on the system's power: a run the history keeps, though it wrote nothing.
  std::function<void()> onPowerRefusal;
  // The file the working image was loaded from; empty for the image this program carries.
  std::string imageFile;

 private:
  // Start-up.
  void ApplyOptions(const SParameter& parameter);
  void ApplyMenus(const SParameter& parameter);
  void ApplyCaption(const SMainParameter& main);
  std::optional<std::string> LoadEmbeddedImages();
  bool ListEveryDrive();
  void PostNotice();
  void EndStartup(const std::string& message, bool terminate);

  // Discovery and matching.
  bool Reaches(int d) const { return !onlyDrive || *onlyDrive == d; }
  int CandidateCount() const;
  bool IsCandidate(int i) const;
  void ReleaseCandidate(int i);
  void AdoptCandidate(int i);
  void AdoptFirstCandidate();
  std::optional<std::string> AcceptImages();
  std::optional<std::string> DriveFitsImages(EDriveIndex d, int expectedMismatches, bool& fits);
  bool DriveFailsTest(const std::string& driveValue, std::string (*imageValue)(const uint8_t*, std::size_t),
                      int expectedMismatches) const;
  void FillDriveList(const std::string& remembered);
  std::string UnidentifiedLine(EDriveIndex d) const;
  void ListUnidentifiedDrives();
  std::string ImageLine() const;
  void ShowChecksum();

  // File loading.
  std::optional<std::string> LoadImageBytes(std::vector<uint8_t> bytes);
  void ReplaceImage(uint32_t length);
  void ReleaseImage();

  // Update sequence.
  FlashContext MakeFlashContext();
  std::optional<int> SelectedDriveEntry();
  void ReenableControls();
  void EndUnwritten();
  void EndCancelled();
  bool ConfirmVersion(EDriveIndex d);
  // An image for another model or hardware: asked with Cancel as the default.
  std::optional<ModelMismatch> FindModelMismatch(EDriveIndex d);
  bool ConfirmModel(EDriveIndex d);
  void RestartInsteadOfFlashing(const std::string& identity);
  // Checks on the system and the path below the process, before the first command: empty when it may go on.
  std::string PowerRefusal();
  std::string TransferLimitRefusal(EDriveIndex d);
  bool VerifiableAfterFlash(EDriveIndex d);
  void LockTray(EDriveIndex d);
  bool BringTrayToReady(EDriveIndex d, const char* firstLine);
  bool FlashAndVerify(EDriveIndex d);
  void AllowRemoval(EDriveIndex d);
  void GiveBackDrive();
  // The drive's line as it reads now, or empty with the part it did not tell in `failure`.
  std::string ReadDriveLine(EDriveIndex d, std::string& failure);
  bool RefreshDriveLine(EDriveIndex d);
  void ShowDriveLine(const std::string& line);
  void FinishUpdate(const std::optional<std::string>& identity);

  void ShowError(const std::string& text);
  // A refusal or failure of the update: its text, or "Flash Fail!" in the updater with the text in the list.
  void ShowFailure(const std::string& text, const std::string& detail = {});
  void EndJobAfterException(const std::string& what);

  // The write phase: from the first command that writes until the procedure and its
  // waits have ended, stop signals are held; before and after it they end the sequence.
  struct StopRequested {};  // unwinds the sequence from the command it keeps from going out
  void WatchCommands();
  void BeforeCommand(bool writes);
  void EndWritePhase(bool flashEnded);
  bool StopAfterWriting() const;
  void EndStopped();
  // A drive gone from the system ends the sequence at once: nothing it would send could arrive.
  struct DriveVanished {};
  void EndVanished();
  std::optional<WritePhaseMark> writePhase_;
  bool writesBegun_ = false;
  int writesBefore_ = 0;  // the transport's count when the sequence began
  bool flashEnded_ = false;  // the procedure reported no failure
  bool verified_ = false;    // the verification asked for has passed
  bool stopping_ = false;    // the way out sends its own commands

  std::optional<EDriveIndex> lockedDrive_;  // from LockTray until AllowRemoval
  // Lets the drive go on every way out of the sequence, the tray unlocked first.
  struct DriveRelease {
    TMainForm& form;
    ~DriveRelease();
  };

  AppServices s_;
};

}  // namespace ofs
