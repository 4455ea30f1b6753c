#include "params/Tool.h"

#include <gtest/gtest.h>

#include <optional>

namespace ofs {
namespace {

Lines Split(const std::string& text) {
  Lines lines{"stale"};
  SplitLines(text.data(), text.size(), lines);
  return lines;
}

struct SplitCase {
  std::string text;
  Lines expected;
};

class SplitLinesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTest, BreaksOnlyAtCrLf) { EXPECT_EQ(Split(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Texts, SplitLinesTest,
                         testing::Values(SplitCase{"a\r\nb", {"a", "b"}},        // last line without CR LF
                                         SplitCase{"a\r\n", {"a"}},              // no empty last line
                                         SplitCase{"a\nb", {"a\nb"}},            // lone LF is a character
                                         SplitCase{"a\r", {"a\r"}},              // lone CR at the end
                                         SplitCase{"a\r\r\nb", {"a\r", "b"}},    // CR before the pair
                                         SplitCase{"\r\n\r\nx", {"", "", "x"}},  // empty lines kept
                                         SplitCase{"", {}}));

TEST(SplitLines, StopsAtTheGivenLengthWithoutATerminator) {
  const char text[4] = {'a', '\r', '\n', 'b'};  // no 0 byte after it
  Lines lines;
  SplitLines(text, sizeof text, lines);
  EXPECT_EQ(lines, (Lines{"a", "b"}));
}

const Lines kText = {
    "k=7",  // before any header: never found
    "[Main]",
    "Updater=2",
    "Name=Drive tool  ",
    "Bare",
    "Eq=",
    "Spaced = 1",
    "Number=  -42abc",
    "Huge=99999999999",
    "Word=yes",
    "[argument]",  // case differs from [Argument]
    "[Argument]",
    "Disable98AutoInsertNotification=1",
    "s=5",
    "[Argument]",
    "Twice=3",
    "[Later]",
    "k=1",
    "sx=9",
};

struct LookupCase {
  const char* section;
  const char* key;
  std::optional<std::string> value;  // nothing: absent
};

class KeyLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(KeyLookupTest, FindsTheValueTextOrTheAbsentOne) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(GetIniString(kText, c.section, c.key, "<absent>"), c.value.value_or("<absent>"));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, KeyLookupTest,
    testing::Values(LookupCase{"Main", "Updater", "2"},
                    LookupCase{"Main", "Name", "Drive tool  "},             // trailing spaces kept
                    LookupCase{"Main", "Bare", ""},                         // key only: empty value
                    LookupCase{"Main", "Eq", ""},                           // separator only
                    LookupCase{"Main", "Spaced", "= 1"},                    // one separator character skipped
                    LookupCase{"Argument", "k", "1"},                       // found in a later section
                    LookupCase{"Argument", "d", std::nullopt},              // case-sensitive prefix
                    LookupCase{"Argument", "D", "sable98AutoInsertNotification=1"},  // prefix match
                    LookupCase{"Argument", "Twice", "3"},                   // later duplicate header's line
                    LookupCase{"Later", "s", "=9"},  // prefix: "sx=9", one character skipped
                    LookupCase{"Main", "s", "5"},                           // search runs past [Argument]
                    LookupCase{"Missing", "k", std::nullopt},               // no header
                    LookupCase{"Later", "Updater", std::nullopt}));         // lines before the header

struct IntCase {
  const char* key;
  int32_t expected;
};

class IniIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(IniIntTest, ConvertsLikeStrtol) {
  EXPECT_EQ(GetIniInt(kText, "Main", GetParam().key, 1234), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, IniIntTest,
                         testing::Values(IntCase{"Updater", 2}, IntCase{"Number", -42}, IntCase{"Huge", INT32_MAX},
                                         IntCase{"Word", 0}, IntCase{"Spaced", 0}, IntCase{"Bare", 0},
                                         IntCase{"Absent", 1234}));

TEST(GetIniBool, NonZeroIsTrueWordsAndEmptyValuesAreFalse) {
  EXPECT_TRUE(GetIniBool(kText, "Main", "Updater", false));  // the value 2
  EXPECT_FALSE(GetIniBool(kText, "Main", "Word", true));
  EXPECT_FALSE(GetIniBool(kText, "Main", "Bare", true));
  EXPECT_FALSE(GetIniBool(kText, "Main", "Spaced", true));
  EXPECT_TRUE(GetIniBool(kText, "Main", "Absent", true));
  EXPECT_FALSE(GetIniBool(kText, "Main", "Absent", false));
}

struct SectionCase {
  const char* section;
  Lines expected;
};

class IniSectionTest : public testing::TestWithParam<SectionCase> {};

TEST_P(IniSectionTest, CollectsUpToTheNextBracket) {
  const Lines text = {"[A]", "one", "", "two", "[B]", "[C]", "x", "[A]", "again", "[Last]", "l1", "", "l2", ""};
  EXPECT_EQ(GetIniSection(text, GetParam().section), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sections, IniSectionTest,
                         testing::Values(SectionCase{"A", {"one", "", "two"}},  // only the first [A]
                                         SectionCase{"B", {}},                  // header follows at once
                                         SectionCase{"Last", {"l1", "", "l2", ""}},  // runs to the end
                                         SectionCase{"Missing", {}}));

TEST(JoinLines, EndsEveryLineWithCrLf) {
  EXPECT_EQ(JoinLines({"a", "", "b "}), "a\r\n\r\nb \r\n");
  EXPECT_EQ(JoinLines({}), "");
}

TEST(JoinLines, SplitLinesUndoesIt) {
  const Lines lines = {"[Main]", "", "x=1", "lone\rcr", "lone\nlf"};
  EXPECT_EQ(Split(JoinLines(lines)), lines);
}

}  // namespace
}  // namespace ofs
