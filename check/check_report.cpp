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
  } else if (i.image == FileState::NotAWim) {
    FormatBounded(t, kLongTextChars, L"%ls: not a WIM", i.imagePath);
  } else {
    FormatBounded(t, kLongTextChars, L"%ls: %ls (Windows error %ls)", i.imagePath,
                  i.image == FileState::Missing ? L"missing" : L"unknown", error);
  }
  r.Row("Recovery image", t);
  error[0] = L'\0';
  if (i.sdiError != 0) DescribeError(f.errorTexts, i.sdiError, error, kPathChars);
  if (i.sdiPath[0] == L'\0') {
    CopyBounded(t, kLongTextChars, L"unknown: the options entry names no boot.sdi the launcher can reach");
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
  FormatBounded(t, kLongTextChars, L"TavuRecoveryCheck %ls, %ls", version, when);
  r.Row("Check", t);
  FormatBounded(t, kLongTextChars, L"%ls, model \"%ls\"",
                f.about.computer[0] != L'\0' ? f.about.computer : L"(unknown)", f.about.model);
  r.Row("Computer", t);
  if (f.about.hasVersion) {
    FormatBounded(t, kLongTextChars, L"%u.%u.%u", static_cast<unsigned>(f.about.major),
                  static_cast<unsigned>(f.about.minor), static_cast<unsigned>(f.about.build));
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
    r.Row("", t);
  }
  if (f.partitionResult == kLocateFound) {
    FormatBounded(t, kLongTextChars, L"disk %d, partition %d", static_cast<int>(f.partitionDisk),
                  static_cast<int>(f.partitionNumber));
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
  } else {
    FormatBounded(t, kLongTextChars, L"FwMode.exe is started; the logon task runs %ls", f.trust.taskProgram);
    r.Row("Trust", t);
  }
}

}  // namespace tavu::check
