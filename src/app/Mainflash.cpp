#include "app/Mainflash.h"

namespace ofs {

TMainForm::TMainForm(AppServices services) : s_(services) {}

TMainForm::~TMainForm() = default;

void TMainForm::ShowError(const std::string& text) { s_.view.ShowMessage(text, "Error"); }

}  // namespace ofs
