// How the desktop knows the window: its name and the launcher a Wayland compositor matches it to
// (for the launcher's icon and name).
#pragma once

namespace ofs {

// The application's reverse-DNS ID; the desktop file and the AppStream file in data/ are named after it.
inline constexpr char kDesktopFileId[] = "io.github.ofsflash.ofsflash";

// Call once the QApplication exists and before the first window is shown.
void SetApplicationIdentity();

}  // namespace ofs
