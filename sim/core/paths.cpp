#include "sim/core/paths.h"
#include "sim/core/text.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <type_traits>
#include <vector>

namespace tavu::sim {

std::string Narrow(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (; *text != L'\0'; ++text) {
    auto c = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(*text));
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | ((c >> 18) & 0x07)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string Narrow(const std::wstring& text) { return Narrow(text.c_str()); }

std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = c;
    std::size_t extra = 0;
    if (c >= 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    }
    ++i;
    for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i) {
      cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(cp));
  }
  return out;
}

namespace {

bool MatchFrom(const std::wstring& p, std::size_t pi, const std::wstring& n, std::size_t ni) {
  while (pi < p.size()) {
    if (p[pi] == L'*') {
      for (std::size_t k = ni; k <= n.size(); ++k) {
        if (MatchFrom(p, pi + 1, n, k)) return true;
      }
      return false;
    }
    if (ni >= n.size()) return false;
    if (p[pi] != L'?' && AsciiUpper(p[pi]) != AsciiUpper(n[ni])) return false;
    ++pi;
    ++ni;
  }
  return ni == n.size();
}

}  // namespace

bool WildcardMatch(const std::wstring& pattern, const std::wstring& name) {
  return MatchFrom(pattern, 0, name, 0);
}

std::wstring SimPaths::Absolute(const std::wstring& windowsPath) const {
  if (windowsPath.size() >= 2 && windowsPath[1] == L':') return windowsPath;
  if (!windowsPath.empty() && (windowsPath[0] == L'\\' || windowsPath[0] == L'/')) {
    return current_.substr(0, 2) + windowsPath;
  }
  std::wstring base = current_;
  if (!base.empty() && base.back() != L'\\') base.push_back(L'\\');
  return base + windowsPath;
}

bool SimPaths::ToHost(const std::wstring& windowsPath, std::string* hostPath, HostKind* kind) const {
  if (kind != nullptr) *kind = HostKind::Unknown;
  std::wstring abs = Absolute(windowsPath);
  if (abs.size() < 2 || AsciiUpper(abs[0]) != L'C' || abs[1] != L':') return false;
  std::vector<std::string> parts;
  std::wstring part;
  for (std::size_t i = 2; i <= abs.size(); ++i) {
    if (i == abs.size() || abs[i] == L'\\' || abs[i] == L'/') {
      if (part == L"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != L".") {
        parts.push_back(Narrow(part));
      }
      part.clear();
    } else {
      part.push_back(abs[i]);
    }
  }
  std::string host = root_;
  for (const std::string& p : parts) host += "/" + p;
  // The path as spelled names the file already: no folder needs reading (a log
  // line opens the same file thousands of times in a pass).
  struct stat st;
  if (lstat(host.c_str(), &st) == 0) {
    if (kind != nullptr) {
      *kind = S_ISREG(st.st_mode) ? HostKind::File : S_ISDIR(st.st_mode) ? HostKind::Directory : HostKind::Unknown;
    }
    *hostPath = host;
    return true;
  }
  host = root_;
  for (const std::string& p : parts) {
    std::string chosen = p;
    if (DIR* dir = opendir(host.c_str())) {
      while (dirent* e = readdir(dir)) {
        if (AsciiEqualNoCase(e->d_name, p)) {
          chosen = e->d_name;
          break;
        }
      }
      closedir(dir);
    }
    host += "/" + chosen;
  }
  *hostPath = host;
  return true;
}

}  // namespace tavu::sim
