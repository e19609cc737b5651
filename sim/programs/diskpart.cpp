#include "sim/programs/diskpart.h"

#include <vector>

namespace tavu::sim {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string cur;
  for (char c : line) {
    if (c == ' ' || c == '\t') {
      if (!cur.empty()) words.push_back(Lower(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) words.push_back(Lower(cur));
  return words;
}

// diskpart takes any abbreviation of three letters or more.
bool Is(const std::string& word, const char* full) {
  std::string f = full;
  return word.size() >= 3 && word.size() <= f.size() && f.compare(0, word.size(), word) == 0;
}

bool Number(const std::string& text, int* value) {
  if (text.empty() || text.size() > 4) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

bool HexByte(std::string text, std::uint8_t* value) {
  if (text.size() > 2 && text[0] == '0' && text[1] == 'x') text = text.substr(2);
  if (text.empty() || text.size() > 2) return false;
  unsigned v = 0;
  for (char c : text) {
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    v = v * 16 + d;
  }
  *value = static_cast<std::uint8_t>(v);
  return true;
}

enum class Outcome { Ok, Failed, ServiceFailed, Syntax };

class Session {
 public:
  Session(SimDiskpartTarget& target, std::wstring& out) : target_(target), out_(out) {}

  Outcome Run(std::vector<std::string> words) {
    const std::string& verb = words[0];
    if (Is(verb, "select")) return Select(words);
    if (verb == "set") return SetId(words);
    if (Is(verb, "active")) return Active(words);
    if (Is(verb, "remove")) return Remove(words);
    return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
  }

 private:
  Outcome Say(Outcome o, const wchar_t* text) {
    out_ += L"\r\n";
    out_ += text;
    out_ += L"\r\n";
    return o;
  }

  Outcome Select(const std::vector<std::string>& w) {
    if (w.size() != 3) return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
    int n = 0;
    if (Is(w[1], "disk")) {
      if (!Number(w[2], &n) || target_.DiskStyle(n) < 0) {
        return Say(Outcome::Failed, L"The disk you specified is not valid.\r\n\r\nThere is no disk selected.");
      }
      disk_ = n;
      partition_ = -1;
      out_ += L"\r\nDisk " + std::to_wstring(n) + L" is now the selected disk.\r\n";
      return Outcome::Ok;
    }
    if (Is(w[1], "partition")) {
      if (disk_ < 0) return Say(Outcome::Failed, L"There is no disk selected to set the partition.");
      if (!Number(w[2], &n) || !target_.HasPartition(disk_, n)) {
        return Say(Outcome::Failed, L"The partition you specified is not valid.");
      }
      partition_ = n;
      out_ += L"\r\nPartition " + std::to_wstring(n) + L" is now the selected partition.\r\n";
      return Outcome::Ok;
    }
    return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
  }

  Outcome SetId(const std::vector<std::string>& w) {
    if (w.size() < 2 || w[1].compare(0, 3, "id=") != 0) {
      return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
    }
    for (std::size_t k = 2; k < w.size(); ++k) {
      if (w[k] != "override") return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
    }
    if (partition_ < 0) return Say(Outcome::Failed, L"There is no partition selected.");
    if (target_.DiskStyle(disk_) != 0) {
      return Say(Outcome::Failed, L"The specified type is not in the correct format.");
    }
    std::uint8_t type = 0;
    if (!HexByte(w[1].substr(3), &type) || type == 0x42) {
      return Say(Outcome::Failed, L"The specified type is not in the correct format.");
    }
    if (!target_.SetMbrType(disk_, partition_, type)) {
      return Say(Outcome::ServiceFailed, L"Virtual Disk Service error:\r\nThe operation failed.");
    }
    return Say(Outcome::Ok, L"DiskPart successfully set the partition ID.");
  }

  Outcome Active(const std::vector<std::string>& w) {
    if (w.size() != 1) return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
    if (partition_ < 0) return Say(Outcome::Failed, L"There is no partition selected.");
    if (target_.DiskStyle(disk_) != 0) {
      return Say(Outcome::Failed,
                 L"The selected disk is not a fixed MBR disk.\r\n"
                 L"The ACTIVE command can only be used on fixed MBR disks.");
    }
    if (!target_.SetActive(disk_, partition_)) {
      return Say(Outcome::ServiceFailed, L"Virtual Disk Service error:\r\nThe operation failed.");
    }
    return Say(Outcome::Ok, L"DiskPart marked the current partition as active.");
  }

  Outcome Remove(const std::vector<std::string>& w) {
    wchar_t wanted = 0;
    for (std::size_t k = 1; k < w.size(); ++k) {
      const std::string& a = w[k];
      if (a.compare(0, 7, "letter=") == 0) {
        std::string l = a.substr(7);
        if (l.size() == 2 && l[1] == ':') l.resize(1);
        if (l.size() != 1 || l[0] < 'a' || l[0] > 'z') {
          return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
        }
        wanted = static_cast<wchar_t>(l[0] - 'a' + 'A');
      } else if (a != "dismount") {
        return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
      }
    }
    wchar_t letter = 0;
    if (partition_ < 0 || !target_.VolumeLetter(disk_, partition_, &letter)) {
      return Say(Outcome::Failed, L"There is no volume selected.");
    }
    if (letter == 0 || (wanted != 0 && wanted != letter)) {
      return Say(Outcome::Failed, L"The drive letter or mount point specified is not valid.");
    }
    if (!target_.RemoveLetter(disk_, partition_)) {
      return Say(Outcome::ServiceFailed, L"Virtual Disk Service error:\r\nThe operation failed.");
    }
    return Say(Outcome::Ok, L"DiskPart successfully removed the drive letter or mount point.");
  }

  SimDiskpartTarget& target_;
  std::wstring& out_;
  int disk_ = -1;
  int partition_ = -1;
};

}  // namespace

std::uint32_t RunDiskpartScript(const std::string& script, SimDiskpartTarget& target, std::wstring* output) {
  std::wstring sink;
  std::wstring& out = output != nullptr ? *output : sink;
  out = L"\r\nMicrosoft DiskPart version 10.0.19041.964\r\n";
  Session session(target, out);
  std::size_t start = 0;
  while (start < script.size()) {
    std::size_t lf = script.find('\n', start);
    std::string line = script.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    start = lf == std::string::npos ? script.size() : lf + 1;
    std::vector<std::string> words = Words(line.size() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    if (words.empty() || words[0] == "rem") continue;
    bool noerr = false;
    for (std::size_t k = 1; k < words.size();) {
      if (words[k] == "noerr") {
        noerr = true;
        words.erase(words.begin() + static_cast<std::ptrdiff_t>(k));
      } else {
        ++k;
      }
    }
    switch (session.Run(words)) {
      case Outcome::Ok: break;
      case Outcome::Syntax: return kDiskpartCommandFailed;
      case Outcome::Failed:
        if (!noerr) return kDiskpartCommandFailed;
        break;
      case Outcome::ServiceFailed:
        if (!noerr) return kDiskpartServiceFailure;
        break;
    }
  }
  return kDiskpartOk;
}

}  // namespace tavu::sim
