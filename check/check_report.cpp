#include "check/check_report.h"

#include <cstring>

#include "check/report_words.h"
#include "patcher/launcher_version.h"

namespace tavu::check {

namespace {

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

// ASCII text for a wide format, cut to fit: the formatters disagree on how a
// narrow argument is spelled.
struct Wide {
  explicit Wide(const char* ascii) {
    std::size_t i = 0;
    for (; ascii != nullptr && ascii[i] != '\0' && i + 1 < kLongTextChars; ++i)
      text[i] = static_cast<wchar_t>(ascii[i]);
    text[i] = L'\0';
  }
  wchar_t text[kLongTextChars];
};

// "10.0.22621.2506", "?" for a part the XML data lacks, or "unknown".
void VersionText(const WimVersion& v, wchar_t* out, std::size_t capacity) {
  if (!v.found) {
    CopyBounded(out, capacity, L"unknown (the image's XML data names none)");
    return;
  }
  out[0] = L'\0';
  for (int k = 0; k < WimVersion::kFields; ++k) {
    wchar_t part[16];
    if (v.has[k]) {
      FormatBounded(part, 16, L"%u", static_cast<unsigned>(v.value[k]));
    } else {
      CopyBounded(part, 16, L"?");
    }
    if (k > 0) AppendBounded(out, capacity, L".");
    AppendBounded(out, capacity, part);
  }
}

// ", 524288000 bytes, 104857600 free, NTFS, label "Recovery", \\?\Volume{...}\"
void PartitionRows(const CheckFacts& f, wchar_t* t) {
  const PartitionTicket& p = f.ticket.recovery;
  wchar_t part[kPathChars];
  if (p.known) {
    FormatBounded(part, kPathChars, L", %lld bytes", static_cast<long long>(p.size));
    AppendBounded(t, kLongTextChars, part);
  }
  if (p.hasFree) {
    FormatBounded(part, kPathChars, L", %llu free", static_cast<unsigned long long>(p.freeBytes));
    AppendBounded(t, kLongTextChars, part);
  }
  if (p.fileSystem[0] != L'\0') {
    FormatBounded(part, kPathChars, L", %ls", p.fileSystem);
    AppendBounded(t, kLongTextChars, part);
  }
  if (p.hasLabel) {
    FormatBounded(part, kPathChars, L", label \"%ls\"", p.label);
    AppendBounded(t, kLongTextChars, part);
  }
  if (p.volume[0] != L'\0') {
    FormatBounded(part, kPathChars, L", %ls", p.volume);
    AppendBounded(t, kLongTextChars, part);
  }
}

void RecoveryImageRows(const CheckFacts& f, Report& r) {
  wchar_t* t = r.buffer();
  if (!f.entryFound) return;
  if (!f.imageResolved) {
    r.Row("Recovery image", L"unknown: the entry has no ramdisk device line");
    return;
  }
  const RecoveryImageFacts& i = f.image;
  wchar_t error[kPathChars] = {};
  if (i.imageError != 0) DescribeError(f.errorTexts, i.imageError, error, kPathChars);
  if (i.imagePath[0] == L'\0') {
    FormatBounded(t, kLongTextChars, L"unknown: the device [%ls] is not one the launcher can reach",
                  i.device);
  } else if (i.image == FileState::Present) {
    FormatBounded(t, kLongTextChars, L"%ls: present, %llu bytes, %u image(s), boot index %u", i.imagePath,
                  static_cast<unsigned long long>(i.imageSize), static_cast<unsigned>(i.header.imageCount),
                  static_cast<unsigned>(i.header.bootIndex));
    wchar_t version[kPathChars];
    VersionText(f.imageVersion, version, kPathChars);
    AppendBounded(t, kLongTextChars, L", version ");
    AppendBounded(t, kLongTextChars, version);
  } else if (i.image == FileState::NotAWim) {
    if (i.cut != WimCut::None) {
      FormatBounded(t, kLongTextChars, L"%ls: not a WIM, its %ls lies beyond its end (%llu bytes)",
                    i.imagePath, WimCutWord(i.cut), static_cast<unsigned long long>(i.imageSize));
    } else {
      FormatBounded(t, kLongTextChars, L"%ls: not a WIM", i.imagePath);
    }
  } else {
    FormatBounded(t, kLongTextChars, L"%ls: %ls (Windows error %ls)", i.imagePath,
                  i.image == FileState::Missing ? L"missing" : L"unknown", error);
  }
  r.Row("Recovery image", t);
  error[0] = L'\0';
  if (i.sdiError != 0) DescribeError(f.errorTexts, i.sdiError, error, kPathChars);
  if (i.sdiPath[0] == L'\0') {
    CopyBounded(t, kLongTextChars, L"unknown: the options entry names no boot.sdi the launcher can reach");
  } else if (i.sdiFault != SdiFault::None) {
    FormatBounded(t, kLongTextChars, L"%ls: missing (%ls)", i.sdiPath,
                  i.sdiFault == SdiFault::Empty ? L"empty" : L"no $SDI0001 signature");
  } else if (i.sdi == FileState::Missing || i.sdi == FileState::Unknown) {
    FormatBounded(t, kLongTextChars, L"%ls: %ls (Windows error %ls)", i.sdiPath,
                  i.sdi == FileState::Missing ? L"missing" : L"unknown", error);
  } else {
    FormatBounded(t, kLongTextChars, L"%ls: present", i.sdiPath);
  }
  r.Row("boot.sdi", t);
}

void WindowsReRows(const CheckFacts& f, Report& r) {
  wchar_t* t = r.buffer();
  const WindowsReFacts& w = f.windowsRe;
  if (w.file != ReAgentFile::Present) {
    wchar_t error[kPathChars] = {};
    if (w.error != 0) DescribeError(f.errorTexts, w.error, error, kPathChars);
    FormatBounded(t, kLongTextChars, L"ReAgent.xml %ls%ls%ls",
                  w.file == ReAgentFile::Absent ? L"absent" : L"unreadable",
                  w.error != 0 ? L": Windows error " : L"", error);
    r.Row("Windows RE", t);
    return;
  }
  FormatBounded(t, kLongTextChars, L"%ls (ReAgent.xml InstallState %d)",
                w.xml.installState == 1   ? L"enabled"
                : w.xml.installState == 0 ? L"disabled"
                                          : L"state unknown",
                w.xml.installState);
  r.Row("Windows RE", t);
  if (f.ticket.system32Asked) {
    FormatBounded(t, kLongTextChars, L"%ls: %ls", kSystem32Image,
                  f.ticket.system32Image == Presence::Present   ? L"present"
                  : f.ticket.system32Image == Presence::Missing ? L"missing"
                                                                : L"unknown");
    r.Row("", t);
  }
  bool known = false;
  bool is = IsLauncherEntry(f, &known);
  if (known) {
    FormatBounded(t, kLongTextChars, L"WinreBCD %ls: %ls", w.xml.bcdId,
                  is ? L"the entry the launcher would arm" : L"not the entry the launcher would arm");
  } else {
    CopyBounded(t, kLongTextChars, L"WinreBCD names no entry");
  }
  r.Row("", t);
  is = IsRecoveryPartition(f, &known);
  if (!known) {
    CopyBounded(t, kLongTextChars, L"WinreLocation names no partition");
  } else if (!w.locationFound) {
    FormatBounded(t, kLongTextChars, L"WinreLocation %ls at offset %llu: no partition of this machine",
                  w.xml.path, static_cast<unsigned long long>(w.xml.offset));
  } else {
    FormatBounded(
        t, kLongTextChars, L"WinreLocation %ls: disk %d, partition %d, %ls", w.xml.path,
        static_cast<int>(w.disk), static_cast<int>(w.partition),
        is ? L"the recovery partition the launcher found" : L"not the recovery partition the launcher found");
  }
  r.Row("", t);
}

void BootManagerRows(const CheckFacts& f, Report& r) {
  wchar_t* t = r.buffer();
  const BootManagerFacts& b = f.bootManager;
  if (!b.found) return;
  FormatBounded(t, kLongTextChars, L"default %ls, timeout %ls",
                b.defaultId[0] != L'\0' ? b.defaultId : L"(none)", b.hasTimeout ? b.timeout : L"(none)");
  r.Row("Boot manager", t);
  t[0] = L'\0';
  for (std::size_t i = 0; i < b.displayCount && i < kMaxListedIds; ++i) {
    if (i > 0) AppendBounded(t, kLongTextChars, L" ");
    AppendBounded(t, kLongTextChars, b.displayOrder[i]);
  }
  wchar_t line[kLongTextChars];
  FormatBounded(line, kLongTextChars, L"displayorder %ls", t);
  r.Row("", line);
  FormatBounded(line, kLongTextChars, L"customactions %ls",
                b.customActions[0] != L'\0' ? b.customActions : L"(none)");
  r.Row("", line);
  ArmingLines lines;
  if (!f.entryFound || !FormatArmingLines(f.entryId, &lines)) return;
  r.Row("The launcher writes", lines.line[2]);
  for (std::size_t i = 3; i < kArmingLines; ++i) r.Row("", lines.line[i]);
}

}  // namespace

void WriteCheckReport(const CheckFacts& f, TextSink& out) {
  Report r(out);
  wchar_t* t = r.buffer();
  // An armed machine starts somewhere else next: that, and the way back, come
  // before what the launcher would do.
  if (f.armedNow) {
    if (f.journalState == JournalState::Present) {
      FormatBounded(t, kLongTextChars, L"TAVU Recovery check: %ls, %ls. Undo it with: %ls\n",
                    f.halfArmed ? L"half-armed" : L"armed", NextStartWords(f.nextStart.next), f.undoCommand);
    } else {
      FormatBounded(
          t, kLongTextChars,
          L"TAVU Recovery check: %ls, %ls. The journal is %ls, so %ls cannot undo it: undo it by hand "
          L"as \"Armed\" below says\n",
          f.halfArmed ? L"half-armed" : L"armed", NextStartWords(f.nextStart.next),
          Wide(JournalWord(f.journalState)).text, f.undoCommand);
    }
    WriteUtf8(out, t);
    WriteAscii(out,
               f.ready ? "  Verdict: ready (the launcher would arm this machine)\n" : "  Verdict: abort\n");
  } else {
    WriteAscii(out, f.ready ? "TAVU Recovery check: ready (the launcher would arm this machine)\n"
                            : "TAVU Recovery check: abort\n");
  }
  if (!f.ready) {
    WriteAscii(out, "  The launcher would show \"Recovery Aborted\": ");
    WriteUtf8(out, f.abortMessage);
    WriteAscii(out, "\n  Why: ");
    WriteUtf8(out, f.reason);
    WriteAscii(out, "\n");
  }
  WriteAscii(out, "\n");

  wchar_t when[kPathChars];
  AboutTimeText(f.about, when, kPathChars);
  wchar_t version[32] = {};
  for (std::size_t i = 0; i + 1 < 32 && CheckVersion()[i] != '\0'; ++i)
    version[i] = static_cast<wchar_t>(CheckVersion()[i]);
  FormatBounded(t, kLongTextChars, L"TavuRecoveryCheck %ls, %ls%ls", version, when,
                f.about.simulated ? L" (on a simulated machine)" : L"");
  r.Row("Check", t);
  const wchar_t* const madeUp = L" (made up by the simulation)";
  FormatBounded(t, kLongTextChars, L"%ls%ls, model \"%ls\"%ls",
                f.about.computer[0] != L'\0' ? f.about.computer : L"(unknown)",
                f.about.madeUpComputer ? madeUp : L"", f.about.model, f.about.madeUpModel ? madeUp : L"");
  r.Row("Computer", t);
  if (f.about.hasVersion) {
    FormatBounded(t, kLongTextChars, L"%u.%u.%u%ls", static_cast<unsigned>(f.about.major),
                  static_cast<unsigned>(f.about.minor), static_cast<unsigned>(f.about.build),
                  f.about.madeUpBuild ? madeUp : L"");
    r.Row("Windows", t);
  }
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
  if (f.bitlockerResult == 1) {
    FormatBounded(t, kLongTextChars, L"a volume is protected, %d volume(s) asked",
                  static_cast<int>(f.bitlocker.count));
  } else if (f.bitlocker.failed) {
    FormatBounded(t, kLongTextChars, L"the question failed (0x%08X): the launcher would arm anyway",
                  static_cast<unsigned>(f.bitlocker.failure));
  } else {
    FormatBounded(t, kLongTextChars, L"no volume protected, %d volume(s) asked",
                  static_cast<int>(f.bitlocker.count));
  }
  r.Row("BitLocker", t);
  for (std::size_t i = 0; i < ReportedVolumes(f.bitlocker); ++i) {
    const ProtectionReport::Volume& v = f.bitlocker.volumes[i];
    if (v.asked) {
      FormatBounded(t, kLongTextChars, L"%ls, status %d", VolumeName(v), static_cast<int>(v.status));
    } else {
      FormatBounded(t, kLongTextChars, L"%ls, the question failed", VolumeName(v));
    }
    if (f.bitlockerPlace[i].found) {
      wchar_t place[kPathChars];
      FormatBounded(place, kPathChars, L" (disk %d, partition %d)", static_cast<int>(f.bitlockerPlace[i].disk),
                    static_cast<int>(f.bitlockerPlace[i].partition));
      AppendBounded(t, kLongTextChars, place);
    }
    r.Row("", t);
  }
  if (f.partitionResult == kLocateFound) {
    FormatBounded(t, kLongTextChars, L"disk %d, partition %d", static_cast<int>(f.partitionDisk),
                  static_cast<int>(f.partitionNumber));
    PartitionRows(f, t);
  } else if (f.partitionResult == kLocateFailed) {
    wchar_t error[kPathChars];
    DescribeError(f.errorTexts, f.partitionDetail.error, error, kPathChars);
    FormatBounded(t, kLongTextChars, L"the search failed at disk %d (Windows error %ls)",
                  static_cast<int>(f.partitionDetail.failedDisk), error);
  } else {
    FormatBounded(t, kLongTextChars, L"none on the %d disk(s) searched",
                  static_cast<int>(f.partitionDetail.disksOpened));
  }
  r.Row("Recovery partition", t);
  for (std::size_t i = 0; f.ticket.candidateCount > 1 && i < f.ticket.candidateCount; ++i) {
    const RecoveryCandidate& c = f.ticket.candidates[i];
    FormatBounded(t, kLongTextChars, L"looks like one too: disk %d, partition %d%ls",
                  static_cast<int>(c.disk), static_cast<int>(c.partition), c.live ? L" (the live one)" : L"");
    r.Row("", t);
  }
  if (f.ticket.loaderWithoutPartition) {
    FormatBounded(t, kLongTextChars, L"%ls starts %ls, not on a recovery partition", f.ticket.loaderId,
                  f.ticket.loaderDevice[0] != L'\0' ? f.ticket.loaderDevice : L"(no device listed)");
    r.Row("Windows RE loader", t);
  }
  for (std::size_t i = 0; i < f.ticket.orphanCount; ++i) {
    FormatBounded(t, kLongTextChars, L"%ls: a Windows RE loader left over (not the live one)",
                  f.ticket.orphans[i]);
    r.Row("Orphan entry", t);
  }
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
    if (f.entryFound) {
      r.Row("", f.entryDescription);
      FormatBounded(t, kLongTextChars, L"device %ls", f.entryDevice);
      r.Row("", t);
    }
    RecoveryImageRows(f, r);
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
  if (f.signatureAsked) {
    r.Row("Boot signature", f.signatureResult != kLocateFound ? L"the first sector could not be read"
                            : f.signaturePresent              ? L"present (0x55 0xAA)"
                                                              : L"missing: the partition cannot start");
  }
  WindowsReRows(f, r);
  ArmedText(f, t, kLongTextChars);
  r.Row("Armed", t);
  FormatBounded(t, kLongTextChars, L"%ls: %ls%ls", Wide(NextStartName(f.nextStart.next)).text,
                Wide(f.nextStart.why.c_str()).text,
                f.listingRead ? L"" : L" (the boot store could not be listed)");
  r.Row("Next start", t);
  FormatBounded(t, kLongTextChars, L"%ls: %ls", Wide(JournalWord(f.journalState)).text,
                f.journalPath[0] != L'\0' ? f.journalPath : L"(no place for it)");
  r.Row("Journal", t);
  BootManagerRows(f, r);
  FormatBounded(t, kLongTextChars, L"%ls in %ls",
                f.fwModeExists  ? L"present"
                : f.fwModeMatch ? L"only a longer-named FwMode*.exe"
                                : L"absent",
                f.launcherFolder);
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
  const wchar_t* trust = TrustReason(f.trust.outcome);
  if (trust != nullptr) {
    r.Row("Trust", trust);
    if (TrustStepText(f.trust.finding, t, kLongTextChars)) r.Row("Refused at", t);
  } else {
    FormatBounded(t, kLongTextChars, L"FwMode.exe is started; the logon task runs %ls", f.trust.taskProgram);
    r.Row("Trust", t);
  }
}

}  // namespace tavu::check
