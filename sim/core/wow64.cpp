#include "sim/core/wow64.h"

#include "sim/core/text.h"

namespace tavu::sim {

namespace {

constexpr wchar_t kSystem32[] = L"C:\\WINDOWS\\SYSTEM32";
constexpr wchar_t kSysWow64[] = L"C:\\Windows\\SysWOW64";
constexpr wchar_t kSysnative[] = L"C:\\WINDOWS\\SYSNATIVE";
constexpr wchar_t kNativeSystem32[] = L"C:\\Windows\\System32";
constexpr wchar_t kRegedit[] = L"C:\\WINDOWS\\REGEDIT.EXE";

// The subfolders of System32 that both kinds of program share.
constexpr const wchar_t* kExempt[] = {L"CATROOT",      L"CATROOT2", L"DRIVERSTORE",
                                      L"DRIVERS\\ETC", L"LOGFILES", L"SPOOL"};

std::wstring Folded(const std::wstring& path) {
  std::wstring out = path;
  for (wchar_t& c : out) {
    if (c == L'/') c = L'\\';
    c = AsciiUpper(c);
  }
  return out;
}

// The length of folder when path is folder itself or lies below it; 0 otherwise.
std::size_t Below(const std::wstring& folded, const std::wstring& folder) {
  if (folded.compare(0, folder.size(), folder) != 0) return 0;
  if (folded.size() != folder.size() && folded[folder.size()] != L'\\') return 0;
  return folder.size();
}

bool Exempt(const std::wstring& folded, std::size_t systemLength) {
  if (folded.size() <= systemLength + 1) return false;
  std::wstring rest = folded.substr(systemLength + 1);
  for (const wchar_t* sub : kExempt) {
    if (Below(rest, sub) != 0) return true;
  }
  return false;
}

}  // namespace

void SimWow64::SetWindows64(bool is64) {
  std::lock_guard<std::mutex> hold(lock_);
  windows64_ = is64;
}

bool SimWow64::windows64() const {
  std::lock_guard<std::mutex> hold(lock_);
  return windows64_;
}

bool SimWow64::SetRedirection(bool enable) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!windows64_) return false;
  off_[std::this_thread::get_id()] = !enable;
  calls_.push_back(enable);
  return true;
}

bool SimWow64::OffForThisThread() const {
  auto it = off_.find(std::this_thread::get_id());
  return it != off_.end() && it->second;
}

bool SimWow64::RedirectionOn() const {
  std::lock_guard<std::mutex> hold(lock_);
  return windows64_ && !OffForThisThread();
}

std::vector<bool> SimWow64::calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

std::wstring SimWow64::Redirect(const std::wstring& absolutePath) const {
  return RedirectionOn() ? Wow64View(absolutePath) : absolutePath;
}

std::wstring SimWow64::Wow64View(const std::wstring& absolutePath) {
  std::wstring folded = Folded(absolutePath);
  if (std::size_t n = Below(folded, kSystem32); n != 0 && !Exempt(folded, n)) {
    return kSysWow64 + absolutePath.substr(n);
  }
  if (std::size_t n = Below(folded, kSysnative); n != 0) return kNativeSystem32 + absolutePath.substr(n);
  if (folded == kRegedit) return std::wstring(kSysWow64) + L"\\regedit.exe";
  return absolutePath;
}

bool SimWow64::InProcessServerLoads() const {
  std::lock_guard<std::mutex> hold(lock_);
  return !windows64_ || !OffForThisThread();
}

}  // namespace tavu::sim
