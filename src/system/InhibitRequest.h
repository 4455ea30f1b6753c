#pragma once
// What both front ends ask the login manager to hold off while they hold a drive,
// and the reason it shows: a machine that suspends, powers off or locks up under a
// flash leaves the drive without working firmware.
namespace ofs {

inline constexpr char kInhibitWhat[] =
    "shutdown:sleep:idle:handle-lid-switch:handle-power-key:handle-suspend-key:handle-hibernate-key";
inline constexpr char kInhibitWho[] = "ofsflash";
inline constexpr char kInhibitWhy[] = "Updating drive firmware";
inline constexpr char kInhibitMode[] = "block";
// Said once, after the program's name, when no login manager took the request.
inline constexpr char kNoLoginManagerNotice[] =
    "no login manager to hold off suspend and shutdown; flashing all the same.";

}  // namespace ofs
