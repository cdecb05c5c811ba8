// The extended-settings INI reader: file bytes in any of the encodings it accepts.
#include <string>

#include "FuzzCheck.h"
#include "net/Ini.h"

using namespace brenvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    IniFile ini;
    ini.ParseText(IniFile::DecodeFileBytes(bytes));
    for (const char* section : {"QQ空间", "淘宝", "Instagram", "京东", ""}) {
        for (const std::string& key : ini.Keys(section)) {
            FUZZ_CHECK(ini.Has(section, key), "every listed key is there");
            ini.GetString(section, key, "");
            ini.GetInt(section, key, 7);
        }
    }
    ini.GetString("QQ空间", "V2编码", "ANSI");
    ini.GetInt("QQ空间", "取原始名方式", 1);
    return 0;
}
