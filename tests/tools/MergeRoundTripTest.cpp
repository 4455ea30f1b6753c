#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/ToolRunner.h"

namespace ofs {
namespace {

using test::RunResult;

class MergeRoundTrip : public test::ToolTest {
 protected:
  void BuildContainer(const std::string& name) {
    const RunResult built = Run(Tool("mkofs") + " -o " + Path(name) + " --banks 4 --slot 0x10000 --template 0x100");
    ASSERT_EQ(built.exitCode, 0) << built.err;
  }
  void WriteUpdaterParameters(const std::string& name) {
    const std::string text = "[Main]\r\nUpdater=1\r\n";
    WriteBytes(Path(name), std::vector<uint8_t>(text.begin(), text.end()));
  }
};

std::string Buffer(const std::string& name, int capacity, bool present, int size, bool parsed) {
  return "{\"name\":\"" + name + "\",\"capacity\":" + std::to_string(capacity) +
         ",\"present\":" + (present ? "true" : "false") + ",\"image_size\":" + std::to_string(size) +
         ",\"parsed\":" + (parsed ? "true" : "false") + "}";
}

// What `ofstool embedded --json` prints when only OFS3 buffer 3 may hold a container.
std::string EmbeddedJson(const std::string& parameterText, int textLength, bool updater, const std::string& third) {
  return "{\"parameter_text\":\"" + parameterText + "\",\"parameter_text_length\":" + std::to_string(textLength) +
         ",\"parameter_capacity\":1048576,\"personality\":\"" + (updater ? "updater" : "flash utility") +
         "\",\"updater\":" + (updater ? "true" : "false") + ",\"buffers\":[" +
         Buffer("CVT FILE BUFFER", 0x110000, false, 0, false) + "," +
         Buffer("OFS3 FILE BUFFER", 0x210000, false, 0, false) + "," +
         Buffer("OFS3 FILE BUFFER2", 0x210000, false, 0, false) + "," + third + "]}\n";
}

TEST_F(MergeRoundTrip, AsBuiltTheProgramIsTheFlashUtility) {
  const RunResult embedded = Run(Tool("ofstool") + " embedded --json");
  ASSERT_EQ(embedded.exitCode, 0) << embedded.err;
  EXPECT_EQ(embedded.out,
            EmbeddedJson("built-in", 0, false, Buffer("OFS3 FILE BUFFER3", 0x210000, false, 0, false)));
}

TEST_F(MergeRoundTrip, MergedAreasAreReadFromTheFile) {
  BuildContainer("fw.ofs");
  WriteUpdaterParameters("updater.ini");
  const RunResult merged = Run(Tool("ofsmerge") + " " + Tool("ofstool") + " " + Path("updater") + " --ofs3 " +
                               Path("fw.ofs") + " --params " + Path("updater.ini"));
  ASSERT_EQ(merged.exitCode, 0) << merged.err;
  struct stat info {};
  ASSERT_EQ(::stat(Path("updater").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u) << "the merged program stays executable";

  const RunResult embedded = Run(Path("updater") + " embedded --json");
  ASSERT_EQ(embedded.exitCode, 0) << embedded.err;
  EXPECT_EQ(embedded.out,
            EmbeddedJson("embedded", 19, true, Buffer("OFS3 FILE BUFFER3", 0x210000, true, 0x40000, true)));

  // Merging again replaces the area whole: a smaller payload leaves no old bytes behind.
  const std::string shortText = "[Main]\r\n";
  WriteBytes(Path("short.ini"), std::vector<uint8_t>(shortText.begin(), shortText.end()));
  ASSERT_EQ(Run(Tool("ofsmerge") + " " + Path("updater") + " " + Path("again") + " --params " + Path("short.ini"))
                .exitCode,
            0);
  const RunResult again = Run(Path("again") + " embedded --json");
  EXPECT_NE(again.out.find("\"parameter_text_length\":8,"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("\"personality\":\"flash utility\""), std::string::npos) << again.out;
}

TEST_F(MergeRoundTrip, RefusesPayloadsThatDoNotBelong) {
  BuildContainer("fw.ofs");
  WriteBytes(Path("big.ini"), std::vector<uint8_t>(0x100001, 'A'));
  WriteBytes(Path("junk"), std::vector<uint8_t>(64, 0x33));
  // What start-up would call corrupt: one bank in a slot above the 64 MiB limit, and a
  // Philips image without a body.
  std::vector<uint8_t> hugeSlot(56 + 4 + 16, 0);
  const std::string magic = "ORVA FILE SYSTEM";
  std::copy(magic.begin(), magic.end(), hugeSlot.begin());
  hugeSlot[24] = '3';
  hugeSlot[36] = 1;     // one bank
  hugeSlot[43] = 0x05;  // of a 0x5000000-byte slot
  hugeSlot[56] = 16;    // holding 16 bytes
  WriteBytes(Path("huge-slot.ofs"), hugeSlot);
  std::vector<uint8_t> bodyless(40, 0);
  const std::string philips = "Philips";
  std::copy(philips.begin(), philips.end(), bodyless.begin());
  WriteBytes(Path("bodyless.bin"), bodyless);
  const struct {
    const char* option;
    const char* file;
    const char* reason;
  } cases[] = {{"--params", "big.ini", "exceed the capacity"},
               {"--ofs1", "junk", "image size is 0"},
               {"--ofs2", "huge-slot.ofs", "the image size 0x5000000 exceeds the limit of 64 MiB"},
               {"--cvt", "bodyless.bin", "the Philips image has no body"},
               {"--cvt", "fw.ofs", "not a Philips image"},
               {"--ofs4", "fw.ofs", "unknown option"}};
  for (const auto& c : cases) {
    const RunResult merged = Run(Tool("ofsmerge") + " " + Tool("ofstool") + " " + Path("out") + " " + c.option + " " +
                                 Path(c.file));
    EXPECT_EQ(merged.exitCode, 1) << c.option;
    EXPECT_NE(merged.err.find(c.reason), std::string::npos) << merged.err;
    EXPECT_FALSE(std::filesystem::exists(Path("out"))) << c.option;
  }
}

TEST_F(MergeRoundTrip, EmbeddedReportsWhatStartUpWouldCallCorrupt) {
  std::vector<uint8_t> image(40 + 64, 0x5A);
  const std::string name = "Philips embedded check";
  std::copy(name.begin(), name.end(), image.begin());
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(name.size()), image.begin() + 36, 0);
  WriteBytes(Path("philips.bin"), image);
  ASSERT_EQ(Run(Tool("ofsmerge") + " " + Tool("ofstool") + " " + Path("good") + " --cvt " + Path("philips.bin"))
                .exitCode,
            0);
  // ofsmerge refuses a Philips image without a body, so the length in front is cut by hand.
  std::ifstream in(Path("good"), std::ios::binary);
  std::vector<uint8_t> program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto at = std::search(program.begin(), program.end(), name.begin(), name.end());
  ASSERT_NE(at, program.end());
  *(at - 1) = 40;
  WriteBytes(Path("bodyless"), program);
  ASSERT_EQ(::chmod(Path("bodyless").c_str(), 0700), 0);

  const RunResult embedded = Run(Path("bodyless") + " embedded");
  EXPECT_NE(embedded.out.find("image size 0x28, not usable: the Philips image has no body"), std::string::npos)
      << embedded.out;
}

TEST_F(MergeRoundTrip, RefusesAFileWithoutTheAreas) {
  BuildContainer("fw.ofs");
  const RunResult merged =
      Run(Tool("ofsmerge") + " " + Tool("mkofs") + " " + Path("out") + " --ofs1 " + Path("fw.ofs"));
  EXPECT_EQ(merged.exitCode, 1);
  EXPECT_NE(merged.err.find("start marker \"OFS3 FILE BUFFER\" not found"), std::string::npos) << merged.err;
}

}  // namespace
}  // namespace ofs
