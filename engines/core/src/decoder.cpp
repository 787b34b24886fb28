#include "qvcore/decoder.h"

#include "internal.h"
#include "qvcore/read_ahead.h"

namespace qvcore {
namespace {

// One of our decoders, run by a read-ahead thread.
class DecoderSource final : public PcmSource {
public:
    explicit DecoderSource(std::unique_ptr<Decoder> d) : d_(std::move(d)) {}
    std::size_t read(float* out, std::size_t frames) override { return d_->render(out, frames); }
    bool seek(std::uint64_t frame) override { return d_->seekFrames(frame); }

private:
    std::unique_ptr<Decoder> d_;
};

std::unique_ptr<Decoder> openHere(std::shared_ptr<const FileData> file, const ProbeResult& what,
                                  ModuleEnd end) {
    switch (what.kind) {
    case Kind::Module: return detail::openModuleDecoder(std::move(file), end);
    case Kind::Vorbis: return detail::openVorbisDecoder(std::move(file));
    case Kind::Opus: return detail::openOpusDecoder(std::move(file));
    case Kind::Flac: return detail::openFlacDecoder(std::move(file));
    case Kind::Wav: return detail::openSndfileDecoder(std::move(file));
    case Kind::Mp3: return detail::openMp3Decoder(std::move(file));
    case Kind::System:
    case Kind::Unknown: break;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<Decoder> openModule(std::shared_ptr<const FileData> file, ModuleEnd end) {
    if (!file)
        return nullptr;
    const ProbeResult what = probe(file->data(), file->waitFor(0, file->size()));
    if (what.kind != Kind::Module)
        return nullptr;
    return detail::openModuleDecoder(std::move(file), end);
}

std::unique_ptr<Decoder> openStream(std::shared_ptr<const FileData> file) {
    if (!file)
        return nullptr;
    const ProbeResult what = probe(file->data(), file->loaded());
    if (!isStream(what.kind))
        return nullptr;
    return openDecoder(std::move(file), what);
}

std::unique_ptr<Decoder> openDecoder(std::shared_ptr<const FileData> file, const ProbeResult& what,
                                     ModuleEnd end) {
    if (!file)
        return nullptr;
    // A stream whose file is still being read decodes on a thread of its own, which may wait
    // for the file; render only ever copies what that thread decoded.
    if (!isStream(what.kind) || file->loaded() == file->size())
        return openHere(std::move(file), what, end);
    return openReadAhead([file, what, end](PcmSourceInfo& info) -> std::unique_ptr<PcmSource> {
        file->waitFor(file->size() - 1, 1); // openers look at the end (read first)
        auto d = openHere(file, what, end);
        if (!d)
            return nullptr;
        info.rate = d->sampleRate();
        info.lengthFrames = d->lengthFrames();
        info.kind = d->kind();
        return std::make_unique<DecoderSource>(std::move(d));
    });
}

} // namespace qvcore
