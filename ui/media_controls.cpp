#include "ui/media_controls.h"

#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "app/ids.h"
#include "app/state.h"
#include "qvcore/probe.h"
#include "qvcore/tags.h"
#include "qvdevice/com.h"
#include "qvmf/media_foundation.h"
#include "ui/media_keys.h"
#include "ui/winrt_media.h"

StreamOverIStreamProc streamOverIStream = nullptr;

namespace {

using namespace winrt_media;

using GetActivationFactoryProc = HRESULT(WINAPI*)(HSTRING, REFIID, void**);
using CreateStringProc = HRESULT(WINAPI*)(const wchar_t*, UINT32, HSTRING*);
using DeleteStringProc = HRESULT(WINAPI*)(HSTRING);

// combase.dll's string and activation calls; missing before Windows 8.
struct Runtime {
    HMODULE combase = nullptr;
    GetActivationFactoryProc getActivationFactory = nullptr;
    CreateStringProc createString = nullptr;
    DeleteStringProc deleteString = nullptr;
} runtime;

IControls* controls = nullptr;
IDisplayUpdater* updater = nullptr;
EventRegistrationToken buttonToken = {};
bool comStarted = false;
// The system calls the button handler on a thread of its own.
std::atomic<HWND> buttonWindow{nullptr};

int shownStatus = -1;
DWORD shownTrack = 0;
// Bumped for each track: tags that arrive for an earlier one are dropped.
DWORD tagGeneration = 0;
// Tags are read once per track: the last ones stay for a replay of the same file.
std::string taggedPath;
qvcore::TrackTags lastTags;

template <class T> void release(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// An HSTRING for the length of a call.
class WinString {
public:
    explicit WinString(const std::wstring& text) {
        if (runtime.createString)
            runtime.createString(text.c_str(), (UINT32)text.size(), &value_);
    }
    ~WinString() {
        if (value_)
            runtime.deleteString(value_);
    }
    WinString(const WinString&) = delete;
    WinString& operator=(const WinString&) = delete;
    HSTRING get() const { return value_; }

private:
    HSTRING value_ = nullptr;
};

bool loadRuntime() {
    if (runtime.getActivationFactory)
        return true;
    runtime.combase = LoadLibraryA("combase.dll");
    if (!runtime.combase)
        return false;
    runtime.getActivationFactory =
        (GetActivationFactoryProc)(void*)GetProcAddress(runtime.combase, "RoGetActivationFactory");
    runtime.createString =
        (CreateStringProc)(void*)GetProcAddress(runtime.combase, "WindowsCreateString");
    runtime.deleteString =
        (DeleteStringProc)(void*)GetProcAddress(runtime.combase, "WindowsDeleteString");
    if (runtime.getActivationFactory && runtime.createString && runtime.deleteString)
        return true;
    runtime.getActivationFactory = nullptr;
    return false;
}

HRESULT activationFactory(const wchar_t* className, REFIID iid, void** out) {
    *out = nullptr;
    WinString name(className);
    if (!name.get())
        return E_FAIL;
    return runtime.getActivationFactory(name.get(), iid, out);
}

std::wstring widened(const std::string& text, UINT codePage) {
    int n = MultiByteToWideChar(codePage, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, text.data(), (int)text.size(), wide.data(), n);
    return wide;
}

// The file's name without its folder and extension: the title of a track without tags.
std::string fileTitle(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    std::string title(name);
    const size_t dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0)
        title.resize(dot);
    return title;
}

// A delegate of static lifetime: it only posts, so any thread may call it.
class ButtonHandler final : public IButtonPressedHandler {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iidButtonPressedHandler) ||
            IsEqualIID(iid, iidAgileObject)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Invoke(IControls*, IButtonPressedArgs* args) override {
        int button = 0;
        if (args && SUCCEEDED(args->get_Button(&button)))
            PostMessageA(buttonWindow.load(), WM_MEDIA_BUTTON, (WPARAM)button, 0);
        return S_OK;
    }
} buttonHandler;

IInspectable* thumbnailFor(const std::vector<std::uint8_t>& picture) {
    if (picture.empty())
        return nullptr;
    if (!streamOverIStream) {
        if (HMODULE shcore = LoadLibraryA("shcore.dll"))
            streamOverIStream = (StreamOverIStreamProc)(void*)GetProcAddress(
                shcore, "CreateRandomAccessStreamOverStream");
        if (!streamOverIStream)
            return nullptr;
    }
    IStream* memory = SHCreateMemStream(picture.data(), (UINT)picture.size());
    if (!memory)
        return nullptr;
    IInspectable* stream = nullptr;
    HRESULT hr = streamOverIStream(memory, 0, iidRandomAccessStream, (void**)&stream);
    memory->Release();
    if (FAILED(hr) || !stream)
        return nullptr;
    IStreamReferenceStatics* statics = nullptr;
    IInspectable* reference = nullptr;
    if (SUCCEEDED(
            activationFactory(streamReferenceClass, iidStreamReferenceStatics, (void**)&statics)) &&
        FAILED(statics->CreateFromStream(stream, &reference)))
        reference = nullptr;
    release(statics);
    release(stream);
    return reference;
}

