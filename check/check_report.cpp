#include "check/check_report.h"

#include <cstring>

#include "patcher/launcher_version.h"

namespace tavu::check {

namespace {

const char* RouteName(Route route) {
  switch (route) {
    case Route::BootManager:
      return "boot-manager";
    case Route::PartitionTable:
      return "partition-table";
    case Route::None:
      break;
  }
  return nullptr;
}

const char* PatcherWord(PatcherDecision d) {
  switch (d) {
    case PatcherDecision::Replace:
      return "replace";
    case PatcherDecision::Keep:
      return "keep";
    case PatcherDecision::Nothing:
      break;
  }
  return "nothing";
}

std::size_t ReportedVolumes(const ProtectionReport& r) {
  return r.count < ProtectionReport::kRoom ? r.count : ProtectionReport::kRoom;
}

// One line of the readable report: a caption padded to a column, then text.
class Report {
 public:
  explicit Report(TextSink& out) : out_(out) {}
  void Row(const char* caption, const wchar_t* text) {
    WriteAscii(out_, "  ");
    WriteAscii(out_, caption);
    for (std::size_t n = std::strlen(caption); n < 20; ++n) WriteAscii(out_, " ");
    WriteUtf8(out_, text);
    WriteAscii(out_, "\n");
  }
  wchar_t* buffer() { return text_; }

