// What the logic shows the user and how it ends the window: message boxes,
// posted messages, the worker thread and the debugger output; and what the
// window needs from the owner's settings and screen reader: display settings,
// system colours, accessibility events.
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

// GetSysColor indices that the window uses in high contrast.
inline constexpr int kColourWindow = 5;       // COLOR_WINDOW
inline constexpr int kColourWindowText = 8;   // COLOR_WINDOWTEXT
inline constexpr int kColourHighlight = 13;   // COLOR_HIGHLIGHT
inline constexpr int kColourButtonFace = 15;  // COLOR_BTNFACE
inline constexpr int kColourButtonText = 18;  // COLOR_BTNTEXT

// WinEvents that the window raises (NotifyWinEvent).
inline constexpr std::uint32_t kEventObjectShow = 0x8002;         // EVENT_OBJECT_SHOW
inline constexpr std::uint32_t kEventObjectFocus = 0x8005;        // EVENT_OBJECT_FOCUS
inline constexpr std::uint32_t kEventObjectStateChange = 0x800A;  // EVENT_OBJECT_STATECHANGE
inline constexpr std::uint32_t kEventObjectNameChange = 0x800C;   // EVENT_OBJECT_NAMECHANGE

// The owner's settings that decide how the window looks and moves.
struct DisplaySettings {
  bool highContrast = false;  // SPI_GETHIGHCONTRAST: HCF_HIGHCONTRASTON
  bool animations = true;     // SPI_GETCLIENTAREAANIMATION ("Show animations in Windows")
  bool keyboardCues = false;  // SPI_GETKEYBOARDCUES: focus shown before any key is pressed
  bool screenReader = false;  // SPI_GETSCREENREADER: a screen reader runs
  friend bool operator==(const DisplaySettings&, const DisplaySettings&) = default;
};

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

  // The four SystemParametersInfoW answers of DisplaySettings. An answer that
  // cannot be read keeps the default given there.
  virtual DisplaySettings ReadDisplaySettings() = 0;
  // GetSysColor(index): 0x00BBGGRR.
  virtual std::uint32_t SystemColour(int index) = 0;
  // NotifyWinEvent(event, window, OBJID_CLIENT, child): child 0 is the
  // window's client object itself.
  virtual void NotifyAccessibleEvent(Handle window, std::uint32_t event, std::int32_t child) = 0;
};

}  // namespace tavu
