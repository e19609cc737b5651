#include "win32/win32_ui.h"

#include <windows.h>

#include <new>

#include "win32/session_end.h"

namespace tavu::win32 {

static_assert(kMbOk == MB_OK && kMbYesNo == MB_YESNO && kMbIconWarning == MB_ICONWARNING);
static_assert(kMbDefButton2 == MB_DEFBUTTON2);
static_assert(kIdOk == IDOK && kIdYes == IDYES && kIdNo == IDNO);
static_assert(kColourWindow == COLOR_WINDOW && kColourWindowText == COLOR_WINDOWTEXT &&
              kColourHighlight == COLOR_HIGHLIGHT && kColourButtonFace == COLOR_BTNFACE &&
              kColourButtonText == COLOR_BTNTEXT);
static_assert(kEventObjectShow == EVENT_OBJECT_SHOW && kEventObjectFocus == EVENT_OBJECT_FOCUS &&
              kEventObjectStateChange == EVENT_OBJECT_STATECHANGE &&
              kEventObjectNameChange == EVENT_OBJECT_NAMECHANGE);

namespace {

// SystemParametersInfoW for a BOOL answer. The answer starts as the default:
// Wine, for one, leaves SPI_GETCLIENTAREAANIMATION's unwritten until the
// value has been set once.
bool SystemFlag(UINT action, bool fallback) {
  BOOL value = fallback ? TRUE : FALSE;
  if (!SystemParametersInfoW(action, 0, &value, 0)) return fallback;
  return value != FALSE;
}

struct ThreadStart {
  ThreadRoutine routine;
  void* parameter;
};

// The routine is a plain C++ function; CreateThread calls back with WINAPI, which
// differs from it on 32-bit Windows.
DWORD WINAPI ThreadThunk(LPVOID raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  return start.routine(start.parameter);
}

}  // namespace

int Win32Ui::ShowMessage(Handle owner, const wchar_t* text, const wchar_t* caption, std::uint32_t flags) {
  return MessageBoxW(static_cast<HWND>(owner), text, caption, flags);
}

bool Win32Ui::PostDestroy(Handle window) {
  return PostMessageW(static_cast<HWND>(window), WM_DESTROY, 0, 0) != FALSE;
}

bool Win32Ui::StartThread(ThreadRoutine routine, void* parameter, Handle* thread) {
  *thread = nullptr;
  auto* start = new (std::nothrow) ThreadStart{routine, parameter};
  if (start == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  HANDLE h = CreateThread(nullptr, 0, &ThreadThunk, start, 0, nullptr);
  if (h == nullptr) {
    delete start;
    return false;
  }
  *thread = h;
  return true;
}

void Win32Ui::DebugOutput(const wchar_t* text) { OutputDebugStringW(text); }

DisplaySettings Win32Ui::ReadDisplaySettings() {
  DisplaySettings settings;
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof(contrast);
  if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)) {
    settings.highContrast = (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
  }
  settings.animations = SystemFlag(SPI_GETCLIENTAREAANIMATION, settings.animations);
  settings.keyboardCues = SystemFlag(SPI_GETKEYBOARDCUES, settings.keyboardCues);
  settings.screenReader = SystemFlag(SPI_GETSCREENREADER, settings.screenReader);
  return settings;
}

std::uint32_t Win32Ui::SystemColour(int index) { return GetSysColor(index); }

void Win32Ui::NotifyAccessibleEvent(Handle window, std::uint32_t event, std::int32_t child) {
  NotifyWinEvent(event, static_cast<HWND>(window), OBJID_CLIENT, child);
}

// Called from the worker: ShowWindowAsync, since ShowWindow would wait for
// the window's own thread. The shutdown asked for waits its time-out before
// Windows asks any window, so an answer from before this call belongs to an
// earlier shutdown.
SessionEnd Win32Ui::WaitForSessionEnd(Handle window, std::uint32_t milliseconds) {
  ForgetSessionEnd();
  ShowWindowAsync(static_cast<HWND>(window), SW_HIDE);
  return AwaitSessionEnd(milliseconds);
}

}  // namespace tavu::win32
