#include "window/win32/win32_accessible.h"

#include <algorithm>
#include <atomic>

namespace tensivo::window::win32 {

namespace {

// A BSTR of 8-bit text in the system's code page, as the controls hold it.
BSTR ToBstr(std::string_view text) {
  const int size = static_cast<int>(text.size());
  const int length = size == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (bstr != nullptr && length > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, bstr, length);
  }
  return bstr;
}

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// MSAA IAccessible over a window's standard client object: name, value,
// description, role and state are ours, the rest is the standard object's.
// IOleWindow too, so that WindowFromAccessibleObject finds the window.
class ControlAccessible final : public IAccessible, public IOleWindow {
 public:
  ControlAccessible(HWND hwnd, IAccessible* standard, ReadFacts read, const void* context)
      : hwnd_(hwnd), standard_(standard), read_(read), context_(context) {}
  ControlAccessible(const ControlAccessible&) = delete;
  ControlAccessible& operator=(const ControlAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) ||
        riid == __uuidof(IAccessible)) {
      *object = static_cast<IAccessible*>(this);
    } else if (riid == __uuidof(IOleWindow)) {
      *object = static_cast<IOleWindow*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch: clients call IAccessible's methods directly; no type
  // information is offered.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible: what the control is.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return standard_->get_accName(child, name);
    return Text(name, [](const AccessibleFacts& facts) { return facts.name; });
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    if (!IsSelf(child)) return standard_->get_accValue(child, value);
    return Text(value, [](const AccessibleFacts& facts) { return std::string_view(facts.value); });
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    if (!IsSelf(child)) return standard_->get_accDescription(child, description);
    return Text(description, [](const AccessibleFacts& facts) { return facts.description; });
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return standard_->get_accRole(child, role);
    if (role == nullptr) return E_POINTER;
    VariantInit(role);
    AccessibleFacts facts;
    if (!Read(facts)) return CO_E_OBJNOTCONNECTED;
    role->vt = VT_I4;
    role->lVal = facts.role;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (!IsSelf(child)) return standard_->get_accState(child, state);
    if (state == nullptr) return E_POINTER;
    AccessibleFacts facts;
    if (!Read(facts)) {
      VariantInit(state);
      return CO_E_OBJNOTCONNECTED;
    }
    const HRESULT got = standard_->get_accState(child, state);
    const LONG standard = SUCCEEDED(got) && state->vt == VT_I4 ? state->lVal : 0;
    VariantClear(state);
    state->vt = VT_I4;
    state->lVal = (standard & ~facts.state_mask) | (facts.state & facts.state_mask);
    return S_OK;
  }

  // IAccessible: the rest as the standard object says.
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return standard_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** dispatch) override {
    return standard_->get_accChild(child, dispatch);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return standard_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return standard_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return standard_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return standard_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return standard_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    return standard_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
    return standard_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_->accDoDefaultAction(child);
  }
  // Name and value are the window's to say.
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  // IOleWindow
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override {
    if (hwnd == nullptr) return E_POINTER;
    *hwnd = hwnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

 private:
  ~ControlAccessible() { standard_->Release(); }

  bool Read(AccessibleFacts& facts) const {
    return IsWindow(hwnd_) != FALSE && read_(hwnd_, context_, facts);
  }

  template <typename Field>
  HRESULT Text(BSTR* out, Field field) const {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    AccessibleFacts facts;
    if (!Read(facts)) return CO_E_OBJNOTCONNECTED;
    const std::string_view text = field(facts);
    // MSAA: S_FALSE and no string where there is nothing to say.
    if (text.empty()) return S_FALSE;
    *out = ToBstr(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  std::atomic<ULONG> references_{1};
  HWND hwnd_;
  IAccessible* standard_;
  ReadFacts read_;
  const void* context_;
};

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(
      static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)),
      L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

LRESULT AnswerGetObject(HWND hwnd, WPARAM wparam, ReadFacts read, const void* context) {
  IAccessible* standard = nullptr;
  if (FAILED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                       reinterpret_cast<void**>(&standard))) ||
      standard == nullptr) {
    return 0;
  }
  auto* object = new ControlAccessible(hwnd, standard, read, context);
  const LRESULT answer =
      LresultFromObject(__uuidof(IAccessible), wparam, static_cast<IAccessible*>(object));
  object->Release();
  return answer > 0 ? answer : 0;
}

Win32Accessibility::Win32Accessibility(HWND form, UINT_PTR timer_id)
    : form_(form), timer_id_(timer_id) {
  // LresultFromObject hands our objects to other processes through COM.
  // A thread already in another apartment keeps it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  com_ = SUCCEEDED(com);
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, reinterpret_cast<void**>(&annotations_)))) {
    annotations_ = nullptr;
  }
}

Win32Accessibility::~Win32Accessibility() {
  Stop();
  if (annotations_ != nullptr) annotations_->Release();
  if (com_) CoUninitialize();
}

void Win32Accessibility::Name(HWND control, std::string_view name) {
  if (annotations_ == nullptr) return;
  std::wstring wide(name.size(), L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(std::max(length, 0)));
  if (SUCCEEDED(annotations_->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT),
                                             CHILDID_SELF, PROPID_ACC_NAME, wide.c_str()))) {
    named_.push_back(control);
  }
}

void Win32Accessibility::Describe(HWND control, std::string_view description) {
  if (annotations_ == nullptr) return;
  const bool known = std::ranges::find(described_, control) != described_.end();
  if (description.empty()) {
    if (!known) return;
    MSAAPROPID property = PROPID_ACC_DESCRIPTION;
    annotations_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &property,
                                 1);
    std::erase(described_, control);
  } else if (SUCCEEDED(annotations_->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT),
                                                    CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                                    WideFromUtf8(description).c_str())) &&
             !known) {
    described_.push_back(control);
  }
  NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

void Win32Accessibility::BarMoved(std::size_t bar, HWND outline, int percent) {
  outlines_.at(bar) = outline;
  if (notices_.Changed(bar, percent, ValueNotices<kBars.size()>::Clock::now())) {
    Announce(bar);
  } else if (notices_.waiting(bar) && !timer_running_) {
    timer_running_ = SetTimer(form_, timer_id_, kFlushMilliseconds, nullptr) != 0;
  }
}

void Win32Accessibility::OnTimer() {
  const bool waiting = notices_.Flush(ValueNotices<kBars.size()>::Clock::now(),
                                      [this](std::size_t bar, int) { Announce(bar); });
  if (!waiting && timer_running_) {
    KillTimer(form_, timer_id_);
    timer_running_ = false;
  }
}

void Win32Accessibility::Stop() {
  if (timer_running_) KillTimer(form_, timer_id_);
  timer_running_ = false;
  if (annotations_ != nullptr) {
    for (HWND control : named_) {
      MSAAPROPID name = PROPID_ACC_NAME;
      annotations_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &name,
                                   1);
    }
  }
  named_.clear();
  if (annotations_ != nullptr) {
    for (HWND control : described_) {
      MSAAPROPID description = PROPID_ACC_DESCRIPTION;
      annotations_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   &description, 1);
    }
  }
  described_.clear();
}

void Win32Accessibility::Announce(std::size_t bar) const {
  if (outlines_[bar] != nullptr) {
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, outlines_[bar], OBJID_CLIENT, CHILDID_SELF);
  }
}

}  // namespace tensivo::window::win32
