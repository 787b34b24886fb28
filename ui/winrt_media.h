// The few WinRT interfaces of the system's media controls that we call, declared here because
// the mingw-w64 headers lack them. Slot order and IIDs follow Windows' metadata for
// Windows.Media and Windows.Storage.Streams; a method we never call keeps its slot with a
// placeholder signature. Shared with the test-only activation DLL that stands in for the class.
#pragma once

#include <windows.h>
#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>

namespace winrt_media {

// Windows.Media.MediaPlaybackStatus
enum PlaybackStatus { StatusClosed, StatusChanging, StatusStopped, StatusPlaying, StatusPaused };
// Windows.Media.SystemMediaTransportControlsButton (the ones we enable)
enum Button { ButtonPlay = 0, ButtonPause = 1, ButtonStop = 2, ButtonNext = 6, ButtonPrevious = 7 };
// Windows.Media.MediaPlaybackType
constexpr int playbackTypeMusic = 1;

constexpr const wchar_t* controlsClass = L"Windows.Media.SystemMediaTransportControls";
constexpr const wchar_t* streamReferenceClass =
    L"Windows.Storage.Streams.RandomAccessStreamReference";

// {ddb0472d-c911-4a1f-86d9-dc3d71a95f5a}
constexpr IID iidControlsInterop = {
    0xddb0472d, 0xc911, 0x4a1f, {0x86, 0xd9, 0xdc, 0x3d, 0x71, 0xa9, 0x5f, 0x5a}};
// {99fa3ff4-1742-42a6-902e-087d41f965ec}
constexpr IID iidControls = {
    0x99fa3ff4, 0x1742, 0x42a6, {0x90, 0x2e, 0x08, 0x7d, 0x41, 0xf9, 0x65, 0xec}};
// {8abbc53e-fa55-4ecf-ad8e-c984e5dd1550}
constexpr IID iidDisplayUpdater = {
    0x8abbc53e, 0xfa55, 0x4ecf, {0xad, 0x8e, 0xc9, 0x84, 0xe5, 0xdd, 0x15, 0x50}};
// {6bbf0c59-d0a0-4d26-92a0-f978e1d18e7b}
constexpr IID iidMusicProperties = {
    0x6bbf0c59, 0xd0a0, 0x4d26, {0x92, 0xa0, 0xf9, 0x78, 0xe1, 0xd1, 0x8e, 0x7b}};
// {b7f47116-a56f-4dc8-9e11-92031f4a87c2}
constexpr IID iidButtonPressedArgs = {
    0xb7f47116, 0xa56f, 0x4dc8, {0x9e, 0x11, 0x92, 0x03, 0x1f, 0x4a, 0x87, 0xc2}};
// TypedEventHandler<SystemMediaTransportControls, ...ButtonPressedEventArgs>:
// {0557e996-7b23-5bae-aa81-ea0d671143a4}
constexpr IID iidButtonPressedHandler = {
    0x0557e996, 0x7b23, 0x5bae, {0xaa, 0x81, 0xea, 0x0d, 0x67, 0x11, 0x43, 0xa4}};
// {857309dc-3fbf-4e7d-986f-ef3b1a07a964}
constexpr IID iidStreamReferenceStatics = {
    0x857309dc, 0x3fbf, 0x4e7d, {0x98, 0x6f, 0xef, 0x3b, 0x1a, 0x07, 0xa9, 0x64}};
// Windows.Storage.Streams.IRandomAccessStream: {905a0fe1-bc53-11df-8c49-001e4fc686da}
constexpr IID iidRandomAccessStream = {
    0x905a0fe1, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
// IAgileObject: {94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90}
constexpr IID iidAgileObject = {
    0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};

struct IMusicDisplayProperties : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Title(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Title(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AlbumArtist(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AlbumArtist(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Artist(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Artist(HSTRING value) = 0;
};

struct IDisplayUpdater : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Type(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Type(int value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AppMediaId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AppMediaId(HSTRING value) = 0;
    // A RandomAccessStreamReference.
    virtual HRESULT STDMETHODCALLTYPE get_Thumbnail(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Thumbnail(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MusicProperties(IMusicDisplayProperties** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoProperties(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ImageProperties(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyFromFileAsync(int type, IInspectable* file,
                                                        IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearAll() = 0;
    virtual HRESULT STDMETHODCALLTYPE Update() = 0;
};

struct IButtonPressedArgs : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Button(int* value) = 0;
};

struct IControls;

// A delegate: IUnknown, then Invoke.
struct IButtonPressedHandler : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IControls* sender, IButtonPressedArgs* args) = 0;
};

struct IControls : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackStatus(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_PlaybackStatus(int value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DisplayUpdater(IDisplayUpdater** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SoundLevel(int* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPlayEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsPlayEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsStopEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsStopEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPauseEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsPauseEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRecordEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsRecordEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsFastForwardEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsFastForwardEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRewindEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsRewindEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPreviousEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsPreviousEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsNextEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsNextEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsChannelUpEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsChannelUpEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsChannelDownEnabled(boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsChannelDownEnabled(boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_ButtonPressed(IButtonPressedHandler* handler,
                                                        EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_ButtonPressed(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_PropertyChanged(IUnknown* handler,
                                                          EventRegistrationToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_PropertyChanged(EventRegistrationToken token) = 0;
};

struct IControlsInterop : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE GetForWindow(HWND window, REFIID riid, void** controls) = 0;
};

struct IStreamReferenceStatics : IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFromFile(IInspectable* file,
                                                     IInspectable** reference) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFromUri(IInspectable* uri,
                                                    IInspectable** reference) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFromStream(IInspectable* stream,
                                                       IInspectable** reference) = 0;
};

} // namespace winrt_media
