#include "sim/core/machine.h"

#include <algorithm>
#include <cstdint>

namespace tavu::sim {

SimMachine::SimMachine(const std::string& root)
    : paths_(root),
      files_(paths_, handles_, faults_, system_),
      disks_(handles_, faults_),
      volumes_(disks_, handles_, faults_) {
  platform_.files = &files_;
  platform_.system = &system_;
  platform_.resources = &resources_;
  platform_.disks = &disks_;
  platform_.volumes = &volumes_;
  platform_.com = &com_;
  platform_.processes = &processes_;
  platform_.ui = &ui_;
  platform_.wmi = &wmi_;
  platform_.tasks = &tasks_;
  platform_.firmware = &firmware_;
  platform_.record = &record_;
  system_.SetFaults(&faults_);
  files_.SetVolumes(&volumes_, &disks_);
  disks_.OnLayoutWritten([this](int disk) { volumes_.RefreshAfterLayoutWrite(disk); });
  volumes_.SetClock([this] { return system_.elapsedMilliseconds(); });
  windowsTools_.programs().SetFileUsed([this](const std::string& host) { files_.ScanAfterUse(host); });
  // A restart asked for ends the session after its delay, unless it is called
  // off; without one, nothing ends it and the wait runs out.
  ui_.SetSessionEnd([this](std::uint32_t milliseconds) {
    SimPrograms& programs = windowsTools_.programs();
    if (programs.restart().pending && programs.restart().reboot) {
      if (!restartCancelled_) return SessionEnd::Ending;
      programs.CancelRestart();
      return SessionEnd::NotEnding;
    }
    system_.Pause(milliseconds);
    return SessionEnd::TimedOut;
  });
  // Windows asks the user for the missing medium, and waits for the answer,
  // unless the process set SEM_FAILCRITICALERRORS; the box is answered Cancel.
  volumes_.SetNoMediaPrompt([this](int disk) {
    if ((system_.errorMode() & kSemFailCriticalErrors) != 0) return;
    const std::wstring device =
        L"\\Device\\Harddisk" + std::to_wstring(disk) + L"\\DR" + std::to_wstring(disk);
    ui_.RecordSystemBox(L"There is no disk in the drive. Please insert a disk into drive " + device + L".",
                        system_.ModuleFileName() + L" - No Disk", kIdCancel);
  });
}

bool SimMachine::AddDisk(const std::string& imagePath, DiskKind kind, std::string* error) {
  return AddDisk(imagePath, kind, kSectorSizeFromImage, error);
}

bool SimMachine::AddDisk(const std::string& imagePath, DiskKind kind, std::uint32_t sectorSize,
                         std::string* error) {
  if (!disks_.AddDisk(imagePath, kind, sectorSize, error)) return false;
  volumes_.Refresh(true);
  return true;
}

void SimMachine::AddDiskBytes(std::vector<std::uint8_t> bytes, DiskKind kind, std::uint32_t sectorSize) {
  disks_.AddDiskBytes(std::move(bytes), kind, sectorSize);
  volumes_.Refresh(true);
}

void SimMachine::AddSharedDisk(std::shared_ptr<const std::vector<std::uint8_t>> bytes, DiskKind kind,
                               std::uint32_t sectorSize) {
  disks_.AddSharedDisk(std::move(bytes), kind, sectorSize);
  volumes_.Refresh(true);
}

void SimMachine::Settle() {
  if (volumes_.PendingArrivals() == 0) return;
  const std::uint64_t due = volumes_.LastArrivalDue();
  const std::uint64_t now = system_.elapsedMilliseconds();
  if (due > now) system_.Pause(static_cast<std::uint32_t>(std::min<std::uint64_t>(due - now, UINT32_MAX)));
  volumes_.Volumes();
}

void SimMachine::AddCardReader() {
  disks_.AddCardReader();
  volumes_.AddCardReader(disks_.Count() - 1);
}

void SimMachine::SetLanguage(const SimLanguage& language) {
  language_ = &language;
  tasks_.SetLanguage(language);
  windowsTools_.SetLanguage(language);
  system_.SetAnsiCodePage(language.ansiCodePage);
}

void SimMachine::AddAbsent() { disks_.AddAbsent(); }

// A worker thread still running would use components that are about to go.
SimMachine::~SimMachine() { ui_.JoinThreads(); }

void SimMachine::Install() { SetPlatform(platform_); }

std::string SimMachine::HostPath(const std::wstring& windowsPath) const {
  std::string host;
  paths_.ToHost(windowsPath, &host);
  return host;
}

}  // namespace tavu::sim
