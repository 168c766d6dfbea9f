#include "stop_command.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

using namespace std::string_literals;

// {"cmd":"stop","n":[[...]]} with `depth` arrays and objects open at the deepest point,
// the command object included.
std::string nested_stop(int depth) {
  return R"({"cmd":"stop","n":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

struct StopCase {
  const char* name;
  std::string line;
  bool stops;
};

class StopCommandTest : public testing::TestWithParam<StopCase> {};

TEST_P(StopCommandTest, RecognisesOnlyTheStopCommand) {
  EXPECT_EQ(is_stop_command(GetParam().line), GetParam().stops) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StopCommandTest,
    testing::Values(
        StopCase{"plain", R"({"cmd":"stop"})", true},
        StopCase{"carriage_return", "{\"cmd\":\"stop\"}\r", true},
        StopCase{"surrounding_whitespace", " \t{\"cmd\":\"stop\"}\t \n", true},
        StopCase{"whitespace_inside", R"({ "cmd" : "stop" })", true},
        StopCase{"members_before_and_after", R"({"a":1,"cmd":"stop","b":[null,{"c":true}],"d":"x"})", true},
        StopCase{"escaped_letter", R"({"cmd":"st\u006fp"})", true},
        StopCase{"escaped_first_letter", R"({"cmd":"\u0073top"})", true},
        StopCase{"duplicate_last_is_stop", R"({"cmd":"go","cmd":"stop"})", true},
        StopCase{"nesting_127", nested_stop(127), true}, StopCase{"nesting_128", nested_stop(128), false},
        StopCase{"duplicate_first_is_stop", R"({"cmd":"stop","cmd":"go"})", false},
        StopCase{"duplicate_last_not_string", R"({"cmd":"stop","cmd":["stop"]})", false},
        StopCase{"capitals", R"({"cmd":"STOP"})", false},
        StopCase{"trailing_space_in_value", R"({"cmd":"stop "})", false},
        StopCase{"value_in_array", R"({"cmd":["stop"]})", false},
        StopCase{"value_in_object", R"({"cmd":{"cmd":"stop"}})", false},
        StopCase{"null_value", R"({"cmd":null})", false}, StopCase{"number_value", R"({"cmd":1})", false},
        StopCase{"bare_string", R"("stop")", false}, StopCase{"array_holding_string", R"(["stop"])", false},
        StopCase{"array_holding_command", R"([{"cmd":"stop"}])", false},
        StopCase{"other_member_name", R"({"command":"stop"})", false},
        StopCase{"nested_command", R"({"inner":{"cmd":"stop"}})", false},
        StopCase{"trailing_text", R"({"cmd":"stop"}x)", false},
        StopCase{"two_objects", R"({"cmd":"stop"}{"cmd":"stop"})", false},
        StopCase{"trailing_comma", R"({"cmd":"stop"},)", false},
        StopCase{"trailing_comment", R"({"cmd":"stop"} // end)", false},
        StopCase{"unterminated", R"({"cmd":"stop")", false}, StopCase{"empty", "", false},
        StopCase{"blank", " \t ", false}, StopCase{"plain_text", "stop", false},
        StopCase{"nul_after_object", "{\"cmd\":\"stop\"}\0junk"s, false},
        StopCase{"nul_at_end", "{\"cmd\":\"stop\"}\0"s, false},
        StopCase{"escaped_nul_in_value", R"({"cmd":"stop\u0000"})", false},
        StopCase{"leading_bom", "\xEF\xBB\xBF{\"cmd\":\"stop\"}", false}),
    [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora
