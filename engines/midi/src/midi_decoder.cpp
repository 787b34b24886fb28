#include "qvmidi/midi_decoder.h"

#include <mutex>

#include "qvmidi/midi_player.h"

namespace qvmidi {
namespace {

const uint32_t defaultRate = 44100;

class MidiDecoder : public qvcore::Decoder {
public:
    MidiDecoder(MidiSong s, std::shared_ptr<const SoundBank> b, qvcore::ModuleEnd e)
        : song(std::move(s)), bank(std::move(b)), end(e) {
        makePlayer(defaultRate);
    }

    qvcore::Kind kind() const override { return qvcore::Kind::Module; }
    uint32_t sampleRate() const override { return rate; }
    bool setRenderRate(uint32_t r) override {
        if (r == 0)
            return false;
        if (r != rate)
            makePlayer(r);
        return true;
    }
    size_t render(float* out, size_t frames) override { return player->render(out, frames); }
    uint64_t lengthFrames() const override {
        return (uint64_t)(player->lengthSeconds() * rate + 0.5);
    }
    uint64_t positionFrames() const override {
        return (uint64_t)(player->positionSeconds() * rate + 0.5);
    }
    bool seekFrames(uint64_t frame) override {
        // To the bar that holds the time: MIDI has no way to start inside a held note.
        player->setBar(song.barAt(song.tickAt((double)frame / rate)));
        return true;
    }
    int numOrders() const override { return player->bars(); }
    int currentOrder() const override { return player->currentBar(); }
    bool setOrderRow(int order, int) override {
        if (order < 0 || order >= player->bars())
            return false;
        player->setBar(order);
        return true;
    }
    std::string moduleType() const override { return "midi"; }

private:
    void makePlayer(uint32_t r) {
        rate = r;
        player = std::make_unique<MidiPlayer>(song, bank, rate);
        player->setLooping(end == qvcore::ModuleEnd::Loop);
    }

    MidiSong song;
    std::shared_ptr<const SoundBank> bank;
    qvcore::ModuleEnd end;
    uint32_t rate = defaultRate;
    std::unique_ptr<MidiPlayer> player;
};

} // namespace

std::unique_ptr<qvcore::Decoder> openMidi(std::shared_ptr<const qvcore::FileData> file,
                                          std::shared_ptr<const SoundBank> bank,
                                          qvcore::ModuleEnd end) {
    if (!file || !bank || !looksLikeMidi(file->data(), file->loaded()))
        return nullptr;
    MidiSong song;
    const std::size_t size = file->waitFor(0, file->size());
    if (!parseMidi(file->data(), size, song) || song.events.empty())
        return nullptr;
    return std::make_unique<MidiDecoder>(std::move(song), std::move(bank), end);
}

std::shared_ptr<const SoundBank> findSoundBank(const std::vector<std::string>& candidates) {
    static std::mutex lock;
    static std::string loadedFrom;
    static std::shared_ptr<const SoundBank> loaded;
    std::lock_guard<std::mutex> guard(lock);
    for (const std::string& path : candidates) {
        if (loaded && path == loadedFrom)
            return loaded;
        if (auto bank = loadSoundBank(path)) {
            loadedFrom = path;
            loaded = bank;
            return bank;
        }
    }
    return nullptr;
}

} // namespace qvmidi
