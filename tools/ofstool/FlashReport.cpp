#include "ofstool/FlashReport.h"

#include "app/RecoveryAdvice.h"
#include "firmware/Firmware.h"
#include "firmware/Ofs.h"

namespace ofstool {

Verdict FailureVerdict(ofs::TMainForm::UpdateOutcome outcome, bool touched, int drive, bool failedAlikeBefore) {
  const std::string number = std::to_string(drive);
  if (!touched && outcome == ofs::TMainForm::UpdateOutcome::Cancelled) {
    return {kExitUntouched, "ofstool: cancelled at the update's question; nothing was written to drive " + number +
                                ", which still holds the firmware it had."};
  }
  if (!touched) {
    return {kExitUntouched, "ofstool: nothing was written to drive " + number +
                                "; it still holds the firmware it had. Mend the cause above and run the same command "
                                "again."};
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
  const std::string hardware =
      form.philipsImage ? std::string() : "hardware ID " + ofs::GetImageHardwareId(form.imageBuffer.get(), form.imageLength) + ", ";
  return source + ": " + view.Edit1() + " (" + hardware + "checksum " + view.Edit2() + ")";
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