 private:
  TextSink& out_;
  wchar_t text_[kLongTextChars] = {};
};

}  // namespace

void WriteCheckMembers(const CheckFacts& f, JsonOut& json) {
  json.Key("verdict").String(f.ready ? "ready" : "abort");
  json.Key("abort_message");
  f.abortMessage != nullptr ? json.WString(f.abortMessage) : json.Null();
  json.Key("reason");
  f.ready ? json.Null() : json.WString(f.reason);

  json.Key("manufacturer").BeginObject();
  json.Key("text").WString(f.manufacturer).Key("accepted").Bool(f.manufacturerAccepted);
  json.EndObject();
  json.Key("windows64").Bool(f.windows64);

  json.Key("bitlocker").BeginObject().Key("result").Int(f.bitlockerResult).Key("volumes").BeginArray();
  for (std::size_t i = 0; i < ReportedVolumes(f.bitlocker); ++i) {
    const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
    json.BeginObject().Key("device").WString(v.deviceId).Key("status");
    v.asked ? json.Int(v.status) : json.String("fail");
    json.EndObject();
  }
  json.EndArray().EndObject();

  json.Key("recovery_partition").BeginObject().Key("result").Int(f.partitionResult);
  json.Key("disk").Int(f.partitionDisk).Key("partition").Int(f.partitionNumber);
  json.Key("disks_searched").Int(f.partitionDetail.disksOpened);
  json.Key("failure");
  if (f.partitionResult == kLocateFailed) {
    json.BeginObject().Key("disk").Int(f.partitionDetail.failedDisk);
    json.Key("windows_error").Int(f.partitionDetail.error).EndObject();
  } else {
    json.Null();
  }
  json.EndObject();

  json.Key("partition_style");
  f.styleAsked ? json.BeginObject().Key("result").Int(f.styleResult).EndObject() : json.Null();
  json.Key("route");
  RouteName(f.route) != nullptr ? json.String(RouteName(f.route)) : json.Null();
  json.Key("recovery_entry");
  f.entryFound ? json.WString(f.entryId) : json.Null();
  json.Key("listing");
  if (f.route == Route::BootManager) {
    json.BeginObject().Key("captured").Bool(f.listingCaptured).Key("read").Bool(f.listingRead);
    json.Key("lines").Int(static_cast<std::int64_t>(f.listingLines)).EndObject();
  } else {
    json.Null();
  }

  json.Key("recovery_volume");
  if (f.volumeAsked) {
    json.BeginObject().Key("result").Int(f.volumeResult).Key("disk").Int(f.volumeDisk);
    json.Key("partition").Int(f.volumePartition).Key("label");
    f.volumeLabel[0] != L'\0' ? json.WString(f.volumeLabel) : json.Null();
    json.Key("recovery_partition_label");
    f.rawLabelResult == kLocateFound ? json.WString(f.rawLabel) : json.Null();
    json.EndObject();
  } else {
    json.Null();
  }

  json.Key("firmware_status");
  f.firmwareAsked ? json.Int(f.firmwareStatus) : json.Null();
  json.Key("fwmode_tool").BeginObject().Key("path").WString(kFwModePath).Key("present").Bool(f.fwModeExists);
  json.Key("pattern_matched").Bool(f.fwModeMatch).EndObject();
  json.Key("logon_task").Bool(f.taskRegistered);
  json.Key("logon_task_failure");
  f.taskFailure != 0 ? json.Int(static_cast<std::uint32_t>(f.taskFailure)) : json.Null();
  json.Key("installed_launcher").BeginObject().Key("path").WString(f.launcherPath).Key("version");
  f.launcherInstalled&& f.launcherVersion[0] != L'\0' ? json.WString(f.launcherVersion) : json.Null();
  json.Key("patcher_would").String(PatcherWord(f.patcherWould)).EndObject();
}

void WriteCheckReport(const CheckFacts& f, TextSink& out) {
  Report r(out);
  wchar_t* t = r.buffer();
  WriteAscii(out, f.ready ? "TAVU Recovery check: ready (the launcher would arm this machine)\n"
                          : "TAVU Recovery check: abort\n");
  if (!f.ready) {
    WriteAscii(out, "  The launcher would show \"Recovery Aborted\": ");
    WriteUtf8(out, f.abortMessage);
    WriteAscii(out, "\n  Why: ");
    WriteUtf8(out, f.reason);
    WriteAscii(out, "\n");
  }
  WriteAscii(out, "\n");

  FormatBounded(t, kLongTextChars, L"\"%ls\" (%ls)", f.manufacturer,
                f.manufacturerAccepted ? L"accepted" : L"refused: no TAVU in it");
  r.Row("Manufacturer", t);
  if (f.firmwareAsked) {
    FormatBounded(t, kLongTextChars, L"%d (the /AUTO start %ls the window)",
                  static_cast<int>(f.firmwareStatus), f.firmwareStatus == 9 ? L"opens" : L"does not open");
  } else {
    CopyBounded(t, kLongTextChars, L"no answer (control device absent, or the request failed)");
  }
  r.Row("Firmware status", t);
  r.Row("64-bit Windows", f.windows64 ? L"yes" : L"no");
  FormatBounded(t, kLongTextChars, L"%ls, %d volume(s) asked",
                f.bitlockerResult == 1 ? L"a volume is protected" : L"no volume protected",
                static_cast<int>(f.bitlocker.count));
  r.Row("BitLocker", t);
  for (std::size_t i = 0; i < ReportedVolumes(f.bitlocker); ++i) {
    const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
    if (v.asked) {
      FormatBounded(t, kLongTextChars, L"%ls: status %d", v.deviceId, static_cast<int>(v.status));
    } else {
      FormatBounded(t, kLongTextChars, L"%ls: the question failed", v.deviceId);
    }
    r.Row("", t);
  }
  if (f.partitionResult == kLocateFound) {
    FormatBounded(t, kLongTextChars, L"disk %d, partition %d", static_cast<int>(f.partitionDisk),
                  static_cast<int>(f.partitionNumber));
  } else if (f.partitionResult == kLocateFailed) {
    FormatBounded(t, kLongTextChars, L"the search failed at disk %d (Windows error %u)",
                  static_cast<int>(f.partitionDetail.failedDisk),
                  static_cast<unsigned>(f.partitionDetail.error));
  } else {
    FormatBounded(t, kLongTextChars, L"none on the %d disk(s) searched",
                  static_cast<int>(f.partitionDetail.disksOpened));
  }
  r.Row("Recovery partition", t);
  for (int d = 0; d < 32; ++d) {
    if ((f.partitionDetail.noMediumDisks & (1u << static_cast<unsigned>(d))) == 0) continue;
    FormatBounded(t, kLongTextChars, L"disk %d has no medium (an empty card reader): passed over", d);
    r.Row("", t);
  }
  if (f.styleAsked) {
    FormatBounded(t, kLongTextChars, L"%ls: the %ls route",
                  f.styleResult == 0   ? L"MBR"
                  : f.styleResult == 1 ? L"GPT"
                                       : L"not readable",
                  f.route == Route::PartitionTable ? L"partition-table" : L"boot-manager");
    r.Row("Partition style", t);
  }
  if (f.route == Route::BootManager) {
    if (f.entryFound) {
      FormatBounded(t, kLongTextChars, L"%ls (from %d listing lines)", f.entryId,
                    static_cast<int>(f.listingLines));
    } else {
      FormatBounded(t, kLongTextChars, L"none (%ls)",
                    f.listingRead ? L"no entry names the recovery image" : L"the listing could not be read");
    }
    r.Row("Recovery entry", t);
  }
  if (f.volumeAsked) {
    if (f.volumeResult == kLocateFound) {
      FormatBounded(t, kLongTextChars, L"disk %d, partition %d, labelled \"%ls\"",
                    static_cast<int>(f.volumeDisk), static_cast<int>(f.volumePartition), f.volumeLabel);
    } else {
      CopyBounded(t, kLongTextChars, L"none would be found after the partition is made visible");
    }
    r.Row("Recovery volume", t);
  }
  FormatBounded(t, kLongTextChars, L"%ls in %ls",
                f.fwModeExists  ? L"present"
                : f.fwModeMatch ? L"only a longer-named FwMode*.exe"
                                : L"absent",
                kLauncherFolder);
  r.Row("FwMode.exe", t);
  if (f.taskFailure != 0) {
    FormatBounded(t, kLongTextChars, L"unknown: the Task Scheduler query failed (0x%08X)",
                  static_cast<unsigned>(f.taskFailure));
  } else {
    CopyBounded(t, kLongTextChars, f.taskRegistered ? L"registered" : L"not registered");
  }
  r.Row("Logon task", t);
  if (!f.launcherInstalled) {
    CopyBounded(t, kLongTextChars, L"none installed: the patcher would do nothing");
  } else {
    FormatBounded(t, kLongTextChars, L"FileVersion %ls: the patcher would %ls it",
                  f.launcherVersion[0] != L'\0' ? f.launcherVersion : L"(none)",
                  f.patcherWould == PatcherDecision::Replace ? L"replace" : L"keep");
  }
  r.Row("Installed launcher", t);
}

}  // namespace tavu::check
