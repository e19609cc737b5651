#include "launcher/ui/window_accessible_win32.h"

// After windows.h: the COM and OLE Automation declarations it builds on.
#include <oleacc.h>

#include "common/lock.h"
#include "win32/dll_search.h"

namespace tavu {

static_assert(kRoleDialog == ROLE_SYSTEM_DIALOG && kRoleStaticText == ROLE_SYSTEM_STATICTEXT &&
              kRolePushButton == ROLE_SYSTEM_PUSHBUTTON);
static_assert(kStateUnavailable == STATE_SYSTEM_UNAVAILABLE && kStateFocused == STATE_SYSTEM_FOCUSED &&
              kStateReadOnly == STATE_SYSTEM_READONLY && kStateDefault == STATE_SYSTEM_DEFAULT &&
              kStateAnimated == STATE_SYSTEM_ANIMATED && kStateInvisible == STATE_SYSTEM_INVISIBLE &&
              kStateFocusable == STATE_SYSTEM_FOCUSABLE);
static_assert(kNavigateNext == NAVDIR_NEXT && kNavigatePrevious == NAVDIR_PREVIOUS &&
              kNavigateFirstChild == NAVDIR_FIRSTCHILD && kNavigateLastChild == NAVDIR_LASTCHILD);
static_assert(kChildSelf == CHILDID_SELF);

namespace {

// OLEACC is a Windows DLL but not a KnownDLL: bound at link time, an
// oleacc.dll beside the launcher (in a Downloads folder, say) would run in it
// elevated. So it is loaded from System32, and only once a screen reader asks.
using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);

LresultFromObjectFn g_lresultFromObject = nullptr;
// Written on the window's thread before the object exists, read by COM's.
CreateStdAccessibleObjectFn g_createStdObject = nullptr;

bool LoadOleacc() {
  if (g_lresultFromObject != nullptr) return true;
  HMODULE oleacc = win32::LoadSystemDll(L"oleacc.dll");
  if (oleacc == nullptr) return false;
  g_createStdObject = reinterpret_cast<CreateStdAccessibleObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(oleacc, "CreateStdAccessibleObject")));
  g_lresultFromObject = reinterpret_cast<LresultFromObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(oleacc, "LresultFromObject")));
  return g_lresultFromObject != nullptr;
}

// The state the application object published last, shared with COM's threads.
Lock g_stateLock;
AccessibleView g_published;
bool g_connected = true;

// A copy of the published state; false once the window is gone.
bool Snapshot(AccessibleView* view) {
  LockHold hold(g_stateLock);
  *view = g_published;
  return g_connected;
}

// The child a VARIANT names, or kNoChild when it names none of the view's.
std::int32_t ChildOf(const AccessibleView& view, const VARIANT& id) {
  if (id.vt != VT_I4 || id.lVal < kChildSelf || id.lVal > view.childCount) return kNoChild;
  return id.lVal;
}

void SetChild(VARIANT* out, std::int32_t child) {
  VariantInit(out);
  if (child == kNoChild) return;
  out->vt = VT_I4;
  out->lVal = child;
}

