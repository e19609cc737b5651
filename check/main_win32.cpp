// TavuRecoveryCheck.exe: the support check on a running notebook, as a console
// program. It takes no mutex, so it runs beside an open launcher window.
// Exit code 0 ready, 1 the launcher would abort or the machine is armed or
// half-armed, 2 a usage error, 3 the check could not finish.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "check/check_args.h"
#include "check/check_report.h"
#include "check/fleet_record.h"
#include "check/fleet_summary.h"
#include "check/record_win32.h"
#include "check/recovery_check.h"
#include "common/com_api.h"
#include "common/error_mode.h"
#include "launcher/startup/globals.h"
#include "win32/dll_search.h"
#include "win32/win32_platform.h"

namespace {

constexpr char kUsage[] =
    "TavuRecoveryCheck: what TAVU Recovery would do on this machine, and why. Changes nothing\n"
    "unless /record is given. Run it as administrator.\n"
    "\n"
    "  TavuRecoveryCheck            a readable report\n"
    "  TavuRecoveryCheck /json      one JSON object (also -json, --json)\n"
    "  TavuRecoveryCheck /summary   one line of JSON, at most 512 characters (also -summary, --summary)\n"
    "  TavuRecoveryCheck /record    also leave the summary under HKLM\\SOFTWARE\\TAVU\\RecoveryCheck\n"
    "                               and as an event of \"TAVU Recovery Check\" in the Application log\n"
    "  TavuRecoveryCheck /?         this text (also -h, /help)\n"
    "\n"
    "Exit code: 0 ready, 1 the launcher would abort or the machine is armed or half-armed,\n"
    "2 usage error, 3 the check could not finish.\n";

// Collects the output and writes it to a handle at the end: UTF-16 to a
// console (so that every character shows), UTF-8 bytes to a file or pipe.
class ConsoleSink : public tavu::TextSink {
 public:
  explicit ConsoleSink(DWORD which) : handle_(GetStdHandle(which)) {}
  ConsoleSink(const ConsoleSink&) = delete;
  ConsoleSink& operator=(const ConsoleSink&) = delete;
  ~ConsoleSink() override { Flush(); }

  // Writes what is collected; false when any write so far failed.
  bool Finish() {
    Flush();
    return !failed_;
  }

  void Write(const char* bytes, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (used_ == sizeof buffer_) Flush();
      buffer_[used_++] = bytes[i];
    }
  }

 private:
  void Flush() {
    if (used_ == 0 || handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) {
      // No standard output at all (a detached start, as for /record alone):
      // nobody reads it, so nothing is lost.
      used_ = 0;
      return;
    }
    // A UTF-8 sequence cut by a full buffer waits for its rest.
    std::size_t whole = used_;
    while (whole > 0 && (static_cast<unsigned char>(buffer_[whole - 1]) & 0xC0) == 0x80) --whole;
    if (whole > 0 && static_cast<unsigned char>(buffer_[whole - 1]) >= 0xC0) --whole;
    if (whole == 0) whole = used_;
    DWORD mode = 0;
    DWORD done = 0;
    if (GetConsoleMode(handle_, &mode)) {
      int n = MultiByteToWideChar(CP_UTF8, 0, buffer_, static_cast<int>(whole), wide_, kWideChars);
      if (n > 0 && !WriteConsoleW(handle_, wide_, static_cast<DWORD>(n), &done, nullptr)) failed_ = true;
    } else if (!WriteFile(handle_, buffer_, static_cast<DWORD>(whole), &done, nullptr) || done != whole) {
      failed_ = true;
    }
    for (std::size_t i = whole; i < used_; ++i) buffer_[i - whole] = buffer_[i];
    used_ -= whole;
  }

  static constexpr int kWideChars = 8192;
  HANDLE handle_;
  char buffer_[kWideChars] = {};
  wchar_t wide_[kWideChars] = {};
  std::size_t used_ = 0;
  bool failed_ = false;
};

// The one-line JSON that stands in for an answer: usage errors and a check
// that could not finish, when the caller reads JSON.
void ErrorLine(const wchar_t* error) {
  ConsoleSink out(STD_OUTPUT_HANDLE);
  tavu::JsonOut json(out);
  tavu::check::WriteErrorObject(json, error);
  tavu::WriteAscii(out, "\n");
}

