#include "launcher/ui/accessible_view.h"

namespace tavu {

namespace {

bool Inside(const PixelRect& r, std::int32_t x, std::int32_t y) {
  return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
}

bool Visible(const AccessibleView& view, std::int32_t child) {
  return child >= 1 && child <= view.childCount && (view.items[child].state & kStateInvisible) == 0;
}

// The next visible child from `from` on in steps of `step`, or kNoChild.
std::int32_t Seek(const AccessibleView& view, std::int32_t from, std::int32_t step) {
  for (std::int32_t child = from; child >= 1 && child <= view.childCount; child += step) {
    if (Visible(view, child)) return child;
  }
  return kNoChild;
}

}  // namespace

std::int32_t AccessibleHitTest(const AccessibleView& view, std::int32_t x, std::int32_t y) {
  if (!Inside(view.items[kChildSelf].bounds, x, y)) return kNoChild;
  // Last drawn, first hit: the buttons and the progress line lie inside the
  // warning's box.
  for (std::int32_t child = view.childCount; child >= 1; --child) {
    if (Visible(view, child) && Inside(view.items[child].bounds, x, y)) return child;
  }
  return kChildSelf;
}

std::int32_t AccessibleNavigate(const AccessibleView& view, std::int32_t start, std::int32_t direction) {
  if (start == kChildSelf) {
    if (direction == kNavigateFirstChild) return Seek(view, 1, 1);
    if (direction == kNavigateLastChild) return Seek(view, view.childCount, -1);
    return kNoChild;
  }
  if (start < 1 || start > view.childCount) return kNoChild;
  if (direction == kNavigateNext) return Seek(view, start + 1, 1);
  if (direction == kNavigatePrevious) return Seek(view, start - 1, -1);
  return kNoChild;
}

}  // namespace tavu
