// OvkStatus message assembly and the typed accessors of OvkConfig.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "OvkConfig.h"
#include "OvkStatus.h"

namespace {

TEST(OvkStatusTest, ConcatWritesEveryPieceKindWithNothingBetween) {
  const std::string bytes("a\0b", 3);
  EXPECT_EQ(OvkStatus::concat("text", std::string("|str"), std::string_view("|sv")),
            "text|str|sv");
  EXPECT_EQ(OvkStatus::concat(bytes), bytes) << "byte strings go by length";
  EXPECT_EQ(OvkStatus::concat(std::numeric_limits<int64_t>::min(), " ",
                              std::numeric_limits<uint64_t>::max()),
            "-9223372036854775808 18446744073709551615");
  EXPECT_EQ(OvkStatus::concat(int8_t{-5}, ",", uint8_t{200}, ",", int16_t{-300},
                              ",", uint16_t{65535}, ",", int32_t{-7}, ",",
                              uint32_t{7}),
            "-5,200,-300,65535,-7,7")
      << "8-bit integers are numbers, not characters";
  EXPECT_EQ(OvkStatus::concat(true, false), "10");
  EXPECT_EQ(OvkStatus::concat("s=", OvkStatus(4010, "io down")),
            "s=code: 4010 msg: io down");
  EXPECT_EQ(OvkStatus::concat(), "");
}

TEST(OvkStatusTest, FactoriesSetCodeAndMessage) {
  OvkStatus ok;
  EXPECT_TRUE(ok.ok());
  EXPECT_EQ(ok.code(), 0);
  EXPECT_EQ(ok.errMsg(), "");

  OvkStatus io = OvkStatus::IOError("delete failed: ", "/a/b", " recursive ", true);
  EXPECT_EQ(io.code(), 3005);
  EXPECT_EQ(io.errMsg(), "delete failed: /a/b recursive 1");

  OvkStatus missing = OvkStatus::NotFound("cant not found ", "/x");
  EXPECT_EQ(missing.code(), 3001);
  EXPECT_EQ(missing.errMsg(), "cant not found /x");

  OvkStatus internal = OvkStatus::InternalError(4011, "mkdir failed: ", "503");
  EXPECT_EQ(internal.code(), 4011);
  EXPECT_FALSE(internal.ok());
  EXPECT_EQ(internal.errMsg(), "mkdir failed: 503");

  EXPECT_EQ(OvkStatus::InitError().code(), 1000);
  EXPECT_EQ(OvkStatus::InitError().errMsg(), "init failed ");
  EXPECT_EQ(OvkStatus::InitError("already inited").errMsg(),
            "init failed already inited");
  EXPECT_EQ(OvkStatus::IOError(OvkStatus::InitError()).errMsg(),
            "code: 1000 msg: init failed ");
}

enum class Getter { kInt64, kInt32, kDouble, kBool };

struct ParseCase {
  Getter getter;
  const char* stored;
  const char* expected;  // the returned value, rendered by render()
  const char* diagnostic;
};

// Defaults that no case parses to, so a returned default is visible.
constexpr int64_t kInt64Default = 77;
constexpr int32_t kInt32Default = 77;
constexpr double kDoubleDefault = 7.5;

std::string render(Getter getter, const OvkConfig& config,
                   bool bool_default) {
  std::ostringstream out;
  switch (getter) {
    case Getter::kInt64: out << config.getInt64("k", kInt64Default); break;
    case Getter::kInt32: out << config.getInt32("k", kInt32Default); break;
    case Getter::kDouble: out << config.getDouble("k", kDoubleDefault); break;
    case Getter::kBool: out << config.getBool("k", bool_default); break;
  }
  return out.str();
}

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
  static const char* const kNames[] = {"getInt64", "getInt32", "getDouble",
                                       "getBool"};
  return out << kNames[static_cast<int>(c.getter)] << "(\"" << c.stored
             << "\")";
}

