#include "drive/DriveBusy.h"

#include <fstream>
#include <sstream>

#include "drive/IdentityText.h"

namespace ofs {

std::string FlockHolder(const std::string& procRoot, ino_t inode) {
  std::ifstream locks(procRoot + "/locks");
  const std::string wanted = ":" + std::to_string(inode);
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, pid, device;
    fields >> id >> kind >> mode >> access >> pid >> device;
    const bool match = kind == "FLOCK" && device.size() > wanted.size() &&
                       device.compare(device.size() - wanted.size(), wanted.size(), wanted) == 0;
    if (!match) continue;
    std::ifstream comm(procRoot + "/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return (name.empty() ? std::string("process") : name) + ", pid " + pid;
  }
  return {};
}

std::string DriveBusyText(const std::string& label, const std::string& holder) {
  return ShownName(label) + " is being flashed by another program" + (holder.empty() ? "" : " (" + ShownName(holder) + ")") +
         ". Nothing was written to it. Let that flash end, then try again; other drives can be flashed meanwhile.";
}

}  // namespace ofs
