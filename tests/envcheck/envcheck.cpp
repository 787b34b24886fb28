// envcheck: shows which audio endpoints Windows code sees in the test
// environment, so a broken environment fails one obvious test instead of
// every device test in odd ways.
//
// Prints "render: <name>" for the default render endpoint (or "render: none"),
// "render endpoint: <name>" per active render endpoint, "default capture:
// <name>" and "capture: <name>" per active capture endpoint. Without any audio driver Wine cannot
// create the device enumerator at all; that counts as no render endpoint too. Exit codes: 0 ok, 3
// no default render endpoint, 4 the null sink's monitor is missing (with --require-monitor), 2 COM
// or usage failure.
//
// --require-monitor expects "Monitor of $QUAVERLY_SINK_DESCRIPTION" among the
// capture endpoints (set by scripts/with-testenv.sh). --expect-none turns the
// check around for runs without a sound server: 0 when there is no render
// endpoint, 1 when there is one.

#include <initguid.h>

#include <windows.h>

// mmdeviceapi.h first: it brings PROPERTYKEY, which WIN32_LEAN_AND_MEAN leaves out.
#include <mmdeviceapi.h>
#include <functiondiscoverykeys_devpkey.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string toUtf8(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string friendlyName(IMMDevice* device) {
    std::string name = "(no name)";
    IPropertyStore* props = nullptr;
    if (FAILED(device->OpenPropertyStore(STGM_READ, &props)))
        return name;
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(props->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR)
        name = toUtf8(value.pwszVal);
    PropVariantClear(&value);
    props->Release();
    return name;
}

// Prints the default endpoint of a flow; returns false when there is none.
bool printDefault(IMMDeviceEnumerator* devices, EDataFlow flow, const char* label) {
    IMMDevice* device = nullptr;
    HRESULT hr = devices->GetDefaultAudioEndpoint(flow, eConsole, &device);
    if (FAILED(hr)) {
        std::printf("%s: none (hr=0x%08lx)\n", label, static_cast<unsigned long>(hr));
        return false;
    }
    std::printf("%s: %s\n", label, friendlyName(device).c_str());
    device->Release();
    return true;
}

// Prints the active endpoints of a flow; returns whether one is named wanted.
bool printEndpoints(IMMDeviceEnumerator* devices, EDataFlow flow, const char* label,
                    const std::string& wanted) {
    bool found = false;
    IMMDeviceCollection* all = nullptr;
    HRESULT hr = devices->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &all);
    if (FAILED(hr)) {
        std::printf("%s: enumeration failed (hr=0x%08lx)\n", label, static_cast<unsigned long>(hr));
        return false;
    }
    UINT count = 0;
    all->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
        IMMDevice* device = nullptr;
        if (FAILED(all->Item(i, &device)))
            continue;
        std::string name = friendlyName(device);
        std::printf("%s: %s\n", label, name.c_str());
        if (name == wanted)
            found = true;
        device->Release();
    }
    all->Release();
    return found;
}

} // namespace

int main(int argc, char** argv) {
    bool requireMonitor = false;
    bool expectNone = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--require-monitor") == 0) {
            requireMonitor = true;
        } else if (std::strcmp(argv[i], "--expect-none") == 0) {
            expectNone = true;
        } else {
            std::fprintf(stderr, "usage: envcheck [--require-monitor | --expect-none]\n");
            return 2;
        }
    }
    std::string monitor;
    if (requireMonitor) {
        const char* description = std::getenv("QUAVERLY_SINK_DESCRIPTION");
        if (description == nullptr || *description == '\0') {
            std::fprintf(stderr, "envcheck: QUAVERLY_SINK_DESCRIPTION is not set; run under "
                                 "scripts/with-testenv.sh\n");
            return 2;
        }
        monitor = std::string("Monitor of ") + description;
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "envcheck: CoInitializeEx failed\n");
        return 2;
    }
    IMMDeviceEnumerator* devices = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                  IID_IMMDeviceEnumerator, reinterpret_cast<void**>(&devices));
    if (FAILED(hr)) {
        // Wine's mmdevapi refuses to create the enumerator when its audio
        // driver finds no server: no device at all, as far as we are concerned.
        std::printf("render: none (no MMDeviceEnumerator, hr=0x%08lx)\n",
                    static_cast<unsigned long>(hr));
        CoUninitialize();
        return expectNone ? 0 : 3;
    }
    bool haveRender = printDefault(devices, eRender, "render");
    printEndpoints(devices, eRender, "render endpoint", std::string());
    printDefault(devices, eCapture, "default capture");
    bool haveMonitor = printEndpoints(devices, eCapture, "capture", monitor);
    devices->Release();
    CoUninitialize();
    std::fflush(stdout);

    if (expectNone) {
        if (haveRender)
            std::fprintf(stderr, "envcheck: a render endpoint exists without a server\n");
        return haveRender ? 1 : 0;
    }
    if (!haveRender)
        return 3;
    if (requireMonitor && !haveMonitor) {
        std::fprintf(stderr, "envcheck: no capture endpoint named \"%s\"\n", monitor.c_str());
        return 4;
    }
    return 0;
}
