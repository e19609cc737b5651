#include "tools/tavu-sim/json.h"

namespace tavu::tool {

std::string ToUtf8(std::wstring_view text) {
  StringSink sink;
  WriteUtf8(sink, text.data(), text.size());
  return sink.text;
}

}  // namespace tavu::tool
