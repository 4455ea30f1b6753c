// The one place where an exception is caught: a handler that throws (an
// allocation that fails, a library that throws) ends like a failed step, and a
// stop signal outside the write phase ends the update where it came.
#include <exception>

#include "app/Mainflash.h"

namespace ofs {

void TMainForm::RunJob(const std::function<void(TMainForm&)>& job) {
  try {
    job(*this);
  } catch (const StopRequested&) {
    EndStopped();
  } catch (const DriveVanished&) {
    EndVanished();
  } catch (const std::exception& e) {
    EndJobAfterException(e.what());
  } catch (...) {
    EndJobAfterException("Unknown exception");
  }
}

void TMainForm::EndJobAfterException(const std::string& what) {
  try {
    ShowError(what);
    ReenableControls();
  } catch (...) {
    // A recovery that throws in turn has nothing left to try; the window must not die of it.
  }
}

}  // namespace ofs
