// A small JSON reader for the files tavu-sim reads back (the machine's state
// between runs): objects, arrays, strings, integers, true, false and null.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavu::tool {

struct JsonValue {
  enum class Kind : std::uint8_t { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::int64_t number = 0;
  std::string text;  // UTF-8
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  // The member of an object, or a null value when there is none.
  const JsonValue& operator[](const std::string& key) const;
  bool IsString() const { return kind == Kind::String; }
};

// False, with a one-line reason, for anything but one whole JSON value.
bool ParseJson(const std::string& text, JsonValue* value, std::string* error);

}  // namespace tavu::tool
