// Text out as UTF-8, and a JSON writer over it: one value written in order,
// text escaped as JSON requires, and every character beyond ASCII as \uXXXX,
// so that the JSON reads the same in any code page. No heap and no exceptions, so that the
// shipped programs and the tools print the same JSON from the same code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavu {

class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Write(const char* bytes, std::size_t count) = 0;
};

// Writes text (count units, or up to its terminator when count is npos) as
// UTF-8; wchar_t is UTF-16 on Windows and UTF-32 elsewhere. Broken surrogates
// and values beyond Unicode become U+FFFD.
inline constexpr std::size_t kWholeText = static_cast<std::size_t>(-1);
void WriteUtf8(TextSink& out, const wchar_t* text, std::size_t count = kWholeText);
void WriteAscii(TextSink& out, const char* text);

class JsonOut {
 public:
  explicit JsonOut(TextSink& out) : out_(out) {}

  JsonOut& BeginObject();
  JsonOut& EndObject();
  JsonOut& BeginArray();
  JsonOut& EndArray();
  // The key of the next value inside an object.
  JsonOut& Key(const char* key);
  JsonOut& Int(std::int64_t value);
  JsonOut& Bool(bool value);
  JsonOut& Null();
  JsonOut& String(const char* utf8, std::size_t count);
  JsonOut& String(const char* utf8);
  JsonOut& WString(const wchar_t* text, std::size_t count = kWholeText);

 private:
  static constexpr int kMaxDepth = 32;
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);

  TextSink& out_;
  // Per open object or array: whether it has a member yet. Deeper nesting
  // than the room is still written, its separators counted at the last level.
  bool hasMember_[kMaxDepth] = {};
  int depth_ = 0;
  bool afterKey_ = false;
};

}  // namespace tavu
