#include "ofstool/FlashReport.h"

#include "app/RecoveryAdvice.h"
#include "drive/IdentityText.h"
#include "firmware/Firmware.h"
#include "firmware/Ofs.h"
#include "system/StopSignals.h"

namespace ofstool {

namespace {

// Why an update that wrote nothing ended, when not for a cause shown above it, and what to do
// instead of running the same command again as it was.
struct Untouched {
  std::string why;
  std::string next;
};

Untouched WhyUntouched(const ofs::TMainForm& form, const ConsoleView& view, const std::string& drive) {
  using Refusal = ofs::TMainForm::StandingRefusal;
  const std::string atTheTray = ", and --yes cannot mend that: the run ended at the tray question; ";
  if (const int signal = ofs::CaughtStopSignal(); signal != 0) return {"stopped by " + ofs::StopName(signal) + "; ", ""};
  if (view.TrayGivenUp() == TrayLeft::DiscInside) {
    return {"a disc is still in the tray of " + drive + atTheTray, " Take the disc out, then run the same command again."};
  }
  if (view.TrayGivenUp() == TrayLeft::Open) {
    return {"the tray of " + drive + " is still open" + atTheTray, " Close the tray, then run the same command again."};
  }
  if (form.lastUpdate == ofs::TMainForm::UpdateOutcome::Cancelled) return {"cancelled at the update's question; ", ""};
  if (form.standingRefusal == Refusal::Image) {
    return {"", " The same command would be refused again: this image cannot be flashed as it is; give another image "
                "for this drive."};
  }
  if (form.standingRefusal == Refusal::Verification) {
    return {"", " The same command would be refused again: add --no-verify to flash this image without verification."};
  }
  return {"", " Mend the cause above and run the same command again."};
}

}  // namespace

Verdict FailureVerdict(const ofs::TMainForm& form, const ConsoleView& view, int drive, bool touched,
                       bool failedAlikeBefore) {
  const std::string number = std::to_string(drive);
  if (!touched) {
    const Untouched untouched = WhyUntouched(form, view, "drive " + number);
    return {kExitUntouched, "ofstool: " + untouched.why + "nothing was written to drive " + number +
                                ", which still holds the firmware it had." + untouched.next};
  }
  if (failedAlikeBefore) {
    return {kExitMaybeIncomplete, "ofstool: drive " + number +
                                      " may hold incomplete firmware, and running the same command again did not "
                                      "help: " + ofs::kSameFailureBefore + " " + ofs::kDoNotPowerOff + ". " +
                                      ofs::JoinedLines(ofs::kWhatElseThereIs)};
  }
  return {kExitMaybeIncomplete, "ofstool: drive " + number + " may hold incomplete firmware. " + ofs::kDoNotPowerOff +
                                    ": run the same command again now, so that the whole image is written."};
}

Verdict NotVerifiedVerdict(int drive) {
  return {kExitNotVerified, "ofstool: drive " + std::to_string(drive) + " was " + ofs::kNotVerifiedResult + ": " +
                                ofs::kNotVerifiedAdvice + "."};
}

Verdict DisappearedVerdict(bool touched, int drive) {
  const std::string number = std::to_string(drive);
  if (!touched) {
    return {kExitUntouched, "ofstool: drive " + number +
                                " disappeared before anything was written to it. Reconnect it, run 'ofstool drives' "
                                "to find its number, then run the same command again."};
  }
  return {kExitMaybeIncomplete, "ofstool: drive " + number +
                                    " disappeared (unplugged, or reset by the bus) after writing began; it may hold "
                                    "incomplete firmware. Do not power it off if it is still connected. Reconnect it, "
                                    "run 'ofstool drives' to find its number, then run the same command again."};
}

std::string ImageLine(const ofs::TMainForm& form, const ConsoleView& view, const std::string& file) {
  const std::string source = file.empty() ? std::string("embedded image") : file;
  // The window's fixed text for a Philips image names a drive it need not be for: its own name tells more.
  if (form.philipsImage) {
    return source + ": " + ofs::ShownField(form.imageParameter.NameText) + " (Philips image, checksum " + view.Edit2() +
           ")";
  }
  const std::string hardware = "hardware ID " + ofs::GetImageHardwareId(form.imageBuffer.get(), form.imageLength);
  return source + ": " + view.Edit1() + " (" + hardware + ", checksum " + view.Edit2() + ")";
}

std::string FlashKind(const ofs::TMainForm& form) {
  const uint8_t type = form.imageParameter.AtapiFlashType;
  if (form.philipsImage) return "Philips image";
  return "ATAPI flash type " + std::to_string(type) + " " + ofs::AtapiFlashTypeName(type);
}

std::string FlashLine(const ofs::TMainForm& form) {
  return FlashKind(form) + ", verification " + (form.verify ? "on" : "off");
}

}  // namespace ofstool
