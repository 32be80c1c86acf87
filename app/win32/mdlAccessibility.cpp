#include "mdlAccessibility.h"

#include <oleacc.h>

namespace mdlAccessibility {

namespace {

constexpr CLSID kAccPropServices = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kIAccPropServices = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr IID kIAccPropServer = {
    0x76c0dbbb, 0x15e0, 0x4e7b, {0xb6, 0x1b, 0x20, 0xee, 0xea, 0x20, 0x01, 0xe0}};
constexpr MSAAPROPID kName = {
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
constexpr MSAAPROPID kDescription = {
    0x4d48dfe4, 0xbd3f, 0x491f, {0xa6, 0x48, 0x49, 0x2d, 0x6f, 0x20, 0xc5, 0x88}};
constexpr MSAAPROPID kRole = {
    0xcb905ff2, 0x7bd1, 0x4c05, {0xb3, 0xc8, 0xe6, 0xc2, 0x41, 0x36, 0x4d, 0x70}};
constexpr MSAAPROPID kState = {
    0xa8d4d5b0, 0x0a21, 0x42d0, {0xa5, 0xc0, 0x51, 0x4e, 0x98, 0x4f, 0x45, 0x7b}};
constexpr MSAAPROPID kListProps[] = {kName, kDescription};

IAccPropServices* Services() {
    IAccPropServices* services = nullptr;
    if (FAILED(::CoCreateInstance(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                  kIAccPropServices, reinterpret_cast<void**>(&services)))) {
        return nullptr;
    }
    return services;
}

} // namespace

void Annotate(HWND logo, HWND sayingAgain) {
    IAccPropServices* services = Services();
    if (services == nullptr) {
        return;
    }
    VARIANT role{};
    role.vt = VT_I4;
    role.lVal = ROLE_SYSTEM_GRAPHIC;
    services->SetHwndProp(logo, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kRole, role);
    VARIANT state{};
    state.vt = VT_I4;
    state.lVal = STATE_SYSTEM_INVISIBLE;
    services->SetHwndProp(sayingAgain, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kState,
                          state);
    services->Release();
}

// Asked on the window's thread, by the accessibility runtime in this process. A COM object: it
// deletes itself on its last Release, never through a pointer to its interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ListAnnotation::Server final : public IAccPropServer {
public:
    Server(IAccPropServices* services, Text text) : services_(services), text_(std::move(text)) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIAccPropServer)) {
            *object = static_cast<IAccPropServer*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return ++references_; }
    ULONG WINAPI Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT WINAPI GetPropValue(const BYTE* id, DWORD length, MSAAPROPID property, VARIANT* value,
                                WINBOOL* has) override {
        *has = FALSE;
        value->vt = VT_EMPTY;
        HWND window = nullptr;
        DWORD object = 0;
        DWORD child = 0;
        if (!text_ ||
            FAILED(services_->DecomposeHwndIdentityString(id, length, &window, &object, &child))) {
            return S_OK;
        }
        const std::wstring text = text_(child, IsEqualGUID(property, kDescription) != FALSE);
        if (text.empty()) {
            return S_OK; // the list box's own
        }
        value->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (value->bstrVal == nullptr) {
            return E_OUTOFMEMORY;
        }
        value->vt = VT_BSTR;
        *has = TRUE;
        return S_OK;
    }
    // The window goes; the runtime may hold the server a while longer.
    void Drop() { text_ = nullptr; }

private:
    std::atomic<ULONG> references_{1};
    IAccPropServices* services_;
    Text text_;
};
#pragma GCC diagnostic pop

ListAnnotation::ListAnnotation(HWND list, Text text) : list_(list), services_(Services()) {
    if (services_ == nullptr) {
        return;
    }
    server_ = new Server(services_, std::move(text));
    if (FAILED(services_->SetHwndPropServer(list_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                            kListProps, 2, server_, ANNO_CONTAINER))) {
        server_->Drop();
        server_->Release();
        server_ = nullptr;
    }
}

ListAnnotation::~ListAnnotation() {
    if (server_ != nullptr) {
        services_->ClearHwndProps(list_, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kListProps,
                                  2);
        server_->Drop();
        server_->Release();
    }
    if (services_ != nullptr) {
        services_->Release();
    }
}

} // namespace mdlAccessibility