void RecordFailure(const char* what, std::uint32_t error) {
  if (error == 0) return;
  ConsoleSink err(STD_ERROR_HANDLE);
  char line[160];
  (void)std::snprintf(line, sizeof line, "TavuRecoveryCheck: /record: %s (Windows error %u)\n", what,
                      static_cast<unsigned>(error));
  tavu::WriteAscii(err, line);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using tavu::check::CheckMode;
  tavu::win32::RestrictDllSearchToSystem();
  const tavu::check::CheckArgs args = tavu::check::ReadCheckArgs(argc, argv);
  if (args.mode == CheckMode::Help) {
    ConsoleSink out(STD_OUTPUT_HANDLE);
    tavu::WriteAscii(out, kUsage);
    return tavu::check::kExitReady;
  }
  if (args.mode == CheckMode::Unknown) {
    {
      ConsoleSink err(STD_ERROR_HANDLE);
      tavu::WriteAscii(err, "TavuRecoveryCheck: unknown argument: ");
      tavu::WriteUtf8(err, args.unknown);
      tavu::WriteAscii(err, "\n\n");
      tavu::WriteAscii(err, kUsage);
    }
    if (args.answerInJson) {
      wchar_t error[tavu::kPathChars];
      tavu::FormatBounded(error, tavu::kPathChars, L"unknown argument: %ls", args.unknown);
      ErrorLine(error);
    }
    return tavu::check::kExitUsage;
  }

  tavu::win32::InstallWin32Platform();
  tavu::check::InstallWin32Record();
  tavu::FailCriticalErrorsQuietly();
  // The launcher's start-up: the multithreaded apartment and process security.
  tavu::ComApi& com = *tavu::Sys().com;
  if (tavu::Succeeded(com.InitializeMultithreaded())) {
    if (tavu::Succeeded(com.InitializeSecurity(tavu::kAuthnLevelDefault, tavu::kImpLevelImpersonate))) {
      tavu::g_comReady = 1;
    } else {
      com.Uninitialize();
    }
  }
  // Large (every label and path the check reads), and its defaults are not
  // all zero: on the heap it takes no room in the program file.
  std::unique_ptr<tavu::check::CheckFacts> facts(new (std::nothrow) tavu::check::CheckFacts());
  if (!facts) {
    {
      ConsoleSink err(STD_ERROR_HANDLE);
      tavu::WriteAscii(err, "TavuRecoveryCheck: no memory for the check\n");
    }
    if (args.answerInJson) ErrorLine(L"no memory for the check");
    return tavu::check::kExitCouldNotFinish;
  }
  tavu::check::RunCheck(facts.get());
  int status = tavu::check::CheckExitStatus(*facts);
  tavu::check::RecordOutcome recorded;
  if (args.record) recorded = tavu::check::WriteRecord(*facts);

  ConsoleSink out(STD_OUTPUT_HANDLE);
  if (args.mode == CheckMode::Summary) {
    tavu::check::SummaryLine line;
    tavu::check::FormatSummary(*facts, &line);
    out.Write(line.text, line.length);
    tavu::WriteAscii(out, "\n");
  } else if (args.mode == CheckMode::Json) {
    tavu::JsonOut writer(out);
    writer.BeginObject();
    tavu::check::WriteCheckMembers(*facts, writer);
    writer.EndObject();
    tavu::WriteAscii(out, "\n");
  } else {
    tavu::check::WriteCheckReport(*facts, out);
    if (args.record && recorded.written()) {
      tavu::WriteAscii(out,
                       "\nRecorded under HKLM\\SOFTWARE\\TAVU\\RecoveryCheck and in the Application log.\n");
    }
  }
  // A record asked for and not left, or an answer not delivered, is a check
  // that did not finish: the fleet's tool must not take it for an answer.
  RecordFailure("the registry values could not be written", recorded.registryError);
  RecordFailure("the event could not be reported", recorded.eventError);
  if (!recorded.written() || !out.Finish()) status = tavu::check::kExitCouldNotFinish;
  return status;
}
