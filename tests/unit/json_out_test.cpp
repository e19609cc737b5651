// The programs' JSON writer: what support engineers feed to their scripts must
// parse, whatever the texts hold, and in any code page: it is ASCII only.
#include "common/json_out.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tavu::test {
namespace {

struct Collect : TextSink {
  void Write(const char* bytes, std::size_t count) override { text.append(bytes, count); }
  std::string text;
};

TEST(JsonOut, EscapesTextsAndWritesNumbersAsJsonRequires) {
  Collect out;
  JsonOut json(out);
  const wchar_t broken[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  json.BeginObject()
      .Key("q\"k")
      .WString(L"C:\\Temp\t\"x\"\r\n\x01")
      .Key("u")
      .WString(L"\x00e9\x20ac")
      .Key("broken")
      .WString(broken)
      .Key("astral")
      .WString(L"\U0001F600")
      .Key("utf8")
      .String("\xC3\xA9 \xC3( \xE0\x80\x80 \xF0\x9F\x98\x80")
      .Key("min")
      .Int(INT64_MIN)
      .Key("max")
      .Int(INT64_MAX)
      .Key("zero")
      .Int(0)
      .Key("list")
      .BeginArray()
      .Bool(true)
      .Null()
      .BeginObject()
      .EndObject()
      .BeginArray()
      .EndArray()
      .String("s", 1)
      .EndArray()
      .EndObject();
  EXPECT_EQ(out.text,
            "{\"q\\\"k\": \"C:\\\\Temp\\t\\\"x\\\"\\r\\n\\u0001\", \"u\": \"\\u00e9\\u20ac\", "
            "\"broken\": \"a\\ufffdb\", \"astral\": \"\\ud83d\\ude00\", "
            "\"utf8\": \"\\u00e9 \\ufffd( \\ufffd\\ufffd\\ufffd \\ud83d\\ude00\", \"min\": "
            "-9223372036854775808, \"max\": 9223372036854775807, "
            "\"zero\": 0, \"list\": [true, null, {}, [], \"s\"]}");
}

}  // namespace
}  // namespace tavu::test
