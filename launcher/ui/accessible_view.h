// What a screen reader reads of the confirmation window through MSAA: the
// client object, a dialog named by the drawn caption, and one simple child
// (a child id, no object of its own) per drawn part. The application object
// describes itself in these terms after every change; the Win32 binding
// answers IAccessible from the latest description alone, on whatever thread
// COM calls it.
#pragma once

#include <cstdint>

#include "launcher/ui/canvas.h"

namespace tavu {

// ROLE_SYSTEM_* and STATE_SYSTEM_* of oleacc.h.
inline constexpr std::uint32_t kRoleDialog = 0x12;
inline constexpr std::uint32_t kRoleStaticText = 0x29;
inline constexpr std::uint32_t kRolePushButton = 0x2B;
inline constexpr std::uint32_t kStateUnavailable = 0x1;
inline constexpr std::uint32_t kStateFocused = 0x4;
inline constexpr std::uint32_t kStateReadOnly = 0x40;
inline constexpr std::uint32_t kStateDefault = 0x100;
inline constexpr std::uint32_t kStateAnimated = 0x4000;
inline constexpr std::uint32_t kStateInvisible = 0x8000;
inline constexpr std::uint32_t kStateFocusable = 0x100000;

// NAVDIR_* of oleacc.h that the window answers.
inline constexpr std::int32_t kNavigateNext = 5;
inline constexpr std::int32_t kNavigatePrevious = 6;
inline constexpr std::int32_t kNavigateFirstChild = 7;
inline constexpr std::int32_t kNavigateLastChild = 8;

// Child ids: CHILDID_SELF (0) is the client itself. The ids are the children's
// positions, since AccessibleChildren numbers simple children 1, 2, 3, ...
inline constexpr std::int32_t kChildSelf = 0;
inline constexpr std::int32_t kChildWarning = 1;
inline constexpr std::int32_t kChildContinue = 2;
inline constexpr std::int32_t kChildCancel = 3;
inline constexpr std::int32_t kChildProgress = 4;
inline constexpr std::int32_t kMaxChildren = 4;
inline constexpr std::int32_t kNoChild = -1;

// The default action of the buttons.
inline constexpr wchar_t kPressAction[] = L"Press";

struct AccessibleItem {
  // A text of the application object that nothing writes after Init, so
  // that another thread may read it while the window goes on.
  const wchar_t* name = nullptr;
  std::uint32_t role = 0;
  std::uint32_t state = 0;
  PixelRect bounds;        // client pixels, within the visible region
  bool pressable = false;  // has the default action "Press"
};

struct AccessibleView {
  std::int32_t childCount = 0;
  AccessibleItem items[kMaxChildren + 1];  // [0] the client, [id] each child
  // The child that has the keyboard focus; kNoChild while the window has it not.
  std::int32_t focus = kNoChild;
};

// The topmost child at a client point (buttons lie on the warning's box),
// kChildSelf on the client but on no child, kNoChild outside the client.
// Invisible children are never hit.
std::int32_t AccessibleHitTest(const AccessibleView& view, std::int32_t x, std::int32_t y);

// accNavigate: first and last child from the client, next and previous from a
// child, among the children that are visible. kNoChild where there is none.
std::int32_t AccessibleNavigate(const AccessibleView& view, std::int32_t start, std::int32_t direction);

}  // namespace tavu
