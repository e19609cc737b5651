#include "check/fleet_summary.h"

#include <cstring>

#include "check/report_words.h"

namespace tavu::check {

namespace {

// Keeps what fits, whole characters only: the text is ASCII.
class BoundedSink : public TextSink {
 public:
  explicit BoundedSink(SummaryLine* line) : line_(line) {}
  void Write(const char* bytes, std::size_t count) override {
    const std::size_t room = kSummaryChars - line_->length;
    const std::size_t n = count < room ? count : room;
    std::memcpy(line_->text + line_->length, bytes, n);
    line_->length += n;
    line_->text[line_->length] = '\0';
  }

 private:
  SummaryLine* line_;
};

}  // namespace

int CheckExitStatus(const CheckFacts& f) { return f.ready && !f.armedNow ? kExitReady : kExitNotReady; }

void WriteVersionMember(JsonOut& json) { json.Key("schema_version").Int(kCheckSchemaVersion); }

void WriteReasonCodeMember(const CheckFacts& f, JsonOut& json) {
  const char* word = ReasonCodeWord(f.reasonCode);
  json.Key("reason_code");
  word != nullptr ? json.String(word) : json.Null();
}

void FormatSummary(const CheckFacts& f, SummaryLine* line) {
  line->length = 0;
  line->text[0] = '\0';
  BoundedSink sink(line);
  JsonOut json(sink);
  json.BeginObject();
  WriteVersionMember(json);
  json.Key("verdict").String(f.ready ? "ready" : "abort");
  WriteReasonCodeMember(f, json);
  json.Key("win32_error").Int(f.decidingError);
  json.Key("route");
  RouteName(f.route) != nullptr ? json.String(RouteName(f.route)) : json.Null();
  json.Key("armed").BeginObject().Key("now").Bool(f.armedNow).Key("half_armed").Bool(f.halfArmed);
  json.Key("next_start").String(NextStartName(f.nextStart.next)).EndObject();
  wchar_t time[kPathChars];
  AboutTimeText(f.about, time, kPathChars);
  json.Key("version").String(CheckVersion()).Key("time").WString(time);
  json.EndObject();
}

void WriteErrorObject(JsonOut& json, const wchar_t* error) {
  json.BeginObject();
  WriteVersionMember(json);
  json.Key("verdict").String("error").Key("error").WString(error != nullptr ? error : L"");
  json.EndObject();
}

void WriteErrorObject(JsonOut& json, const char* utf8Error) {
  json.BeginObject();
  WriteVersionMember(json);
  json.Key("verdict").String("error").Key("error").String(utf8Error != nullptr ? utf8Error : "");
  json.EndObject();
}

}  // namespace tavu::check
