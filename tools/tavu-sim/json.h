// tavu-sim's --json output: the programs' own JSON writer (common/json_out.h)
// collecting into a string, with the tool's string_view conveniences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/json_out.h"

namespace tavu::tool {

// Collects what is written into a string.
class StringSink : public TextSink {
 public:
  void Write(const char* bytes, std::size_t count) override {
    if (count != 0) text.append(bytes, count);
  }
  std::string text;
};

class JsonWriter {
 public:
  JsonWriter() : json_(sink_) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& BeginObject() { return Do(json_.BeginObject()); }
  JsonWriter& EndObject() { return Do(json_.EndObject()); }
  JsonWriter& BeginArray() { return Do(json_.BeginArray()); }
  JsonWriter& EndArray() { return Do(json_.EndArray()); }
  // The key of the next value inside an object.
  JsonWriter& Key(std::string_view key) { return Do(json_.Key(std::string(key).c_str())); }
  JsonWriter& Int(std::int64_t value) { return Do(json_.Int(value)); }
  JsonWriter& Bool(bool value) { return Do(json_.Bool(value)); }
  JsonWriter& Null() { return Do(json_.Null()); }
  JsonWriter& String(std::string_view utf8) { return Do(json_.String(utf8.data(), utf8.size())); }
  JsonWriter& WString(std::wstring_view text) { return Do(json_.WString(text.data(), text.size())); }

  // The writer underneath, for code shared with the programs.
  JsonOut& out() { return json_; }
  const std::string& text() const { return sink_.text; }

 private:
  JsonWriter& Do(JsonOut&) { return *this; }

  StringSink sink_;
  JsonOut json_;
};

// UTF-8 of a wide text (UTF-32 or UTF-16 wchar_t); broken surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);

}  // namespace tavu::tool
