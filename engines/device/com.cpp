#include "qvdevice/com.h"

#include <mmdeviceapi.h>

namespace qvdevice {

void CallerCom::enter() {
    if (owned_)
        return;
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == S_OK) {
        owned_ = true;
        thread_ = GetCurrentThreadId();
    } else if (hr == S_FALSE) {
        // Someone else set the thread up; keep their count as it was.
        CoUninitialize();
    }
}

void CallerCom::leave() {
    if (owned_ && thread_ == GetCurrentThreadId())
        CoUninitialize();
    owned_ = false;
}

HRESULT createDeviceEnumerator(ComPtr<IMMDeviceEnumerator>& out) {
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                            __uuidof(IMMDeviceEnumerator), out.putVoid());
}

} // namespace qvdevice
