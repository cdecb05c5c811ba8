// The "soft.dat" reader: any bytes, short or long, become settings that write back as a
// whole image and read back the same.
#include <string>

#include "FuzzCheck.h"
#include "settings/Settings.h"

using namespace brenvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const SettingsArea area =
        SettingsArea::FromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string image = area.ToBytes();
    FUZZ_CHECK(image.size() == kSoftDatSize, "the image has its fixed size");
    FUZZ_CHECK(SettingsArea::FromBytes(image).ToBytes() == image, "a written image reads back");
    for (const auto& list : area.recent) {
        for (const auto& entry : list) {
            FUZZ_CHECK(entry.find('\0') == std::string::npos, "texts end at their NUL");
        }
    }
    SettingsArea changed = area;
    AddRecent(changed, kRecentAddresses, "12345");
    return 0;
}
