// Picture decoding (BMP, TGA, PNG, told apart by content) on arbitrary bytes: a texture comes
// back with a pixel buffer of its size, or nothing.
#include "platform/scene/scene.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto tex = scene::LoadTextureFromMemory(std::span<const uint8_t>(data, size), "fuzz.bmp");
    if (tex && tex->GetImage().rgba.size() !=
                   static_cast<size_t>(tex->Width()) * static_cast<size_t>(tex->Height()) * 4)
        std::abort();
    return 0;
}
