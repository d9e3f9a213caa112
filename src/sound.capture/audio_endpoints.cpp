#include "sound.capture/audio_endpoints.h"

#include <atomic>

namespace kit {
namespace {

// PKEY_Device_FriendlyName, defined here rather than through initguid.h.
constexpr PROPERTYKEY kFriendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}},
                                       14};

std::string narrow(const wchar_t* text) {
    if (!text || !*text) return std::string();
    int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size) - 1);
    return result;
}

HRESULT makeEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator) {
    return ::CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                              enumerator.receiveVoid());
}

HRESULT defaultDevice(EDataFlow flow, ComPtr<IMMDevice>& device) {
    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr = makeEnumerator(enumerator);
    if (FAILED(hr)) return hr;
    return enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.receive());
}

HRESULT idOf(IMMDevice* device, std::wstring& id) {
    CoTaskMem<wchar_t> text;
    HRESULT hr = device->GetId(text.receive());
    if (SUCCEEDED(hr)) id = text.get() ? text.get() : L"";
    return hr;
}

std::string friendlyName(IMMDevice* device) {
    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.receive()))) return std::string();
    PROPVARIANT value;
    ::PropVariantInit(&value);
    std::string name;
    if (SUCCEEDED(store->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR) name = narrow(value.pwszVal);
    ::PropVariantClear(&value);
    return name;
}

// Sets an event of its own (a duplicate of the watcher's) on every change of
// the endpoints, so that a late notification never touches a closed handle.
class ChangeNotifier final : public IMMNotificationClient {
public:
    explicit ChangeNotifier(HANDLE changed) {
        ::DuplicateHandle(::GetCurrentProcess(), changed, ::GetCurrentProcess(), event.receive(), 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *out = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return signal(); }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return signal(); }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return signal(); }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole, LPCWSTR) override { return signal(); }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

private:
    ~ChangeNotifier() = default;
    HRESULT signal() {
        if (event) ::SetEvent(event.get());
        return S_OK;
    }

    std::atomic<ULONG> references{1};
    ScopedHandle event;
};

class SystemWatch final : public EndpointWatch {
public:
    explicit SystemWatch(HANDLE changed) : notifier(new ChangeNotifier(changed)) {
        if (FAILED(makeEnumerator(enumerator)) ||
            FAILED(enumerator->RegisterEndpointNotificationCallback(notifier.get())))
            enumerator.reset();
    }
    ~SystemWatch() override {
        if (enumerator) enumerator->UnregisterEndpointNotificationCallback(notifier.get());
    }

private:
    ComPtr<ChangeNotifier> notifier;
    ComPtr<IMMDeviceEnumerator> enumerator;
};

class SystemAudioEndpoints final : public AudioEndpoints {
    static HRESULT activate(IMMDevice* device, EndpointClient& endpoint) {
        HRESULT hr = idOf(device, endpoint.id);
        if (FAILED(hr)) return hr;
        endpoint.name = friendlyName(device);
        return device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, endpoint.client.receiveVoid());
    }

public:
    HRESULT activateDefault(EDataFlow flow, EndpointClient& endpoint) override {
        ComPtr<IMMDevice> device;
        HRESULT hr = defaultDevice(flow, device);
        return FAILED(hr) ? hr : activate(device.get(), endpoint);
    }
    HRESULT activateActive(EDataFlow flow, std::size_t index, EndpointClient& endpoint) override {
        ComPtr<IMMDeviceEnumerator> enumerator;
        HRESULT hr = makeEnumerator(enumerator);
        ComPtr<IMMDeviceCollection> active;
        if (SUCCEEDED(hr)) hr = enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, active.receive());
        UINT count = 0;
        if (SUCCEEDED(hr)) hr = active->GetCount(&count);
        if (FAILED(hr)) return hr;
        if (index >= count) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        ComPtr<IMMDevice> device;
        hr = active->Item(static_cast<UINT>(index), device.receive());
        return FAILED(hr) ? hr : activate(device.get(), endpoint);
    }

    HRESULT defaultId(EDataFlow flow, std::wstring& id) override {
        ComPtr<IMMDevice> device;
        HRESULT hr = defaultDevice(flow, device);
        return FAILED(hr) ? hr : idOf(device.get(), id);
    }

    std::unique_ptr<EndpointWatch> watch(HANDLE changed) override { return std::make_unique<SystemWatch>(changed); }
};

}  // namespace

AudioEndpoints& systemAudioEndpoints() noexcept {
    static SystemAudioEndpoints endpoints;
    return endpoints;
}

}  // namespace kit
