// The check's JSON members: every fact the verdict rests on.
#include <cstdio>

#include "check/check_report.h"
#include "check/fleet_summary.h"
#include "check/report_words.h"
#include "patcher/launcher_version.h"

namespace tavu::check {

namespace {

JsonOut& OptionalText(JsonOut& json, const wchar_t* text) {
  return text[0] != L'\0' ? json.WString(text) : json.Null();
}

// A Windows error as its number, and Windows' own text in a member of its own
// (key_text), so that scripts match the number whatever the machine's language.
void ErrorMember(const CheckFacts& f, JsonOut& json, const char* key, std::uint32_t error) {
  char textKey[48];
  (void)std::snprintf(textKey, sizeof textKey, "%s_text", key);
  json.Key(key);
  error != 0 ? json.Int(error) : json.Null();
  const wchar_t* text = error != 0 ? f.errorTexts.Find(error) : nullptr;
  json.Key(textKey);
  text != nullptr&& text[0] != L'\0' ? json.WString(text) : json.Null();
}

void BitLocker(const CheckFacts& f, JsonOut& json) {
  json.Key("bitlocker").BeginObject().Key("result").Int(f.bitlockerResult);
  json.Key("query").String(f.bitlocker.failed ? "failed" : "ok");
  ErrorMember(f, json, "failure", f.bitlocker.failed ? static_cast<std::uint32_t>(f.bitlocker.failure) : 0);
  json.Key("volumes").BeginArray();
  for (std::size_t i = 0; i < ReportedVolumes(f.bitlocker); ++i) {
    const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
    json.BeginObject().Key("device").WString(v.deviceId).Key("letter");
    OptionalText(json, v.letter);
    json.Key("status");
    v.asked ? json.Int(v.status) : json.String("fail");
    const VolumePlace& p = f.bitlockerPlace[i];
    json.Key("disk");
    p.found ? json.Int(p.disk) : json.Null();
    json.Key("partition");
    p.found&& p.partition != 0 ? json.Int(p.partition) : json.Null();
    json.EndObject();
  }
  json.EndArray().EndObject();
}

void WindowsRe(const CheckFacts& f, JsonOut& json) {
  const WindowsReFacts& w = f.windowsRe;
  const bool present = w.file == ReAgentFile::Present;
  json.Key("windows_re").BeginObject().Key("reagent").String(ReAgentWord(w.file));
  ErrorMember(f, json, "reagent_error", w.error);
  json.Key("enabled");
  present&& w.xml.installState >= 0 ? json.Bool(w.xml.installState == 1) : json.Null();
  json.Key("bcd_id");
  present&& NamesEntry(w.xml) ? json.WString(w.xml.bcdId) : json.Null();
  json.Key("location");
  if (w.locationNamed) {
    json.BeginObject()
        .Key("path")
        .WString(w.xml.path)
        .Key("offset")
        .Int(static_cast<std::int64_t>(w.xml.offset));
    json.Key("disk");
    w.locationFound ? json.Int(w.disk) : json.Null();
    json.Key("partition");
    w.locationFound ? json.Int(w.partition) : json.Null();
    json.EndObject();
  } else {
    json.Null();
  }
  bool known = false;
  bool is = IsLauncherEntry(f, &known);
  json.Key("is_launcher_entry");
  known ? json.Bool(is) : json.Null();
  is = IsRecoveryPartition(f, &known);
  json.Key("is_recovery_partition");
  known ? json.Bool(is) : json.Null();
  // Windows RE that lives elsewhere than on a recovery partition (on C:,
  // typically): the listing's loader, shown when no recovery partition was found.
  json.Key("loader");
  if (f.ticket.loaderWithoutPartition) {
    json.BeginObject().Key("id").WString(f.ticket.loaderId).Key("device");
    OptionalText(json, f.ticket.loaderDevice);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("system32_image");
  f.ticket.system32Asked&& f.ticket.system32Image != Presence::Unknown
      ? json.String(f.ticket.system32Image == Presence::Present ? "present" : "missing")
      : json.Null();
  json.EndObject();
}

void RecoveryImage(const CheckFacts& f, JsonOut& json) {
  json.Key("recovery_image");
  if (f.route != Route::BootManager || !f.entryFound) {
    json.Null();
    return;
  }
  const RecoveryImageFacts& i = f.image;
  const bool present = f.imageResolved && i.image == FileState::Present;
  json.BeginObject().Key("device");
  f.imageResolved ? OptionalText(json, i.device) : json.Null();
  json.Key("path");
  f.imageResolved ? OptionalText(json, i.imagePath) : json.Null();
  json.Key("state").String(f.imageResolved ? FileStateWord(i.image) : "unknown");
  ErrorMember(f, json, "error", f.imageResolved ? i.imageError : 0);
  json.Key("size");
  present || (f.imageResolved && i.image == FileState::NotAWim)
      ? json.Int(static_cast<std::int64_t>(i.imageSize))
      : json.Null();
  json.Key("image_count");
  present ? json.Int(i.header.imageCount) : json.Null();
  json.Key("boot_index");
  present ? json.Int(i.header.bootIndex) : json.Null();
  json.Key("sdi").String(
      f.imageResolved ? FileStateWord(i.sdi == FileState::NotAWim ? FileState::Present : i.sdi) : "unknown");
  json.Key("sdi_path");
  f.imageResolved ? OptionalText(json, i.sdiPath) : json.Null();
  ErrorMember(f, json, "sdi_error", f.imageResolved ? i.sdiError : 0);
  json.Key("version");
  const WimVersion& v = f.imageVersion;
  if (present && v.found) {
    static const char* const kNames[WimVersion::kFields] = {"major", "minor", "build", "spbuild"};
    json.BeginObject();
    for (int k = 0; k < WimVersion::kFields; ++k) {
      json.Key(kNames[k]);
      v.has[k] ? json.Int(v.value[k]) : json.Null();
    }
    json.EndObject();
  } else {
    json.Null();
  }
  json.EndObject();
}

void Armed(const CheckFacts& f, JsonOut& json) {
  const BootManagerFacts& b = f.bootManager;
  wchar_t text[kLongTextChars];
  ArmedText(f, text, kLongTextChars);
  json.Key("armed").BeginObject().Key("now").Bool(f.armedNow).Key("half_armed").Bool(f.halfArmed);
  json.Key("next_start").String(NextStartName(f.nextStart.next));
  json.Key("next_start_why").String(f.nextStart.why.c_str());
  json.Key("journal").BeginObject().Key("path").WString(f.journalPath);
  json.Key("state").String(JournalWord(f.journalState)).EndObject();
  json.Key("undo");
  f.armedNow&& f.journalState == JournalState::Present ? json.WString(f.undoCommand) : json.Null();
  const ArmingSeen& s = f.seen;
  json.Key("seen").BeginObject().Key("customactions").Bool(s.customActions);
  json.Key("custom_entry").Bool(s.customEntry).Key("display_order_first").Bool(s.displayOrder);
  json.Key("partition_visible").Bool(s.partitionVisible).Key("partition_active").Bool(s.partitionActive);
  json.EndObject();
  json.Key("custom_action_entry");
  OptionalText(json, b.customEntry);
  json.Key("display_order").BeginArray();
  for (std::size_t i = 0; i < b.displayCount && i < kMaxListedIds; ++i) json.WString(b.displayOrder[i]);
  json.EndArray();
  json.Key("task_registered").Bool(f.taskRegistered);
  json.Key("partition");
  const MbrPartitionState& m = f.route == Route::PartitionTable ? f.mbrRecovery : f.mbrArmed;
  if (m.found) {
    char type[8];
    (void)std::snprintf(type, sizeof type, "0x%02X", static_cast<unsigned>(m.type));
    json.BeginObject().Key("disk").Int(m.disk).Key("partition").Int(m.partition).Key("type").String(type);
    json.Key("active").Bool(m.active).Key("windows_partition");
    m.windowsPartition != 0 ? json.Int(m.windowsPartition) : json.Null();
    json.Key("windows_partition_active").Bool(m.windowsActive).EndObject();
  } else {
    json.Null();
  }
  json.Key("volume_reach");
  f.reachAsked ? json.String(f.reach == VolumeReach::Reachable ? "reachable"
                             : f.reach == VolumeReach::Offline ? "offline"
                                                               : "not-presented")
               : json.Null();
  json.Key("text").WString(text).EndObject();
}

void BootManager(const CheckFacts& f, JsonOut& json) {
  const BootManagerFacts& b = f.bootManager;
  json.Key("boot_manager");
  if (!b.found) {
    json.Null();
    return;
  }
  json.BeginObject().Key("default");
  OptionalText(json, b.defaultId);
  json.Key("display_order").BeginArray();
  for (std::size_t i = 0; i < b.displayCount && i < kMaxListedIds; ++i) json.WString(b.displayOrder[i]);
  json.EndArray().Key("timeout");
  std::int64_t timeout = 0;
  bool number = b.hasTimeout && b.timeout[0] != L'\0';
  for (const wchar_t* c = b.timeout; number && *c != L'\0'; ++c) {
    number = *c >= L'0' && *c <= L'9' && timeout < 100000000;
    timeout = timeout * 10 + (*c - L'0');
  }
  number ? json.Int(timeout) : json.Null();
  json.Key("customactions");
  OptionalText(json, b.customActions);
  json.Key("would_write");
  ArmingLines lines;
  if (f.entryFound && FormatArmingLines(f.entryId, &lines)) {
    json.BeginArray();
    for (const auto& line : lines.line) json.WString(line);
    json.EndArray();
  } else {
    json.Null();
  }
  json.EndObject();
}

void Trust(const CheckFacts& f, JsonOut& json) {
  json.Key("trust").BeginObject().Key("fwmode_tool").Bool(f.trust.toolTrusted).Key("task_program");
  OptionalText(json, f.trust.taskProgram);
  json.Key("reason");
  const wchar_t* reason = TrustReason(f.trust.outcome);
  reason != nullptr ? json.WString(reason) : json.Null();
  wchar_t step[kLongTextChars];
  json.Key("refused_step");
  TrustStepText(f.trust.finding, step, kLongTextChars) ? json.WString(step) : json.Null();
  json.EndObject();
}

void About(const CheckFacts& f, JsonOut& json) {
  const AboutFacts& a = f.about;
  wchar_t text[kPathChars];
  AboutTimeText(a, text, kPathChars);
  json.Key("about").BeginObject().Key("version").String(CheckVersion()).Key("time").WString(text);
  json.Key("computer");
  OptionalText(json, a.computer);
  json.Key("manufacturer").WString(f.manufacturer).Key("model");
  OptionalText(json, a.model);
  json.Key("windows_build");
  if (a.hasVersion) {
    FormatBounded(text, kPathChars, L"%u.%u.%u", static_cast<unsigned>(a.major),
                  static_cast<unsigned>(a.minor), static_cast<unsigned>(a.build));
    json.WString(text);
  } else {
    json.Null();
  }
  json.Key("simulated").Bool(a.simulated);
  json.Key("made_up").BeginArray();
  if (a.madeUpComputer) json.String("computer");
  if (a.madeUpModel) json.String("model");
  if (a.madeUpBuild) json.String("windows_build");
  json.EndArray();
  json.EndObject();
}

}  // namespace

void WriteCheckMembers(const CheckFacts& f, JsonOut& json) {
  WriteVersionMember(json);
  json.Key("verdict").String(f.ready ? "ready" : "abort");
  json.Key("armed_state").String(ArmedStateWord(f));
  json.Key("abort_message");
  f.abortMessage != nullptr ? json.WString(f.abortMessage) : json.Null();
  json.Key("reason");
  f.ready ? json.Null() : json.WString(f.reason);
  WriteReasonCodeMember(f, json);

  json.Key("manufacturer").BeginObject();
  json.Key("text").WString(f.manufacturer).Key("accepted").Bool(f.manufacturerAccepted);
  json.EndObject();
  json.Key("windows64").Bool(f.windows64);
  BitLocker(f, json);

  json.Key("recovery_partition").BeginObject().Key("result").Int(f.partitionResult);
  json.Key("disk").Int(f.partitionDisk).Key("partition").Int(f.partitionNumber);
  json.Key("disks_searched").Int(f.partitionDetail.disksOpened);
  json.Key("failure");
  if (f.partitionResult == kLocateFailed) {
    json.BeginObject().Key("disk").Int(f.partitionDetail.failedDisk);
    ErrorMember(f, json, "windows_error", f.partitionDetail.error);
    json.EndObject();
  } else {
    json.Null();
  }
  const PartitionTicket& rp = f.ticket.recovery;
  json.Key("size");
  rp.known ? json.Int(rp.size) : json.Null();
  json.Key("free");
  rp.hasFree ? json.Int(static_cast<std::int64_t>(rp.freeBytes)) : json.Null();
  json.Key("label");
  if (rp.hasLabel) {
    json.WString(rp.label);
  } else if (f.rawLabelResult == kLocateFound) {
    json.WString(f.rawLabel);  // a hidden partition, read raw
  } else {
    json.Null();
  }
  json.Key("file_system");
  OptionalText(json, rp.fileSystem);
  json.Key("volume");
  OptionalText(json, rp.volume);
  json.EndObject();

  json.Key("partition_style");
  f.styleAsked ? json.BeginObject().Key("result").Int(f.styleResult).EndObject() : json.Null();
  json.Key("route");
  RouteName(f.route) != nullptr ? json.String(RouteName(f.route)) : json.Null();
  json.Key("recovery_entry");
  f.entryFound ? json.WString(f.entryId) : json.Null();
  json.Key("recovery_entry_lines");
  if (f.entryFound) {
    json.BeginObject().Key("description");
    OptionalText(json, f.entryDescription);
    json.Key("device");
    OptionalText(json, f.entryDevice);
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("listing");
  if (f.route == Route::BootManager) {
    json.BeginObject().Key("captured").Bool(f.listingCaptured && !f.listingMadeUp);
    json.Key("read").Bool(f.listingRead);
    json.Key("first_line");
    f.listingRead && !f.bootManager.found ? OptionalText(json, f.listingFirstLine) : json.Null();
    json.Key("lines").Int(static_cast<std::int64_t>(f.listingLines)).EndObject();
  } else {
    json.Null();
  }

  json.Key("recovery_volume");
  if (f.volumeAsked) {
    json.BeginObject().Key("result").Int(f.volumeResult).Key("disk").Int(f.volumeDisk);
    json.Key("partition").Int(f.volumePartition).Key("label");
    OptionalText(json, f.volumeLabel);
    json.Key("recovery_partition_label");
    f.rawLabelResult == kLocateFound ? json.WString(f.rawLabel) : json.Null();
    json.Key("failure");
    if (f.volumeResult == kLocateFailed) {
      json.BeginObject().Key("disk").Int(f.volumeDetail.failedDisk);
      ErrorMember(f, json, "windows_error", f.volumeDetail.error);
      json.EndObject();
    } else {
      json.Null();
    }
    json.EndObject();
  } else {
    json.Null();
  }

  json.Key("firmware_status");
  f.firmwareAsked ? json.Int(f.firmwareStatus) : json.Null();
  json.Key("fwmode_tool").BeginObject().Key("path").WString(f.fwModePath).Key("present").Bool(f.fwModeExists);
  json.Key("pattern_matched").Bool(f.fwModeMatch).EndObject();
  json.Key("logon_task").Bool(f.taskRegistered);
  ErrorMember(f, json, "logon_task_failure", static_cast<std::uint32_t>(f.taskFailure));
  json.Key("installed_launcher").BeginObject().Key("path").WString(f.launcherPath).Key("version");
  f.launcherInstalled&& f.launcherVersion[0] != L'\0' ? json.WString(f.launcherVersion) : json.Null();
  json.Key("patcher_would").String(PatcherWord(f.patcherWould)).EndObject();

  WindowsRe(f, json);
  RecoveryImage(f, json);
  json.Key("recovery_partitions").BeginArray();
  for (std::size_t i = 0; i < f.ticket.candidateCount; ++i) {
    const RecoveryCandidate& c = f.ticket.candidates[i];
    json.BeginObject().Key("disk").Int(c.disk).Key("partition").Int(c.partition).Key("live").Bool(c.live);
    json.EndObject();
  }
  json.EndArray();
  json.Key("orphan_entries").BeginArray();
  for (std::size_t i = 0; i < f.ticket.orphanCount; ++i) json.WString(f.ticket.orphans[i]);
  json.EndArray();
  json.Key("boot_signature");
  f.signatureAsked&& f.signatureResult == kLocateFound ? json.Bool(f.signaturePresent) : json.Null();
  Armed(f, json);
  BootManager(f, json);
  Trust(f, json);
  About(f, json);
}

}  // namespace tavu::check
