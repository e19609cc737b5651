#include "sim/seam/ui.h"

#include <cstdint>

#include "common/win_errors.h"
#include "sim/core/last_error.h"
#include "sim/core/operation.h"

namespace tavu::sim {

namespace {

// The first button of each MB_ button set (the low four bits of the flags).
int FirstButton(std::uint32_t flags) {
  // Indexed by MB_OK, MB_OKCANCEL, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL, MB_YESNO,
  // MB_RETRYCANCEL, MB_CANCELTRYCONTINUE: IDOK, IDOK, IDABORT, IDYES, IDYES,
  // IDRETRY, IDCANCEL. Any other set makes MessageBoxW fail.
  static const int kFirst[] = {1, 1, 3, 6, 6, 4, 2};
  std::uint32_t set = flags & 0xF;
  return set < sizeof(kFirst) / sizeof(kFirst[0]) ? kFirst[set] : 0;
}

// Thread handles are kept by the launcher for the life of the process and
// never closed, so they live outside the handle table, in a range of their own.
Handle ThreadHandle(std::size_t index) {
  return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x40000000u + 4u * index));
}

}  // namespace

SimUi::~SimUi() { JoinThreads(); }

int SimUi::ShowMessage(Handle owner, const wchar_t* text, const wchar_t* caption, std::uint32_t flags) {
  bool fail = faults_.Fail(SimOp::MessageBox);
  // A machine without power shows nothing.
  if (faults_.PowerOff()) {
    SetLastError(kErrorNotEnoughMemory);
    return 0;
  }
  std::lock_guard<std::mutex> hold(lock_);
  SimMessageBox box;
  box.owner = owner;
  box.text = text != nullptr ? text : L"";
  box.caption = caption != nullptr ? caption : L"Error";  // MessageBoxW's own default caption
  box.flags = flags;
  if (fail) {
    box.answer = 0;
    SetLastError(kErrorNotEnoughMemory);
  } else if (!answers_.empty()) {
    box.answer = answers_.front();
    answers_.pop_front();
  } else {
    box.answer = FirstButton(flags);
  }
  boxes_.push_back(box);
  return box.answer;
}

bool SimUi::PostDestroy(Handle window) {
  if (Refused(faults_, SimOp::PostMessage, kErrorInvalidHandle)) return false;
  std::lock_guard<std::mutex> hold(lock_);
  destroys_.push_back(window);
  return true;
}

bool SimUi::StartThread(ThreadRoutine routine, void* parameter, Handle* thread) {
  if (thread != nullptr) *thread = nullptr;
  if (faults_.Fail(SimOp::ThreadStart) || routine == nullptr) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  std::size_t index;
  {
    std::lock_guard<std::mutex> hold(lock_);
    index = runs_.size();
    runs_.push_back(SimThreadRun{routine, parameter, false, 0});
  }
  if (thread != nullptr) *thread = ThreadHandle(index);
  auto body = [this, routine, parameter, index] {
    std::uint32_t code = routine(parameter);
    std::lock_guard<std::mutex> hold(lock_);
    runs_[index].finished = true;
    runs_[index].exitCode = code;
  };
  if (synchronous_) {
    body();
  } else {
    std::lock_guard<std::mutex> hold(lock_);
    threads_.emplace_back(body);
  }
  return true;
}

void SimUi::DebugOutput(const wchar_t* text) {
  // Without a listening debugger the text goes nowhere; a fault stands for that.
  if (faults_.Fail(SimOp::DebugOutput)) return;
  std::lock_guard<std::mutex> hold(lock_);
  debug_.push_back(text != nullptr ? text : L"");
}

void SimUi::QueueAnswer(int answer) {
  std::lock_guard<std::mutex> hold(lock_);
  answers_.push_back(answer);
}

void SimUi::JoinThreads() {
  for (;;) {
    std::thread t;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (threads_.empty()) return;
      t = std::move(threads_.back());
      threads_.pop_back();
    }
    if (t.joinable()) t.join();
  }
}

void SimUi::RecordSystemBox(const std::wstring& text, const std::wstring& caption, int answer) {
  std::lock_guard<std::mutex> hold(lock_);
  SimMessageBox box;
  box.text = text;
  box.caption = caption;
  box.answer = answer;
  boxes_.push_back(std::move(box));
}

std::vector<SimMessageBox> SimUi::messageBoxes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return boxes_;
}

std::vector<Handle> SimUi::destroyPosts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return destroys_;
}

std::vector<std::wstring> SimUi::debugOutput() const {
  std::lock_guard<std::mutex> hold(lock_);
  return debug_;
}

std::vector<SimThreadRun> SimUi::threads() const {
  std::lock_guard<std::mutex> hold(lock_);
  return runs_;
}

SessionEnd SimUi::WaitForSessionEnd(Handle window, std::uint32_t milliseconds) {
  std::function<SessionEnd(std::uint32_t)> answer;
  {
    std::lock_guard<std::mutex> hold(lock_);
    hidden_.push_back(window);
    answer = sessionEnd_;
  }
  return answer ? answer(milliseconds) : SessionEnd::Ending;
}

DisplaySettings SimUi::ReadDisplaySettings() {
  std::lock_guard<std::mutex> hold(lock_);
  return display_;
}

std::uint32_t SimUi::SystemColour(int index) {
  std::lock_guard<std::mutex> hold(lock_);
  auto set = colours_.find(index);
  if (set != colours_.end()) return set->second;
  // Windows 10's "High Contrast Black": white on black, buttons black with
  // white text, selection RGB(26, 235, 255). Any other index reads as black.
  switch (index) {
    case kColourWindowText:
    case kColourButtonText:
      return 0xFFFFFF;
    case kColourHighlight:
      return 0xFFEB1A;  // 0x00BBGGRR
    default:
      return 0x000000;
  }
}

void SimUi::NotifyAccessibleEvent(Handle window, std::uint32_t event, std::int32_t child) {
  std::lock_guard<std::mutex> hold(lock_);
  events_.push_back(SimAccessibleEvent{window, event, child});
}

void SimUi::SetDisplaySettings(const DisplaySettings& settings) {
  std::lock_guard<std::mutex> hold(lock_);
  display_ = settings;
}

void SimUi::SetSystemColour(int index, std::uint32_t colour) {
  std::lock_guard<std::mutex> hold(lock_);
  colours_[index] = colour;
}

std::vector<SimAccessibleEvent> SimUi::accessibleEvents() const {
  std::lock_guard<std::mutex> hold(lock_);
  return events_;
}

std::vector<Handle> SimUi::hiddenWindows() const {
  std::lock_guard<std::mutex> hold(lock_);
  return hidden_;
}

}  // namespace tavu::sim
