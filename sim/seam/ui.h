// What the user sees on the simulated machine: message boxes (answered from a
// queue of scripted answers), posted WM_DESTROY messages, the worker thread and
// the debugger output.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ui_api.h"
#include "sim/core/faults.h"

namespace tavu::sim {

struct SimMessageBox {
  Handle owner = nullptr;
  std::wstring text;
  std::wstring caption;
  std::uint32_t flags = 0;
  int answer = 0;  // what ShowMessage returned
};

// One NotifyWinEvent of the window.
struct SimAccessibleEvent {
  Handle window = nullptr;
  std::uint32_t event = 0;
  std::int32_t child = 0;
  friend bool operator==(const SimAccessibleEvent&, const SimAccessibleEvent&) = default;
};

struct SimThreadRun {
  ThreadRoutine routine = nullptr;
  void* parameter = nullptr;
  bool finished = false;
  std::uint32_t exitCode = 0;
};

class SimUi : public UiApi {
 public:
  explicit SimUi(SimFaults& faults) : faults_(faults) {}
  ~SimUi() override;

  int ShowMessage(Handle owner, const wchar_t* text, const wchar_t* caption, std::uint32_t flags) override;
  bool PostDestroy(Handle window) override;
  bool StartThread(ThreadRoutine routine, void* parameter, Handle* thread) override;
  void DebugOutput(const wchar_t* text) override;
  SessionEnd WaitForSessionEnd(Handle window, std::uint32_t milliseconds) override;
  DisplaySettings ReadDisplaySettings() override;
  std::uint32_t SystemColour(int index) override;
  void NotifyAccessibleEvent(Handle window, std::uint32_t event, std::int32_t child) override;

  // The owner's display settings (Windows' defaults until set) and the
  // system colours, which start as those of Windows' "High Contrast Black".
  void SetDisplaySettings(const DisplaySettings& settings);
  void SetSystemColour(int index, std::uint32_t colour);
  std::vector<SimAccessibleEvent> accessibleEvents() const;

  // What Windows tells the program while it waits for the session's end
  // (by default: the session ends).
  void SetSessionEnd(std::function<SessionEnd(std::uint32_t milliseconds)> answer) {
    sessionEnd_ = std::move(answer);
  }
  // The windows hidden to wait for the session's end.
  std::vector<Handle> hiddenWindows() const;

  // The answers of the next message boxes, in order. Without one, a box is
  // answered with its first button (IDOK for MB_OK, IDYES for MB_YESNO, ...).
  void QueueAnswer(int answer);
  // Synchronous: StartThread runs the routine to its end before it returns.
  // Otherwise (the default, as on Windows) it runs on a thread of its own.
  void SetSynchronousThreads(bool synchronous) { synchronous_ = synchronous; }
  // Waits for every thread started so far.
  void JoinThreads();

  // A box Windows itself shows in the program (no owner, not the program's
  // own call): recorded among the boxes, answered as given.
  void RecordSystemBox(const std::wstring& text, const std::wstring& caption, int answer);

  std::vector<SimMessageBox> messageBoxes() const;
  std::vector<Handle> destroyPosts() const;
  std::vector<std::wstring> debugOutput() const;
  std::vector<SimThreadRun> threads() const;

 private:
  SimFaults& faults_;
  bool synchronous_ = false;
  mutable std::mutex lock_;
  std::deque<int> answers_;
  std::vector<SimMessageBox> boxes_;
  std::vector<Handle> destroys_;
  std::vector<std::wstring> debug_;
  std::vector<SimThreadRun> runs_;
  std::vector<std::thread> threads_;
  std::vector<Handle> hidden_;
  std::function<SessionEnd(std::uint32_t)> sessionEnd_;
  DisplaySettings display_;
  std::map<int, std::uint32_t> colours_;
  std::vector<SimAccessibleEvent> events_;
};

}  // namespace tavu::sim
