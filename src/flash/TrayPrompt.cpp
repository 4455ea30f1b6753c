#include "flash/TrayPrompt.h"

#include "flash/FlashSteps.h"

namespace ofs {
namespace {

constexpr Clock::Milliseconds kTrayPause{5000};
constexpr char kCheckCaption[] = "Check";
// A tray that stays open after this many LOADs needs the user's hand (or Cancel).
constexpr int kAutomaticRounds = 5;

}  // namespace

bool EnsureTrayEmptyAndClosed(FlashContext& ctx, DriveIndex drive) {
  bool automatic = LoadTray(ctx.atapi, drive);
  if (!automatic) {
    ctx.atapi.GetSenseData(ctx.senseData.data());
    // A unit attention 1D still closes the tray on the next try.
    automatic = ctx.senseData[2] == 0x06 && SenseAsc(ctx.senseData) == 0x1D;
  }
  for (;;) {
    int rounds = 0;
    while (IsTrayOpen(ctx.atapi, drive)) {
      if (automatic && rounds < kAutomaticRounds) {
        LoadTray(ctx.atapi, drive);
        ++rounds;
      } else if (!ctx.view.AskOkCancel("Please close the tray and click OK to continue !", kCheckCaption)) {
        return false;
      }
      ctx.clock().Sleep(kTrayPause);
    }
    if (!IsMediumPresent(ctx.atapi, drive)) return true;
    EjectTray(ctx.atapi, drive);
    ctx.clock().Sleep(kTrayPause);
    if (!ctx.view.AskOkCancel("Please remove your disc from the tray and click OK to continue !", kCheckCaption))
      return false;
  }
}

}  // namespace ofs
