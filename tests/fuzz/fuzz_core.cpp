// One fuzz target per opener of the engine core, chosen by FUZZ_OPENER at compile time: the bytes
// are opened, a little is rendered, and the decoder is moved about.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvcore/qvcore.h"

namespace {

void drive(qvcore::Decoder& d) {
    static std::vector<float> buf(2 * 2048);
    (void)d.lengthMs();
    (void)d.numOrders();
    d.setRenderRate(44100);
    // A quarter of a second at most: enough to reach the decoders' inner loops, short enough
    // to keep the run fast.
    for (int i = 0; i < 6; ++i) {
        if (d.render(buf.data(), 2048) < 2048)
            break;
    }
    d.seekMs(d.lengthMs() / 2);
    d.render(buf.data(), 512);
    d.setOrderRow(d.numOrders() > 1 ? 1 : 0, 3);
    d.render(buf.data(), 512);
    d.seekMs(d.lengthMs() + 1000);
    d.render(buf.data(), 512);
    d.seekMs(0);
    d.render(buf.data(), 512);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto file = qvcore::FileData::fromBytes(data, size);
    if (!file)
        return 0;
#if defined(FUZZ_PROBE)
    // What the three players do: probe, then open what the probe chose.
    const qvcore::ProbeResult r = qvcore::probe(file->data(), file->size());
    (void)qvcore::isClassicModule(r);
    const qvcore::SystemFormat system = qvcore::systemFormat(file->data(), file->size());
    (void)qvcore::systemContainerIntact(file->data(), file->size(), system);
    if (auto d = qvcore::openStream(file))
        drive(*d);
    if (auto d = qvcore::openModule(file, qvcore::ModuleEnd::Loop))
        drive(*d);
#else
    // One decoder, handed the bytes whatever the probe would say.
    qvcore::ProbeResult r;
    r.kind = qvcore::Kind::FUZZ_OPENER;
    if (auto d = qvcore::openDecoder(file, r, qvcore::ModuleEnd::Stop))
        drive(*d);
#endif
    return 0;
}
