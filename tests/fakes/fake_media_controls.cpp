// A stand-in for the system's media controls, for the tests: an activation DLL that combase
// loads through the registry, serving Windows.Media.SystemMediaTransportControls and
// Windows.Storage.Streams.RandomAccessStreamReference. Every call is logged; the test reads the
// log, fires ButtonPressed and hands out the stream-over-IStream stand-in through the exports.
#include <windows.h>
#include <activation.h>

#include <mutex>
#include <string>
#include <thread>

#include "ui/winrt_media.h"

using namespace winrt_media;

namespace {

std::mutex logLock;
std::string log;

void record(const std::string& line) {
    std::lock_guard<std::mutex> lock(logLock);
    log += line + "\n";
}

std::string utf8(HSTRING text) {
    using RawBuffer = PCWSTR(WINAPI*)(HSTRING, UINT32*);
    static auto raw = (RawBuffer)(void*)GetProcAddress(GetModuleHandleA("combase.dll"),
                                                       "WindowsGetStringRawBuffer");
    UINT32 length = 0;
    PCWSTR wide = text && raw ? raw(text, &length) : L"";
    std::string out(length * 4, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, wide, (int)length, out.data(), (int)out.size(),
                                   nullptr, nullptr));
    return out;
}

// Objects live as long as the process: reference counts are not kept.
template <class Interface> struct Fake : Interface {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }
};

#define LOG_PUT(name, type)                                                                        \
    HRESULT STDMETHODCALLTYPE put_##name(type value) override {                                    \
        record(#name " " + std::to_string((int)value));                                            \
        return S_OK;                                                                               \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE get_##name(type*) override {                                         \
        return E_NOTIMPL;                                                                          \
    }

