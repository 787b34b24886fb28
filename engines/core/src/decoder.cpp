#include "qvcore/decoder.h"

#include "internal.h"

namespace qvcore {

std::unique_ptr<Decoder> openModule(std::shared_ptr<const FileData> file, ModuleEnd end) {
    if (!file)
        return nullptr;
    const ProbeResult what = probe(file->data(), file->size());
    if (what.kind != Kind::Module)
        return nullptr;
    return detail::openModuleDecoder(std::move(file), end);
}

std::unique_ptr<Decoder> openStream(std::shared_ptr<const FileData> file) {
    if (!file)
        return nullptr;
    const ProbeResult what = probe(file->data(), file->size());
    if (!isStream(what.kind))
        return nullptr;
    return openDecoder(std::move(file), what);
}

std::unique_ptr<Decoder> openDecoder(std::shared_ptr<const FileData> file, const ProbeResult& what,
                                     ModuleEnd end) {
    if (!file)
        return nullptr;
    switch (what.kind) {
    case Kind::Module: return detail::openModuleDecoder(std::move(file), end);
    case Kind::Vorbis: return detail::openVorbisDecoder(std::move(file));
    case Kind::Opus: return detail::openOpusDecoder(std::move(file));
    case Kind::Flac: return detail::openFlacDecoder(std::move(file));
    case Kind::Wav: return detail::openWavDecoder(std::move(file));
    case Kind::Mp3: return detail::openMp3Decoder(std::move(file));
    case Kind::System:
    case Kind::Unknown: break;
    }
    return nullptr;
}

} // namespace qvcore
