// TavuRecoveryCheck.exe: the support check on a running notebook, as a console
// program. It takes no mutex, so it runs beside an open launcher window.
// Exit code 0 ready, 1 the launcher would abort or the machine is armed or
// half-armed, 2 a usage error.
#include <windows.h>

#include <cwchar>
#include <memory>

#include "check/check_args.h"
#include "check/check_report.h"
#include "check/recovery_check.h"
#include "common/com_api.h"
#include "common/error_mode.h"
#include "launcher/startup/globals.h"
#include "win32/dll_search.h"
#include "win32/win32_platform.h"

namespace {

constexpr char kUsage[] =
    "TavuRecoveryCheck: what TAVU Recovery would do on this machine, and why. Changes nothing.\n"
    "Run it as administrator.\n"
    "\n"
    "  TavuRecoveryCheck          a readable report\n"
    "  TavuRecoveryCheck /json    one JSON object (also -json, --json)\n"
    "  TavuRecoveryCheck /?       this text (also -h, /help)\n"
    "\n"
    "Exit code: 0 ready, 1 the launcher would abort or the machine is armed or half-armed,\n"
    "2 usage error.\n";

// Collects the output and writes it to a handle at the end: UTF-16 to a
// console (so that every character shows), UTF-8 bytes to a file or pipe.
class ConsoleSink : public tavu::TextSink {
 public:
  explicit ConsoleSink(DWORD which) : handle_(GetStdHandle(which)) {}
  ConsoleSink(const ConsoleSink&) = delete;
  ConsoleSink& operator=(const ConsoleSink&) = delete;
  ~ConsoleSink() override { Flush(); }

  void Write(const char* bytes, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (used_ == sizeof buffer_) Flush();
      buffer_[used_++] = bytes[i];
    }
  }

 private:
  void Flush() {
    if (used_ == 0 || handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) {
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
      if (n > 0) WriteConsoleW(handle_, wide_, static_cast<DWORD>(n), &done, nullptr);
    } else {
      WriteFile(handle_, buffer_, static_cast<DWORD>(whole), &done, nullptr);
    }
    for (std::size_t i = whole; i < used_; ++i) buffer_[i - whole] = buffer_[i];
    used_ -= whole;
  }

  static constexpr int kWideChars = 8192;
  HANDLE handle_;
  char buffer_[kWideChars] = {};
  wchar_t wide_[kWideChars] = {};
  std::size_t used_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  tavu::win32::RestrictDllSearchToSystem();
  const wchar_t* unknown = nullptr;
  const tavu::check::CheckMode mode = tavu::check::ParseCheckArgs(argc, argv, &unknown);
  if (mode == tavu::check::CheckMode::Help) {
    ConsoleSink out(STD_OUTPUT_HANDLE);
    tavu::WriteAscii(out, kUsage);
    return 0;
  }
  if (mode == tavu::check::CheckMode::Unknown) {
    ConsoleSink err(STD_ERROR_HANDLE);
    tavu::WriteAscii(err, "TavuRecoveryCheck: unknown argument: ");
    tavu::WriteUtf8(err, unknown);
    tavu::WriteAscii(err, "\n\n");
    tavu::WriteAscii(err, kUsage);
    return 2;
  }
  const bool json = mode == tavu::check::CheckMode::Json;

  tavu::win32::InstallWin32Platform();
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
  std::unique_ptr<tavu::check::CheckFacts> facts(new tavu::check::CheckFacts());
  tavu::check::RunCheck(facts.get());

  ConsoleSink out(STD_OUTPUT_HANDLE);
  if (json) {
    tavu::JsonOut writer(out);
    writer.BeginObject();
    tavu::check::WriteCheckMembers(*facts, writer);
    writer.EndObject();
    tavu::WriteAscii(out, "\n");
  } else {
    tavu::check::WriteCheckReport(*facts, out);
  }
  return facts->ready && !facts->armedNow ? 0 : 1;
}
