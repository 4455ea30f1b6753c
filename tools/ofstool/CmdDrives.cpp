// ofstool drives: the transport's drives, one line each, as the drive list shows them.
#include <cstdio>

#include "drive/TransportFactory.h"
#include "drive/Winfunc.h"
#include "ofstool/Commands.h"
#include "system/LinuxPlatform.h"

int ofstool::RunDrives(int, char**) {
  ofs::LinuxPlatform platform;
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) {
    std::fprintf(stderr, "%s\n", transport.error.c_str());
    return 1;
  }
  ofs::TAtapiImp& atapi = *transport.atapi;
  if (atapi.driveCount == 0) {
    std::fprintf(stderr, "ofstool drives: no drive to list. %s\n", ofs::ExplainNoDrive().c_str());
    return 1;
  }
  for (int i = 0; i < atapi.driveCount; ++i) {
    const auto index = static_cast<ofs::DriveIndex>(i);
    std::printf("%d\t%s\t%s", i, atapi.drives[i].devicePath.c_str(), ofs::BuildDriveLine(atapi, index, true).c_str());
    if (atapi.drives[i].filter != ofs::CommandFilter::None) {
      std::printf("\t(not flashable: no access to a /dev/sg node; see README)");
    }
    std::printf("\n");
  }
  return 0;
}
