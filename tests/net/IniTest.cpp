#include "net/Ini.h"

#include <fstream>

#include <gtest/gtest.h>

#include "support/TestServer.h"

namespace brenvik {
namespace {

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

TEST(IniFile, ReadsKeysLikeTheProfileCalls) {
    IniFile ini;
    ini.ParseText(
        "; comment\n[QQ空间]\nV2编码 = 2 \r\nName=\"quoted value\"\nname=second\n"
        "[Other]\nempty=\n");
    EXPECT_EQ(ini.GetInt("qq空间", "v2编码", 7), 2u);
    EXPECT_EQ(ini.GetString("QQ空间", "NAME", ""), "quoted value");
    EXPECT_EQ(ini.GetInt("Other", "empty", 9), 9u);
    EXPECT_EQ(ini.GetInt("Other", "missing", 9), 9u);
    EXPECT_EQ(ini.GetString("Nowhere", "x", "dflt"), "dflt");
    EXPECT_EQ(ini.Keys("QQ空间"), (std::vector<std::string>{"V2编码", "Name"}));
}

TEST(IniFile, AcceptsGbkUtf8AndUtf16Files) {
    test::TempDir dir;
    const std::string gbk = "[\xC9\xE8\xD6\xC3]\nkey=\xD6\xD0\xCE\xC4\n";  // [设置] key=中文
    const std::string utf8 = "[设置]\nkey=中文\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"[设置]\nkey=中文\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    const std::pair<const char*, std::string> files[] = {{"gbk.ini", gbk},
                                                         {"utf8.ini", utf8},
                                                         {"bom.ini", "\xEF\xBB\xBF" + utf8},
                                                         {"utf16.ini", utf16}};
    for (const auto& [name, bytes] : files) {
        WriteBytes(dir / name, bytes);
        const IniFile ini(dir / name);
        EXPECT_TRUE(ini.Exists()) << name;
        EXPECT_EQ(ini.GetString("设置", "key", ""), "中文") << name;
    }
    EXPECT_FALSE(IniFile(dir / "absent.ini").Exists());
}

}  // namespace
}  // namespace brenvik
