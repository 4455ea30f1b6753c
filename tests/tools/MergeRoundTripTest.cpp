#include <sys/stat.h>

#include <gtest/gtest.h>

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
  const struct {
    const char* option;
    const char* file;
    const char* reason;
  } cases[] = {{"--params", "big.ini", "exceed the capacity"},
               {"--ofs1", "junk", "image size is 0"},
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

TEST_F(MergeRoundTrip, RefusesAFileWithoutTheAreas) {
  BuildContainer("fw.ofs");
  const RunResult merged =
      Run(Tool("ofsmerge") + " " + Tool("mkofs") + " " + Path("out") + " --ofs1 " + Path("fw.ofs"));
  EXPECT_EQ(merged.exitCode, 1);
  EXPECT_NE(merged.err.find("start marker \"OFS3 FILE BUFFER\" not found"), std::string::npos) << merged.err;
}

}  // namespace
}  // namespace ofs