class ConfigParseTest : public ::testing::TestWithParam<ParseCase> {};

// Booleans are read twice, with either default, so that a returned default
// can never pass for a parsed value.
TEST_P(ConfigParseTest, ReturnsValueOrDefaultWithOneDiagnosticLine) {
  const ParseCase& c = GetParam();
  OvkConfig config;
  config.setString("k", c.stored);
  for (bool bool_default : {false, true}) {
    if (c.getter != Getter::kBool && bool_default) break;
    std::string expected = c.expected;
    if (c.getter == Getter::kBool && expected == "default") {
      expected = bool_default ? "1" : "0";
    }
    ::testing::internal::CaptureStderr();
    std::string value = render(c.getter, config, bool_default);
    std::string diagnostic = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(value, expected);
    EXPECT_EQ(diagnostic, c.diagnostic);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigParseTest,
    ::testing::Values(
        ParseCase{Getter::kInt64, " 42", "42", ""},
        ParseCase{Getter::kInt64, "+5", "5", ""},
        ParseCase{Getter::kInt64, "42 ", "77", "Invalid int64_t type: 42 \n"},
        ParseCase{Getter::kInt64, "", "77", "Invalid int64_t type: \n"},
        ParseCase{Getter::kInt64, "   ", "77", "Invalid int64_t type:    \n"},
        ParseCase{Getter::kInt64, "abc", "77", "Invalid int64_t type: abc\n"},
        ParseCase{Getter::kInt64, "12abc", "77",
                  "Invalid int64_t type: 12abc\n"},
        ParseCase{Getter::kInt64, "0x10", "16", ""},
        ParseCase{Getter::kInt64, "0X1f", "31", ""},
        ParseCase{Getter::kInt64, "-0x10", "-16", ""},
        ParseCase{Getter::kInt64, "010", "8", ""},
        ParseCase{Getter::kInt64, "08", "77", "Invalid int64_t type: 08\n"},
        ParseCase{Getter::kInt64, "-9223372036854775808",
                  "-9223372036854775808", ""},
        ParseCase{Getter::kInt64, "9223372036854775808", "77",
                  "Underflow/Overflow int64_t type: 9223372036854775808\n"},
        ParseCase{Getter::kInt64, "-9223372036854775809", "77",
                  "Underflow/Overflow int64_t type: -9223372036854775809\n"},
        ParseCase{Getter::kInt32, "2147483647", "2147483647", ""},
        ParseCase{Getter::kInt32, "-2147483648", "-2147483648", ""},
        ParseCase{Getter::kInt32, "2147483648", "77",
                  "Underflow/Overflow int32_t type: 2147483648\n"},
        ParseCase{Getter::kInt32, "-2147483649", "77",
                  "Underflow/Overflow int32_t type: -2147483649\n"},
        ParseCase{Getter::kInt32, "99999999999999999999", "77",
                  "Underflow/Overflow int32_t type: 99999999999999999999\n"},
        ParseCase{Getter::kInt32, "0x10", "16", ""},
        ParseCase{Getter::kInt32, "017", "15", ""},
        ParseCase{Getter::kInt32, "7 ", "77", "Invalid int32_t type: 7 \n"},
        ParseCase{Getter::kInt32, "", "77", "Invalid int32_t type: \n"},
        ParseCase{Getter::kDouble, "-2.5", "-2.5", ""},
        ParseCase{Getter::kDouble, "0", "0", ""},
        ParseCase{Getter::kDouble, " 1e3", "1000", ""},
        ParseCase{Getter::kDouble, "nan", "nan", ""},
        ParseCase{Getter::kDouble, "1e400", "7.5",
                  "Underflow/Overflow int64_t type: 1e400\n"},
        ParseCase{Getter::kDouble, "inf", "7.5",
                  "Underflow/Overflow int64_t type: inf\n"},
        ParseCase{Getter::kDouble, "-inf", "7.5",
                  "Underflow/Overflow int64_t type: -inf\n"},
        ParseCase{Getter::kDouble, "2.5 ", "7.5",
                  "Invalid double type: 2.5 \n"},
        ParseCase{Getter::kDouble, "", "7.5", "Invalid double type: \n"},
        ParseCase{Getter::kDouble, "x1", "7.5", "Invalid double type: x1\n"},
        ParseCase{Getter::kBool, "TRUE", "1", ""},
        ParseCase{Getter::kBool, "True", "1", ""},
        ParseCase{Getter::kBool, "true", "1", ""},
        ParseCase{Getter::kBool, "1", "1", ""},
        ParseCase{Getter::kBool, "0", "0", ""},
        ParseCase{Getter::kBool, "FaLsE", "0", ""},
        ParseCase{Getter::kBool, "on", "default", "Invalid bool type: on\n"},
        ParseCase{Getter::kBool, "yes", "default", "Invalid bool type: yes\n"},
        ParseCase{Getter::kBool, " true", "default",
                  "Invalid bool type:  true\n"},
        ParseCase{Getter::kBool, "2", "default", "Invalid bool type: 2\n"},
        ParseCase{Getter::kBool, "", "default", "Invalid bool type: \n"}));

TEST(OvkConfigTest, AbsentKeyGivesDefaultSilently) {
  OvkConfig config;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(config.getInt64("missing", -3), -3);
  EXPECT_EQ(config.getInt32("missing", -4), -4);
  EXPECT_EQ(config.getDouble("missing", -5.5), -5.5);
  EXPECT_TRUE(config.getBool("missing", true));
  EXPECT_EQ(config.getString("missing", "dflt"), "dflt");
  EXPECT_FALSE(config.contains("missing"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(OvkConfigTest, ValueWithEmbeddedNulIsInvalidAndQuotedWhole) {
  OvkConfig config;
  const std::string stored("4\0" "2", 3);
  config.setString("k", stored);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(config.getInt64("k", 1), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Invalid int64_t type: " + stored + "\n");
}

TEST(OvkConfigTest, SettersStoreTheirCanonicalText) {
  OvkConfig config;
  config.setDouble("d1", 0.1);
  config.setDouble("d2", 3);
  config.setDouble("d3", 1e-7);
  config.setDouble("d4", -2.5);
  config.setInt64("i64", std::numeric_limits<int64_t>::min());
  config.setInt32("i32", -42);
  config.setBool("t", true);
  config.setBool("f", false);
  EXPECT_EQ(config.getString("d1", ""), "0.100000");
  EXPECT_EQ(config.getString("d2", ""), "3.000000");
  EXPECT_EQ(config.getString("d3", ""), "0.000000");
  EXPECT_EQ(config.getString("d4", ""), "-2.500000");
  EXPECT_EQ(config.getString("i64", ""), "-9223372036854775808");
  EXPECT_EQ(config.getString("i32", ""), "-42");
  EXPECT_EQ(config.getString("t", ""), "1");
  EXPECT_EQ(config.getString("f", ""), "0");
  EXPECT_EQ(config.getInt32("t", 9), 1);
  EXPECT_EQ(config.getInt64("i64", 0), std::numeric_limits<int64_t>::min());
}

TEST(OvkConfigTest, EntriesAreOverwrittenAndListedInByteOrder) {
  OvkConfig config;
  config.setString("b", "1");
  config.setString("a", "2");
  config.setString("B", "3");
  config.setString("a", "");
  EXPECT_TRUE(config.contains("a")) << "an empty value still counts";
  OvkConfig::Entries all = config.getAll();
  ASSERT_EQ(all.size(), 3u);
  auto it = all.begin();
  EXPECT_EQ(it++->first, "B");
  EXPECT_EQ(it++->first, "a");
  EXPECT_EQ(it->first, "b");
  EXPECT_EQ(all["a"], "");

  OvkConfig copy(all);
  EXPECT_EQ(copy.getString("B", ""), "3");
}

}  // namespace
