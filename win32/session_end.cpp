#include "win32/session_end.h"

#include <windows.h>

#include <atomic>

#include "win32/win32_handle.h"

namespace tavu::win32 {

namespace {

// Made by whichever thread needs it first, without a function-local static:
// the guard of one would bring the C++ library's exception machinery into
// the programs. Manual reset, so an answer that arrives before the waiter
// stays until it is forgotten.
class SessionEndEvent {
 public:
  ~SessionEndEvent() {
    const Handle event = event_.load();
    if (event != nullptr) CloseHandle(event);
  }

  // Null when it could not be made: nothing is then recorded and every wait
  // times out.
  Handle get() {
    Handle current = event_.load();
    if (current != nullptr) return current;
    OwnedHandle made(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!made) return nullptr;
    if (event_.compare_exchange_strong(current, made.get())) return made.release();
    return current;
  }

 private:
  std::atomic<Handle> event_{nullptr};
};

SessionEndEvent g_sessionEndEvent;
std::atomic<bool> g_sessionEnding{false};

}  // namespace

void RecordSessionEnd(bool ending) {
  g_sessionEnding.store(ending);
  Handle event = g_sessionEndEvent.get();
  if (event != nullptr) SetEvent(event);
}

void ForgetSessionEnd() {
  Handle event = g_sessionEndEvent.get();
  if (event != nullptr) ResetEvent(event);
}

SessionEnd AwaitSessionEnd(std::uint32_t milliseconds) {
  Handle event = g_sessionEndEvent.get();
  if (event == nullptr || WaitForSingleObject(event, milliseconds) != WAIT_OBJECT_0)
    return SessionEnd::TimedOut;
  return g_sessionEnding.load() ? SessionEnd::Ending : SessionEnd::NotEnding;
}

}  // namespace tavu::win32