HRESULT Text(const wchar_t* text, BSTR* out) {
  *out = text != nullptr ? SysAllocString(text) : nullptr;
  if (text == nullptr) return S_FALSE;
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

class ClientAccessible final : public IAccessible {
 public:
  explicit ClientAccessible(HWND window) : window_(window) {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: screen readers call IAccessible directly; there is no type
  // library to dispatch through.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (parent == nullptr) return E_POINTER;
    *parent = nullptr;
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    // The window's own object, as Windows makes it for every window; made
    // in this process, so nothing is asked of the window's thread.
    if (g_createStdObject == nullptr) return S_FALSE;
    return g_createStdObject(window_, OBJID_WINDOW, __uuidof(IDispatch), reinterpret_cast<void**>(parent));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    *count = view.childCount;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT id, IDispatch** child) override {
    if (child == nullptr) return E_POINTER;
    *child = nullptr;
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    const std::int32_t c = ChildOf(view, id);
    if (c == kNoChild || c == kChildSelf) return E_INVALIDARG;
    return S_FALSE;  // a simple child: its parent answers for it
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT id, BSTR* name) override {
    return Property(id, name, [](const AccessibleItem& item, BSTR* out) { return Text(item.name, out); });
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT id, BSTR* value) override { return NoText(id, value); }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT id, BSTR* text) override { return NoText(id, text); }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT id, VARIANT* role) override {
    return Number(id, role, [](const AccessibleItem& item) { return item.role; });
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT id, VARIANT* state) override {
    return Number(id, state, [](const AccessibleItem& item) { return item.state; });
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT id, BSTR* text) override { return NoText(id, text); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
    if (file != nullptr) *file = nullptr;
    if (topic != nullptr) *topic = 0;
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT id, BSTR* text) override {
    return NoText(id, text);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    if (focus == nullptr) return E_POINTER;
    VariantInit(focus);
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    SetChild(focus, view.focus);
    return view.focus == kNoChild ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    if (selection == nullptr) return E_POINTER;
    VariantInit(selection);
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT id, BSTR* action) override {
    return Property(id, action, [](const AccessibleItem& item, BSTR* out) {
      return Text(item.pressable ? kPressAction : nullptr, out);
    });
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT id) override {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    *left = *top = *width = *height = 0;
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    const std::int32_t c = ChildOf(view, id);
    if (c == kNoChild) return E_INVALIDARG;
    const PixelRect& r = view.items[c].bounds;
    POINT origin{r.left, r.top};
    // Not a per-thread call: it reads the window's place, from any thread.
    if (!ClientToScreen(window_, &origin)) return E_FAIL;
    *left = origin.x;
    *top = origin.y;
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    if (end == nullptr) return E_POINTER;
    VariantInit(end);
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    const std::int32_t from = ChildOf(view, start);
    if (from == kNoChild) return E_INVALIDARG;
    const std::int32_t to = AccessibleNavigate(view, from, direction);
    SetChild(end, to);
    return to == kNoChild ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
    if (hit == nullptr) return E_POINTER;
    VariantInit(hit);
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    POINT point{x, y};
    if (!ScreenToClient(window_, &point)) return E_FAIL;
    const std::int32_t child = AccessibleHitTest(view, point.x, point.y);
    SetChild(hit, child);
    return child == kNoChild ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT id) override {
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    const std::int32_t c = ChildOf(view, id);
    if (c == kNoChild) return E_INVALIDARG;
    if (!view.items[c].pressable) return DISP_E_MEMBERNOTFOUND;
    // Posted, never done here: a press may open the confirmation box, which
    // belongs to the window's thread and must not hold up COM's.
    return PostMessageW(window_, kMsgAccessiblePress, static_cast<WPARAM>(c), 0) ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

 private:
  // Deleted by its last Release only.
  ~ClientAccessible() = default;

  template <typename Read>
  HRESULT Property(const VARIANT& id, BSTR* out, Read read) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    const std::int32_t c = ChildOf(view, id);
    if (c == kNoChild) return E_INVALIDARG;
    return read(view.items[c], out);
  }
  template <typename Read>
  HRESULT Number(const VARIANT& id, VARIANT* out, Read read) {
    if (out == nullptr) return E_POINTER;
    VariantInit(out);
    AccessibleView view;
    if (!Snapshot(&view)) return CO_E_OBJNOTCONNECTED;
    const std::int32_t c = ChildOf(view, id);
    if (c == kNoChild) return E_INVALIDARG;
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(read(view.items[c]));
    return S_OK;
  }
  // A property that no part of the window has.
  HRESULT NoText(const VARIANT& id, BSTR* out) {
    return Property(id, out, [](const AccessibleItem&, BSTR* text) {
      *text = nullptr;
      return HRESULT{DISP_E_MEMBERNOTFOUND};
    });
  }

  HWND window_;
  LONG references_ = 1;  // the window's own reference
};

// Made and let go on the window's thread only.
ClientAccessible* g_client = nullptr;

}  // namespace

void PublishAccessibleView(const AccessibleView& view) {
  LockHold hold(g_stateLock);
  g_published = view;
}

LRESULT AnswerClientObject(HWND window, WPARAM wParam) {
  if (!LoadOleacc()) return 0;
  if (g_client == nullptr) g_client = new ClientAccessible(window);
  const LRESULT answer = g_lresultFromObject(__uuidof(IAccessible), wParam, g_client);
  // A failure comes back as a negative HRESULT.
  return answer > 0 ? answer : 0;
}

void DisconnectClientObject() {
  {
    LockHold hold(g_stateLock);
    g_connected = false;
  }
  if (g_client == nullptr) return;
  CoDisconnectObject(g_client, 0);
  g_client->Release();
  g_client = nullptr;
}

}  // namespace tavu
