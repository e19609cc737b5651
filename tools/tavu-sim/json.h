// A small JSON writer for tavu-sim's --json output: one object, written in
// order, with text escaped as JSON requires. Wide texts are written as UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavu::tool {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The key of the next value inside an object.
  JsonWriter& Key(std::string_view key);
  JsonWriter& Int(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  JsonWriter& String(std::string_view utf8);
  JsonWriter& WString(std::wstring_view text);

  const std::string& text() const { return out_; }

 private:
  void BeforeValue();
  void Quoted(std::string_view utf8);

  std::string out_;
  // Per open object or array: whether it has a member yet.
  std::vector<bool> hasMember_;
  bool afterKey_ = false;
};

// UTF-8 of a wide text (UTF-32 or UTF-16 wchar_t); broken surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view text);

}  // namespace tavu::tool
