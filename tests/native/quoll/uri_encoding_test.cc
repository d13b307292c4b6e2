// Key and query encoding: what S3 signs is what we send, so every byte that
// is not unreserved must be escaped, and nothing else.
#include <gtest/gtest.h>

#include "UriEncoding.h"

namespace ovk::quoll {
namespace {

struct Case {
  const char* name;
  const char* raw;
  const char* path;   // keepSlash = true
  const char* query;  // keepSlash = false
};

class UriEncodingTest : public ::testing::TestWithParam<Case> {};

TEST_P(UriEncodingTest, EncodesForPathAndQuery) {
  const Case& c = GetParam();
  EXPECT_EQ(uriEncode(c.raw, true), c.path);
  EXPECT_EQ(uriEncode(c.raw, false), c.query);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, UriEncodingTest,
    ::testing::Values(
        Case{"plain", "plain-Key_1.txt~", "plain-Key_1.txt~", "plain-Key_1.txt~"},
        Case{"spaces", "dir/sub dir/a b", "dir/sub%20dir/a%20b", "dir%2Fsub%20dir%2Fa%20b"},
        Case{"plus", "a+b", "a%2Bb", "a%2Bb"},
        Case{"percent", "100%", "100%25", "100%25"},
        Case{"escaped_dots", "%2e%2e", "%252e%252e", "%252e%252e"},
        Case{"unicode", "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5", "%C3%A9t%C3%A9/%E6%97%A5",
             "%C3%A9t%C3%A9%2F%E6%97%A5"},
        Case{"reserved", "q?x#y&z=w;@:,$!*'()[]", "q%3Fx%23y%26z%3Dw%3B%40%3A%2C%24%21%2A%27%28%29%5B%5D",
             "q%3Fx%23y%26z%3Dw%3B%40%3A%2C%24%21%2A%27%28%29%5B%5D"},
        Case{"empty", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ovk::quoll
