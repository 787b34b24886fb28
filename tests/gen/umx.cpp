// Unreal package (version 69) holding one Music object. Little-endian; "index" is the package
// format's compact signed integer (sign and 6 bits, then 7 bits a byte while bit 7 is set).
//   0 0x9E2A83C1, version, licensee, package flags | 12 name count and offset, export count and
//   offset, import count and offset | 36 GUID | 52 one generation (export and name counts)
//   | names (length with the 0, text, 0, flags) | imports (class package, class name: name
//   indices; outer: int32; object name) | the object | exports (class: index into the imports
//   as -(i+1); super; outer: int32; name; flags; size and offset of the object)
// The Music object: its property list (just "None"), its file type (a name), the offset just
// past the data, the data's size and the module itself.
#include "tests/gen/detail.h"

#include <cstdlib>

namespace qvgen {
namespace {

void index(detail::Writer& w, int32_t v) {
    uint32_t a = static_cast<uint32_t>(std::abs(v));
    unsigned first = (v < 0 ? 0x80 : 0) | (a & 0x3f);
    a >>= 6;
    w.u8(first | (a != 0 ? 0x40 : 0));
    while (a != 0) {
        const unsigned next = a & 0x7f;
        a >>= 7;
        w.u8(next | (a != 0 ? 0x80 : 0));
    }
}

enum Name { kNone, kCore, kEngine, kPackage, kClass, kMusic, kObject, kFileType, kNames };

} // namespace

Bytes umx(const Bytes& inner, ModuleFormat innerFormat) {
    detail::Writer w;
    w.u32(0x9e2a83c1);
    w.u16(69);
    w.u16(0);
    w.u32(1); // may be downloaded
    w.u32(kNames);
    const size_t nameOffset = w.pos();
    w.u32(0);
    w.u32(1); // exports
    const size_t exportOffset = w.pos();
    w.u32(0);
    w.u32(2); // imports
    const size_t importOffset = w.pos();
    w.u32(0);
    w.text("quaverly tone umx", 16); // GUID
    w.u32(1);
    w.u32(1);
    w.u32(kNames);

    w.put32(nameOffset, static_cast<uint32_t>(w.pos()));
    const std::string_view names[kNames] = {
        "None", "Core", "Engine", "Package", "Class", "Music", "tone", moduleTypeName(innerFormat)};
    for (std::string_view name : names) {
        index(w, static_cast<int32_t>(name.size() + 1));
        w.text(name, name.size() + 1);
        w.u32(0x00070010);
    }

    // Engine is a package from Core; Music a class inside Engine (import 0, so outer -1).
    w.put32(importOffset, static_cast<uint32_t>(w.pos()));
    index(w, kCore);
    index(w, kPackage);
    w.u32(0);
    index(w, kEngine);
    index(w, kCore);
    index(w, kClass);
    w.u32(static_cast<uint32_t>(-1));
    index(w, kMusic);

    const size_t object = w.pos();
    index(w, kNone);
    index(w, kFileType);
    const size_t skip = w.pos();
    w.u32(0);
    index(w, static_cast<int32_t>(inner.size()));
    w.raw(inner.data(), inner.size());
    w.put32(skip, static_cast<uint32_t>(w.pos()));
    const size_t objectSize = w.pos() - object;

    w.put32(exportOffset, static_cast<uint32_t>(w.pos()));
    index(w, -2); // class: import 1, Music
    index(w, 0);
    w.u32(0);
    index(w, kObject);
    w.u32(0x00070004); // public, loaded by client, server and editor
    index(w, static_cast<int32_t>(objectSize));
    index(w, static_cast<int32_t>(object));
    return w.bytes;
}

} // namespace qvgen
