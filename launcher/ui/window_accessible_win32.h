// The confirmation window's IAccessible: what WM_GETOBJECT hands a screen
// reader for the client area.
//
// The window's thread lives in the multithreaded apartment (start-up joins it
// for the whole process, and the worker relies on that), so COM calls the
// object on its own RPC threads, at any time and several at once. The object
// therefore decides nothing and asks the window nothing: it answers from the
// latest AccessibleView that the application object published, copied under
// a lock, and keeps the focus itself, since GetFocus answers null on COM's
// threads. Its one action, a press, is a message posted to the window.
#pragma once

#include <windows.h>

#include "launcher/ui/accessible_view.h"

namespace tavu {

// Posted by accDoDefaultAction; wParam is the child id of the button.
inline constexpr UINT kMsgAccessiblePress = WM_APP + 1;

// The application object's publishing hook: the state every later COM call
// answers from.
void PublishAccessibleView(const AccessibleView& view);

// WM_GETOBJECT for OBJID_CLIENT: the client object, made at the first ask,
// through LresultFromObject. 0 when OLEACC cannot be loaded or the object not
// marshalled; the window then leaves the question to DefWindowProcW.
LRESULT AnswerClientObject(HWND window, WPARAM wParam);

// WM_DESTROY: every later call answers CO_E_OBJNOTCONNECTED and the stubs
// that screen readers hold are let go.
void DisconnectClientObject();

}  // namespace tavu
