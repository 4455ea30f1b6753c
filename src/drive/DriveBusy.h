#pragma once
// What a flasher refused by a drive's hold is told, whichever back end holds it.
#include <sys/types.h>

#include <string>

namespace ofs {

// "ofstool, pid 123" for the process whose flock holds inode `inode`, from
// procRoot's locks table; empty when it cannot be told.
std::string FlockHolder(const std::string& procRoot, ino_t inode);

// The drive (label), the holder when known, and the way out.
std::string DriveBusyText(const std::string& label, const std::string& holder);

}  // namespace ofs
