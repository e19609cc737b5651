// How the simulated Windows maps its paths onto a real folder that stands for C:.
#pragma once

#include <cstdint>
#include <string>

namespace tavu::sim {

// UTF-8 form of a wide text, for the host's file calls and for reports.
std::string Narrow(const wchar_t* text);
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// Case-insensitive (ASCII) wildcard match with '*' and '?', as FindFirstFileW does.
bool WildcardMatch(const std::wstring& pattern, const std::wstring& name);

// What the host holds at a path ToHost gave back, when it found the path as
// spelled; Unknown when it did not look, or found something else (a link).
enum class HostKind : std::uint8_t { Unknown, File, Directory };

class SimPaths {
 public:
  explicit SimPaths(std::string root) : root_(std::move(root)) {}

  const std::string& root() const { return root_; }

  // The host path for a Windows path ("C:\Windows\Temp\x", or relative to the
  // current directory). Each existing component is matched without regard to
  // case, as on Windows. False for paths outside C: or devices.
  bool ToHost(const std::wstring& windowsPath, std::string* hostPath, HostKind* kind = nullptr) const;

  // The absolute Windows form ("C:\...") of a path, relative ones joined to the
  // current directory.
  std::wstring Absolute(const std::wstring& windowsPath) const;

  void SetCurrent(const std::wstring& dir) { current_ = dir; }
  const std::wstring& current() const { return current_; }

 private:
  std::string root_;
  std::wstring current_ = L"C:\\Windows\\System32";
};

}  // namespace tavu::sim
