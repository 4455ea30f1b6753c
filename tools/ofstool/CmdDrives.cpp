// ofstool drives [--json]: the transport's drives, one line each, as the drive list shows them.
#include <cstdio>

#include "drive/IdentityText.h"
#include "drive/TransportFactory.h"
#include "drive/Winfunc.h"
#include "ofstool/Commands.h"
#include "ofstool/JsonWriter.h"
#include "system/LinuxPlatform.h"

namespace {

constexpr char kNotFlashable[] = "no access to a /dev/sg node; see README";

// Why there is nothing to list; a JSON reader still gets its (empty) array.
int NothingToList(bool json, const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  if (json) std::puts("[]");
  return 1;
}

}  // namespace

int ofstool::RunDrives(const Words& words) {
  const std::optional<bool> asked = JsonOnly(words, "drives");
  if (!asked) return 2;
  const bool json = *asked;
  ofs::LinuxPlatform platform;
  ofs::Transport transport = ofs::CreateTransportFromEnvironment(platform);
  if (!transport.error.empty() || !transport.atapi) return NothingToList(json, transport.error);
  ofs::TAtapiImp& atapi = *transport.atapi;
  if (atapi.driveCount == 0) return NothingToList(json, "ofstool drives: no drive to list. " + atapi.WhyNoDrive());
  JsonWriter out;
  out.BeginArray();
  for (int i = 0; i < atapi.driveCount; ++i) {
    const ofs::AtapiDriveEntry& entry = atapi.drives[i];
    // A drive that answers no model name (blanks or zeros) is shown as the flash window lists it.
    const bool identified = !ofs::ShownField(entry.identification).empty();
    const std::string line =
        identified ? ofs::BuildDriveLine(atapi, static_cast<ofs::DriveIndex>(i), true) : "(no identity)";
    const bool flashable = entry.filter == ofs::CommandFilter::None;
    if (json) {
      out.BeginObject().Key("index").Number(i).Key("node").String(entry.devicePath);
      out.Key("vendor").String(ofs::ShownField(entry.identification.substr(0, 8)));
      out.Key("product").String(ofs::ShownField(entry.identification.substr(std::min<std::size_t>(8, entry.identification.size()))));
      out.Key("revision").String(ofs::ShownField(entry.revision)).Key("identity").String(line);
      out.Key("flashable").Bool(flashable).Key("transport").String(entry.transport);
      if (entry.transport == "usb") out.Key("bridge").String(entry.bridge);
      if (!flashable) out.Key("reason").String(kNotFlashable);
      out.EndObject();
      continue;
    }
    std::printf("%d\t%s\t%s", i, ofs::ShownName(entry.devicePath).c_str(), line.c_str());
    if (entry.transport == "usb") std::printf("\t(USB bridge %s)", entry.bridge.c_str());
    if (!flashable) std::printf("\t(not flashable: %s)", kNotFlashable);
    std::printf("\n");
  }
  out.EndArray();
  if (json) std::fputs(out.Text().c_str(), stdout);
  return 0;
}
