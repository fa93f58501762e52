// libFuzzer target: the package manifest reader, which reads bytes of a
// package nobody has vouched for yet. Any accepted manifest must write out to
// a text that reads back as the same manifest.
#include "agent/package/PackageManifest.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto manifest = PackageManifest::parse(text);
    if (!manifest)
        return 0;
    const auto again = PackageManifest::parse(manifest->text());
    if (!again || !(*again == *manifest))
        __builtin_trap();
    return 0;
}
