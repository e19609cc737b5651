#include "tools/tavu-sim/json_read.h"

namespace tavu::tool {

namespace {

// Nesting deeper than this is no state file of ours.
constexpr int kMaxDepth = 32;

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool Document(JsonValue* value, std::string* error) {
    if (!Value(value, 0)) {
      *error = why_ + " at byte " + std::to_string(at_);
      return false;
    }
    Blanks();
    if (at_ != s_.size()) {
      *error = "text after the value at byte " + std::to_string(at_);
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* why) {
    why_ = why;
    return false;
  }
  void Blanks() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n')) ++at_;
  }
  bool Word(const char* word) {
    const std::string w(word);
    if (s_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }

  bool Value(JsonValue* v, int depth) {
    if (depth > kMaxDepth) return Fail("too deeply nested");
    Blanks();
    if (at_ >= s_.size()) return Fail("unexpected end");
    const char c = s_[at_];
    if (c == '{') return Object(v, depth);
    if (c == '[') return Array(v, depth);
    if (c == '"') {
      v->kind = JsonValue::Kind::String;
      return String(&v->text);
    }
    if (Word("true") || Word("false")) {
      v->kind = JsonValue::Kind::Bool;
      v->boolean = s_[at_ - 1] == 'e' && s_[at_ - 2] == 'u';
      return true;
    }
    if (Word("null")) {
      v->kind = JsonValue::Kind::Null;
      return true;
    }
    return Number(v);
  }

  bool Number(JsonValue* v) {
    bool negative = false;
    if (at_ < s_.size() && s_[at_] == '-') {
      negative = true;
      ++at_;
    }
    const std::size_t start = at_;
    std::int64_t n = 0;
    while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') {
      if (n > (INT64_MAX - (s_[at_] - '0')) / 10) return Fail("number out of range");
      n = n * 10 + (s_[at_] - '0');
      ++at_;
    }
    if (at_ == start) return Fail("not a JSON value");
    v->kind = JsonValue::Kind::Number;
    v->number = negative ? -n : n;
    return true;
  }

  bool Hex4(std::uint32_t* out) {
    if (at_ + 4 > s_.size()) return Fail("short \\u escape");
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      u <<= 4;
      if (c >= '0' && c <= '9') {
        u |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        u |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        u |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    *out = u;
    return true;
  }

  static void Utf8(std::uint32_t cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool String(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (at_ >= s_.size()) break;
      const char e = s_[at_++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          std::uint32_t u = 0;
          if (!Hex4(&u)) return false;
          if (u >= 0xD800 && u < 0xDC00 && at_ + 6 <= s_.size() && s_[at_] == '\\' && s_[at_ + 1] == 'u') {
            at_ += 2;
            std::uint32_t low = 0;
            if (!Hex4(&low)) return false;
            if (low >= 0xDC00 && low < 0xE000) {
              u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            } else {
              u = 0xFFFD;
            }
          } else if (u >= 0xD800 && u < 0xE000) {
            u = 0xFFFD;
          }
          Utf8(u, out);
          break;
        }
        default: return Fail("bad escape in a string");
      }
    }
    return Fail("unterminated string");
  }

  bool Array(JsonValue* v, int depth) {
    v->kind = JsonValue::Kind::Array;
    ++at_;
    Blanks();
    if (at_ < s_.size() && s_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!Value(&item, depth + 1)) return false;
      v->items.push_back(std::move(item));
      Blanks();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == ']') {
        ++at_;
        return true;
      }
      return Fail("expected , or ]");
    }
  }

  bool Object(JsonValue* v, int depth) {
    v->kind = JsonValue::Kind::Object;
    ++at_;
    Blanks();
    if (at_ < s_.size() && s_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      Blanks();
      std::string key;
      if (at_ >= s_.size() || s_[at_] != '"' || !String(&key)) return Fail("expected a key");
      Blanks();
      if (at_ >= s_.size() || s_[at_] != ':') return Fail("expected :");
      ++at_;
      JsonValue member;
      if (!Value(&member, depth + 1)) return false;
      v->members[key] = std::move(member);
      Blanks();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == '}') {
        ++at_;
        return true;
      }
      return Fail("expected , or }");
    }
  }

  const std::string& s_;
  std::size_t at_ = 0;
  std::string why_;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  static const JsonValue kNull;
  auto it = members.find(key);
  return it == members.end() ? kNull : it->second;
}

bool ParseJson(const std::string& text, JsonValue* value, std::string* error) {
  *value = JsonValue{};
  return Parser(text).Document(value, error);
}

}  // namespace tavu::tool