struct Music : Fake<IMusicDisplayProperties> {
    HRESULT STDMETHODCALLTYPE get_Title(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Title(HSTRING v) override {
        return record("Title " + utf8(v)), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_AlbumArtist(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AlbumArtist(HSTRING) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Artist(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Artist(HSTRING v) override {
        return record("Artist " + utf8(v)), S_OK;
    }
} music;

// What the stream stand-in wraps, and what a reference made from it refers to.
struct Stream : Fake<IInspectable> {
    IStream* bytes = nullptr;
};
struct Reference : Fake<IInspectable> { // kept, as the streams are
    std::string description;
};

struct Updater : Fake<IDisplayUpdater> {
    LOG_PUT(Type, int)
    HRESULT STDMETHODCALLTYPE get_AppMediaId(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AppMediaId(HSTRING) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Thumbnail(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Thumbnail(IInspectable* v) override {
        record("Thumbnail " + (v ? static_cast<Reference*>(v)->description : std::string("none")));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_MusicProperties(IMusicDisplayProperties** v) override {
        *v = &music;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_VideoProperties(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ImageProperties(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyFromFileAsync(int, IInspectable*, IInspectable**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearAll() override { return record("ClearAll"), S_OK; }
    HRESULT STDMETHODCALLTYPE Update() override { return record("Update"), S_OK; }
} updater;

struct Controls : Fake<IControls> {
    LOG_PUT(PlaybackStatus, int)
    HRESULT STDMETHODCALLTYPE get_DisplayUpdater(IDisplayUpdater** v) override {
        *v = &updater;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SoundLevel(int*) override { return E_NOTIMPL; }
    LOG_PUT(IsEnabled, boolean)
    LOG_PUT(IsPlayEnabled, boolean)
    LOG_PUT(IsStopEnabled, boolean)
    LOG_PUT(IsPauseEnabled, boolean)
    LOG_PUT(IsRecordEnabled, boolean)
    LOG_PUT(IsFastForwardEnabled, boolean)
    LOG_PUT(IsRewindEnabled, boolean)
    LOG_PUT(IsPreviousEnabled, boolean)
    LOG_PUT(IsNextEnabled, boolean)
    LOG_PUT(IsChannelUpEnabled, boolean)
    LOG_PUT(IsChannelDownEnabled, boolean)
    HRESULT STDMETHODCALLTYPE add_ButtonPressed(IButtonPressedHandler* h,
                                                EventRegistrationToken* token) override {
        record("add_ButtonPressed");
        handler = h;
        token->value = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_ButtonPressed(EventRegistrationToken token) override {
        record("remove_ButtonPressed " + std::to_string(token.value));
        handler = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_PropertyChanged(IUnknown*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_PropertyChanged(EventRegistrationToken) override {
        return E_NOTIMPL;
    }
    IButtonPressedHandler* handler = nullptr;
} controls;

struct Args : Fake<IButtonPressedArgs> {
    int button = 0;
    HRESULT STDMETHODCALLTYPE get_Button(int* v) override {
        *v = button;
        return S_OK;
    }
};

// One object serves all three roles a factory is asked for.
struct Factory : Fake<IActivationFactory> {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, iidControlsInterop))
            *out = &interop;
        else if (IsEqualIID(iid, iidStreamReferenceStatics))
            *out = &statics;
        else
            *out = this;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable**) override { return E_NOTIMPL; }

    struct : Fake<IControlsInterop> {
        HRESULT STDMETHODCALLTYPE GetForWindow(HWND window, REFIID iid, void** out) override {
            record(std::string("GetForWindow ") + (IsWindow(window) ? "window" : "no window") +
                   (IsEqualIID(iid, iidControls) ? "" : " (wrong IID)"));
            *out = &controls;
            return S_OK;
        }
    } interop;

    struct : Fake<IStreamReferenceStatics> {
        HRESULT STDMETHODCALLTYPE CreateFromFile(IInspectable*, IInspectable**) override {
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE CreateFromUri(IInspectable*, IInspectable**) override {
            return E_NOTIMPL;
        }
        // Describes the bytes: their size and first four.
        HRESULT STDMETHODCALLTYPE CreateFromStream(IInspectable* stream,
                                                   IInspectable** out) override {
            IStream* bytes = static_cast<Stream*>(stream)->bytes;
            STATSTG stat = {};
            bytes->Stat(&stat, STATFLAG_NONAME);
            unsigned char head[4] = {};
            LARGE_INTEGER zero = {};
            bytes->Seek(zero, STREAM_SEEK_SET, nullptr);
            bytes->Read(head, sizeof head, nullptr);
            char text[64];
            wsprintfA(text, "%u bytes %02X%02X%02X%02X", (unsigned)stat.cbSize.QuadPart, head[0],
                      head[1], head[2], head[3]);
            auto* reference = new Reference;
            reference->description = text;
            *out = reference;
            return S_OK;
        }
    } statics;
} factory;

} // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI
    DllGetActivationFactory(HSTRING className, IActivationFactory** out) {
    record("Activate " + utf8(className));
    *out = &factory;
    return S_OK;
}

// The log so far, one call a line; cleared when `clear` is set.
__declspec(dllexport) void WINAPI fakeMediaControlsLog(char* buffer, int size, BOOL clear) {
    std::lock_guard<std::mutex> lock(logLock);
    lstrcpynA(buffer, log.c_str(), size);
    if (clear)
        log.clear();
}

// Fires ButtonPressed from a thread of its own, as the system does; false with no handler.
__declspec(dllexport) BOOL WINAPI fakeMediaControlsPress(int button) {
    if (!controls.handler)
        return FALSE;
    std::thread([button] {
        Args args;
        args.button = button;
        controls.handler->Invoke(&controls, &args);
    }).join();
    return TRUE;
}

// Stands in for shcore's CreateRandomAccessStreamOverStream (a stub in Wine).
__declspec(dllexport) HRESULT WINAPI
    fakeStreamOverIStream(IStream* bytes, int, REFIID iid, void** out) {
    if (!IsEqualIID(iid, iidRandomAccessStream))
        return E_NOINTERFACE;
    auto* stream = new Stream; // kept: a test makes a handful
    bytes->AddRef();
    stream->bytes = bytes;
    *out = stream;
    return S_OK;
}
}