void showTrack(const qvcore::TrackTags& tags) {
    updater->put_Type(playbackTypeMusic);
    IMusicDisplayProperties* music = nullptr;
    if (SUCCEEDED(updater->get_MusicProperties(&music)) && music) {
        WinString title(tags.title.empty() ? widened(fileTitle(playingTrackPath), textCodePage)
                                           : widened(tags.title, CP_UTF8));
        WinString artist(widened(tags.artist, CP_UTF8));
        music->put_Title(title.get());
        music->put_Artist(artist.get());
        music->Release();
    }
    IInspectable* thumbnail = thumbnailFor(tags.picture);
    updater->put_Thumbnail(thumbnail);
    release(thumbnail);
    updater->Update();
}

// M4A and WMA: what the system's source makes of them, where our own reading found no title
// (an ASF file's tags are not read by us at all).
void addSystemTags(const char* path, qvcore::TrackTags& tags) {
    std::uint8_t head[64];
    std::FILE* file = qvcore::openFile(path, "rb");
    if (!file)
        return;
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    const qvcore::SystemFormat format = qvcore::systemFormat(head, n);
    if (format != qvcore::SystemFormat::Mp4 && format != qvcore::SystemFormat::Asf)
        return;
    qvdevice::ThreadCom com;
    if (!qvmf::startup())
        return;
    std::string title, artist;
    qvmf::readTags(path, format, title, artist);
    qvmf::shutdown();
    tags.title = qvcore::displayText(title.data(), title.size());
    if (tags.artist.empty())
        tags.artist = qvcore::displayText(artist.data(), artist.size());
}

// The tags of a file, read on a thread of their own: a slow or sleeping drive must not hold up
// the window, and the render threads never wait for it either.
void readTagsInBackground(HWND window, DWORD generation, std::string path) {
    std::thread([window, generation, path = std::move(path)] {
        try {
            auto tags = std::make_unique<qvcore::TrackTags>(qvcore::readTrackTags(path.c_str()));
            if (tags->title.empty())
                addSystemTags(path.c_str(), *tags);
            if (PostMessageA(window, WM_TRACK_TAGS, generation, (LPARAM)tags.get()))
                tags.release();
        } catch (...) {
            // Out of memory: the file name stays as the title.
        }
    }).detach();
}

void trackStarted() {
    ++tagGeneration;
    if (taggedPath == playingTrackPath) {
        showTrack(lastTags);
        return;
    }
    // The file name until the tags are read, so that the last track's never stand for this one.
    showTrack({});
    readTagsInBackground(buttonWindow.load(), tagGeneration, playingTrackPath);
}

} // namespace

bool startMediaControls(HWND window) {
    if (controls)
        return true;
    comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    IControlsInterop* interop = nullptr;
    if (!loadRuntime() ||
        FAILED(activationFactory(controlsClass, iidControlsInterop, (void**)&interop))) {
        stopMediaControls();
        return false;
    }
    HRESULT hr = interop->GetForWindow(window, iidControls, (void**)&controls);
    release(interop);
    if (FAILED(hr) || !controls || FAILED(controls->get_DisplayUpdater(&updater)) || !updater) {
        stopMediaControls();
        return false;
    }
    buttonWindow = window;
    // Without the buttons the controls could not carry the media keys: the hot keys serve then.
    if (FAILED(controls->add_ButtonPressed(&buttonHandler, &buttonToken))) {
        buttonToken = {};
        stopMediaControls();
        return false;
    }
    controls->put_IsEnabled(TRUE);
    controls->put_IsPlayEnabled(TRUE);
    controls->put_IsPauseEnabled(TRUE);
    controls->put_IsStopEnabled(TRUE);
    controls->put_IsNextEnabled(TRUE);
    controls->put_IsPreviousEnabled(TRUE);
    shownStatus = -1;
    shownTrack = 0;
    followPlayerState();
    return true;
}

void stopMediaControls() {
    ++tagGeneration;
    if (controls && buttonToken.value)
        controls->remove_ButtonPressed(buttonToken);
    buttonToken = {};
    release(updater);
    release(controls);
    taggedPath.clear();
    lastTags = {};
    if (comStarted)
        CoUninitialize();
    comStarted = false;
}

bool mediaControlsActive() {
    return controls != nullptr;
}

void followPlayerState() {
    if (!controls)
        return;
    if (isPlaying && trackStarts != shownTrack) {
        shownTrack = trackStarts;
        trackStarted();
    }
    const int status = !isPlaying ? StatusStopped : isPaused ? StatusPaused : StatusPlaying;
    if (status != shownStatus) {
        shownStatus = status;
        controls->put_PlaybackStatus(status);
    }
}

void onMediaButton(WPARAM button) {
    switch ((int)button) {
    case ButtonPlay: pressMediaKey(PlayKey); break;
    case ButtonPause: pressMediaKey(PauseKey); break;
    case ButtonStop: pressMediaKey(StopKey); break;
    case ButtonNext: pressMediaKey(NextKey); break;
    case ButtonPrevious: pressMediaKey(PreviousKey); break;
    }
}

void onTrackTags(WPARAM generation, LPARAM tags) {
    std::unique_ptr<qvcore::TrackTags> read((qvcore::TrackTags*)tags);
    if (!updater || (DWORD)generation != tagGeneration)
        return;
    taggedPath = playingTrackPath;
    lastTags = std::move(*read);
    showTrack(lastTags);
}
