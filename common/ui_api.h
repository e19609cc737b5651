// What the logic shows the user and how it ends the window: message boxes,
// posted messages, the worker thread and the debugger output.
#pragma once

#include <cstdint>

#include "common/platform.h"

namespace tavu {

inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconWarning = 0x30;
inline constexpr std::uint32_t kMbDefButton2 = 0x100;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// How the wait for the end of the session after a restart was asked ended.
enum class SessionEnd : std::uint8_t { Ending, NotEnding, TimedOut };

using ThreadRoutine = std::uint32_t (*)(void* parameter);

class UiApi {
 public:
  virtual ~UiApi() = default;

  // MessageBoxW: the button pressed, 0 when the box could not be shown.
  virtual int ShowMessage(Handle owner, const wchar_t* text, const wchar_t* caption,
                          std::uint32_t flags) = 0;
  // PostMessageW(window, WM_DESTROY, 0, 0).
  virtual bool PostDestroy(Handle window) = 0;
  // CreateThread(no attributes, default stack, routine, parameter, run at once).
  // The thread handle is kept by the caller (never closed, as designed).
  virtual bool StartThread(ThreadRoutine routine, void* parameter, Handle* thread) = 0;
  // OutputDebugStringW.
  virtual void DebugOutput(const wchar_t* text) = 0;
  // Hides the window (ShowWindowAsync SW_HIDE) and waits, at most the given
  // time, for Windows to say whether the session ends: WM_ENDSESSION with
  // TRUE, or with FALSE when a program or the owner stopped the shutdown.
  // The window procedure answers WM_QUERYENDSESSION with TRUE. (A default
  // for small test fakes: the session ends.)
  virtual SessionEnd WaitForSessionEnd(Handle window, std::uint32_t milliseconds) {
    (void)window;
    (void)milliseconds;
    return SessionEnd::Ending;
  }
};

}  // namespace tavu
