#include "sim/programs/diskpart.h"

#include <cstdio>

#include <vector>

#include "sim/core/text.h"

namespace tavu::sim {

namespace {

// diskpart reads its commands without regard to case.
std::vector<std::string> LowerWords(const std::string& line) {
  std::vector<std::string> words = Words(line);
  for (std::string& w : words) w = AsciiLower(w);
  return words;
}

// diskpart takes any abbreviation of three letters or more.
bool Is(const std::string& word, const char* full) {
  std::string f = full;
  return word.size() >= 3 && word.size() <= f.size() && f.compare(0, word.size(), word) == 0;
}

bool Number(const std::string& text, int* value) {
  std::uint64_t v = 0;
  if (text.size() > 4 || !ParseDigits(text, 10, 9999, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

bool HexByte(std::string text, std::uint8_t* value) {
  if (text.size() > 2 && text[0] == '0' && text[1] == 'x') text = text.substr(2);
  std::uint64_t v = 0;
  if (text.size() > 2 || !ParseDigits(text, 16, 0xFF, &v)) return false;
  *value = static_cast<std::uint8_t>(v);
  return true;
}

enum class Outcome { Ok, Failed, ServiceFailed, Syntax, PowerLost };

class Session {
 public:
  Session(SimDiskpartTarget& target, std::wstring& out) : target_(target), out_(out) {}

  Outcome Run(std::vector<std::string> words) {
    const std::string& verb = words[0];
    if (Is(verb, "select")) return Select(words);
    if (verb == "set") return SetId(words);
    if (Is(verb, "active")) return Active(words);
    if (Is(verb, "inactive")) return Inactive(words);
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
    char text[32];
    (void)std::snprintf(text, sizeof text, "set id=%02x override", static_cast<unsigned>(type));
    if (!Persist(text)) return Outcome::PowerLost;
    const bool changed = target_.SetMbrType(disk_, partition_, type);
    target_.WriteDone();
    if (!changed) {
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
    if (!Persist("active")) return Outcome::PowerLost;
    const bool changed = target_.SetActive(disk_, partition_);
    target_.WriteDone();
    if (!changed) {
      return Say(Outcome::ServiceFailed, L"Virtual Disk Service error:\r\nThe operation failed.");
    }
    return Say(Outcome::Ok, L"DiskPart marked the current partition as active.");
  }

  Outcome Inactive(const std::vector<std::string>& w) {
    if (w.size() != 1)
      return Say(Outcome::Syntax, L"The arguments specified for this command are not valid.");
    if (partition_ < 0) return Say(Outcome::Failed, L"There is no partition selected.");
    if (target_.DiskStyle(disk_) != 0) {
      return Say(Outcome::Failed,
                 L"The selected disk is not a fixed MBR disk.\r\n"
                 L"The INACTIVE command can only be used on fixed MBR disks.");
    }
    if (!Persist("inactive")) return Outcome::PowerLost;
    const bool changed = target_.SetInactive(disk_, partition_);
    target_.WriteDone();
    if (!changed) {
      return Say(Outcome::ServiceFailed, L"Virtual Disk Service error:\r\nThe operation failed.");
    }
    return Say(Outcome::Ok, L"DiskPart marked the current partition as inactive.");
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

  // A command that changes a table counts as written once it is given, even
  // when the table already says so.
  bool Persist(const char* command) {
    return target_.Persist("diskpart disk " + std::to_string(disk_) + " partition " + std::to_string(partition_) +
                           ": " + command);
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
  for (const std::string& line : Lines(script)) {
    std::vector<std::string> words = LowerWords(line);
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
      case Outcome::PowerLost: return kDiskpartServiceFailure;
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
