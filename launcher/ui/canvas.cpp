#include "launcher/ui/canvas.h"

namespace tavu {

namespace {
Canvas* g_canvas = nullptr;
}

Canvas& Gdi() { return *g_canvas; }

void SetCanvas(Canvas* canvas) { g_canvas = canvas; }

}  // namespace tavu
