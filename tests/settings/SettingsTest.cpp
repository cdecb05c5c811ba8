#include "settings/Settings.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "net/TextKit.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

void PutU16(std::string& bytes, std::size_t at, unsigned value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutUtf16(std::string& bytes, std::size_t at, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        PutU16(bytes, at + 2 * i, text[i]);
    }
}

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A soft.dat laid out byte by byte as stored settings files have it.
std::string HandBuiltImage() {
    std::string bytes(19808, '\0');
    for (int site = 0; site < 24; ++site) {
        PutU16(bytes, site * 8 + 4, 5);
        PutU16(bytes, site * 8 + 6, 30);
    }
    PutU16(bytes, 3 * 8 + 0, 10);
    PutU16(bytes, 3 * 8 + 2, 2000);
    PutU16(bytes, 3 * 8 + 4, 8);
    PutU16(bytes, 3 * 8 + 6, 60);
    const std::size_t site2 = 192 + 2 * 484;
    PutUtf16(bytes, site2 + 0, u"前缀?3_");
    PutUtf16(bytes, site2 + 80, u"_尾");
    PutUtf16(bytes, site2 + 160, u"a|b");
    PutUtf16(bytes, site2 + 240, u"1|2");
    PutUtf16(bytes, site2 + 320, u"?9_");
    PutUtf16(bytes, site2 + 400, u"!");
    PutU16(bytes, site2 + 480, 0x0045);
    bytes[site2 + 482] = 2;
    bytes[site2 + 483] = 1;
    PutUtf16(bytes, 11808, u"http://user.qzone.qq.com/12345");
    PutUtf16(bytes, 11808 + 800, u"12345");
    PutUtf16(bytes, 15808, u"D:\\照片");
    return bytes;
}

TEST(SoftDat, HandBuiltImageLoadsAndWritesBackByteForByte) {
    const std::string image = HandBuiltImage();
    const SettingsArea area = SettingsArea::FromBytes(image);
    EXPECT_EQ(area.down[3].minK, 10);
    EXPECT_EQ(area.down[3].maxK, 2000);
    EXPECT_EQ(area.down[3].threads, 8);
    EXPECT_EQ(area.down[3].timeout, 60);
    const SaveOptions& s = area.save[2];
    EXPECT_EQ(s.filePrefix, "前缀?3_");
    EXPECT_EQ(s.fileSuffix, "_尾");
    EXPECT_EQ(s.replaceFrom, "a|b");
    EXPECT_EQ(s.replaceTo, "1|2");
    EXPECT_EQ(s.folderPrefix, "?9_");
    EXPECT_EQ(s.folderSuffix, "!");
    EXPECT_EQ(s.flags, 0x0045);
    EXPECT_EQ(s.namingMode, kNameByAddress);
    EXPECT_EQ(s.folderMode, kFolderNone);
    EXPECT_EQ(area.recent[kRecentAddresses][0], "http://user.qzone.qq.com/12345");
    EXPECT_EQ(area.recent[kRecentAddresses][1], "12345");
    EXPECT_EQ(area.recent[kRecentSavePaths][0], "D:\\照片");
    EXPECT_EQ(area.recent[kRecentSavePaths][1], "");
    EXPECT_TRUE(area.ToBytes() == image);
}

TEST(SoftDat, LongTextsAreCutToTheirFields) {
    SettingsArea area;
    area.save[0].filePrefix = std::string(60, 'p');
    area.save[0].fileSuffix =
        std::string(38, 'x') + "\U0001F600";  // the pair would need units 39-40
    area.recent[0][0] = std::string(500, 'r');
    const SettingsArea back = SettingsArea::FromBytes(area.ToBytes());
    EXPECT_EQ(back.save[0].filePrefix, std::string(39, 'p'));
    EXPECT_EQ(back.save[0].fileSuffix, std::string(38, 'x'));
    EXPECT_EQ(back.recent[0][0], std::string(399, 'r'));
    EXPECT_EQ(back.save[1].filePrefix, "");
}

TEST(LoadSettings, FirstStartDefaults) {
    test::TempDir dir;
    const SettingsArea area = LoadSettings(dir.Path());
    for (int site = 0; site < kSiteSlots; ++site) {
        EXPECT_EQ(area.down[site].threads, 5);
        EXPECT_EQ(area.down[site].timeout, 30);
        EXPECT_TRUE(area.save[site].flags & kFlagOpenFolder);
    }
    EXPECT_EQ(area.save[7].flags, kFlagOpenFolder | kFlagYupooLarge | kFlagFixOrder);
    EXPECT_EQ(area.save[8].namingMode, kNameBySequence);
    EXPECT_EQ(area.save[11].flags, kFlagOpenFolder | kFlagFixOrder);
    EXPECT_EQ(area.save[16].flags, kFlagOpenFolder | kFlagFixOrder);
    EXPECT_EQ(area.save[17].filePrefix, "?2) ");
    EXPECT_EQ(area.save[0].flags, kFlagOpenFolder);
    // The defaults were written, whole.
    EXPECT_EQ(ReadBytes(dir / "soft.dat").size(), kSoftDatSize);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"soft.dat"});
    EXPECT_TRUE(ReadBytes(dir / "soft.dat") == area.ToBytes());
}

TEST(LoadSettings, CorrectionsAndShortFiles) {
    test::TempDir dir;
    std::string image = HandBuiltImage();
    PutU16(image, 4 * 8 + 4, 20);  // threads 20
    PutU16(image, 5 * 8 + 4, 0);   // threads 0
    PutU16(image, 6 * 8 + 6, 9);   // time-out 9 s
    std::ofstream(dir / "soft.dat", std::ios::binary) << image;
    SettingsArea area = LoadSettings(dir.Path());
    EXPECT_EQ(area.down[4].threads, 5);
    EXPECT_EQ(area.down[5].threads, 5);
    EXPECT_EQ(area.down[6].timeout, 30);
    EXPECT_EQ(area.down[3].threads, 8);
    EXPECT_EQ(area.save[0].flags, 0) << "an existing file gets no first-start flags";

    // A short file: what it holds loads, the rest is zero (then corrected).
    std::ofstream(dir / "soft.dat", std::ios::binary | std::ios::trunc) << image.substr(0, 1200);
    area = LoadSettings(dir.Path());
    EXPECT_EQ(area.down[3].maxK, 2000);
    EXPECT_EQ(area.save[2].filePrefix, "前缀?3_");
    EXPECT_EQ(area.save[2].flags, 0);
    EXPECT_EQ(area.recent[0][0], "");
    EXPECT_EQ(area.down[23].threads, 5);
    EXPECT_EQ(ReadBytes(dir / "soft.dat").size(), kSoftDatSize);
}

TEST(LoadSettings, UnwritableFolderStillLoads) {
    const SettingsArea area = LoadSettings("/proc/no-such-folder");
    EXPECT_EQ(area.down[0].threads, 5);
    EXPECT_FALSE(SaveSettings(area, "/proc/no-such-folder"));
}

TEST(LoadSettings, AFileLargerThanSettingsIsLeftUnreadAndUntouched) {
    test::TempDir dir;
    const auto file = dir / kSoftDatFile;
    std::ofstream(file).close();
    std::filesystem::resize_file(file, std::uintmax_t{300} << 20);  // sparse: no disk used
    bool saved = false;
    bool tooLarge = false;
    const SettingsArea area = LoadSettings(dir.Path(), &saved, &tooLarge);
    EXPECT_TRUE(tooLarge);
    EXPECT_EQ(area.down[0].threads, 5) << "the defaults are used";
    EXPECT_EQ(std::filesystem::file_size(file), std::uintmax_t{300} << 20);
}

// Two writers that loaded the same soft.dat and then change it at the same time, as two
// runs on one home do: every change of both survives.
TEST(UpdateSettings, ConcurrentWritersLoseNothing) {
    test::TempDir dir;
    SettingsArea first = LoadSettings(dir.Path());
    SettingsArea second = LoadSettings(dir.Path());
    const auto writer = [&dir](SettingsArea& mine, int firstSite, const std::string& name) {
        for (int site = firstSite; site < firstSite + 12; ++site) {
            const auto result = UpdateSettings(mine, dir.Path(), [site](SettingsArea& area) {
                area.down[static_cast<std::size_t>(site)].maxK =
                    static_cast<std::uint16_t>(site + 100);
                return true;
            });
            EXPECT_EQ(result, SettingsUpdate::Saved);
        }
        for (int i = 0; i < 2; ++i) {
            UpdateSettings(mine, dir.Path(), [&](SettingsArea& area) {
                return AddRecent(area, kRecentAddresses, name + std::to_string(i));
            });
        }
    };
    std::thread a(writer, std::ref(first), 0, "a");
    std::thread b(writer, std::ref(second), 12, "b");
    a.join();
    b.join();
    const SettingsArea result = LoadSettings(dir.Path());
    for (int site = 0; site < kSiteSlots; ++site) {
        EXPECT_EQ(result.down[site].maxK, site + 100) << "site " << site;
    }
    std::vector<std::string> recent(result.recent[kRecentAddresses].begin(),
                                    result.recent[kRecentAddresses].begin() + 4);
    std::sort(recent.begin(), recent.end());
    EXPECT_EQ(recent, (std::vector<std::string>{"a0", "a1", "b0", "b1"}));
    // Each writer also took over what the other had saved before its own last change.
    EXPECT_TRUE(first.down[23].maxK == 123 || second.down[0].maxK == 100);
}

TEST(UpdateSettings, NothingWrittenWithoutAChangeAndFailuresReported) {
    test::TempDir dir;
    SettingsArea area = LoadSettings(dir.Path());
    ASSERT_EQ(UpdateSettings(area, dir.Path(),
                             [](SettingsArea& a) { return AddRecent(a, kRecentAddresses, "x"); }),
              SettingsUpdate::Saved);
    std::filesystem::remove(dir / "soft.dat");
    EXPECT_EQ(UpdateSettings(area, dir.Path(),
                             [](SettingsArea& a) { return AddRecent(a, kRecentAddresses, "X"); }),
              SettingsUpdate::Unchanged);
    EXPECT_FALSE(std::filesystem::exists(dir / "soft.dat"));
    EXPECT_EQ(area.recent[kRecentAddresses][0], "x") << "without a file, the loaded settings";

    SettingsArea nowhere = LoadSettings("/proc/no-such-folder");
    EXPECT_EQ(UpdateSettings(nowhere, "/proc/no-such-folder",
                             [](SettingsArea& a) { return AddRecent(a, kRecentAddresses, "y"); }),
              SettingsUpdate::NotSaved);
    EXPECT_EQ(nowhere.recent[kRecentAddresses][0], "y") << "kept for this run at least";
}

TEST(AddRecent, HistoryRules) {
    SettingsArea area;
    for (int i = 1; i <= 6; ++i) {
        EXPECT_TRUE(AddRecent(area, kRecentSavePaths, "/photos/" + std::to_string(i)));
    }
    EXPECT_EQ(area.recent[kRecentSavePaths][0], "/photos/6");
    EXPECT_EQ(area.recent[kRecentSavePaths][4], "/photos/2");
    EXPECT_FALSE(AddRecent(area, kRecentSavePaths, "/PHOTOS/4"));
    EXPECT_EQ(area.recent[kRecentSavePaths][0], "/photos/6");
    EXPECT_FALSE(AddRecent(area, kRecentAddresses, std::string(400, 'x')));
    EXPECT_TRUE(AddRecent(area, kRecentAddresses, std::string(399, 'x')));
    EXPECT_TRUE(area.recent[kRecentSavePaths][0] != area.recent[kRecentAddresses][0]);
}

TEST(ExtendedSettings, KeysResetValuesAndCaseSensitiveCharsets) {
    test::TempDir dir;
    ExtendedSettings values = ReadExtendedSettings(dir.Path());
    EXPECT_EQ(values.qzoneV2Charset, 0u);
    EXPECT_EQ(values.nameSource, 1u);
    EXPECT_EQ(values.jdChoice, 1u);
    EXPECT_EQ(values.instagramChoice, 1u);
    EXPECT_FALSE(values.priceInNames);

    // Written as the Chinese system writes it: GBK.
    const std::string ini =
        "[QQ空间]\nV2编码=UTF8\nV3编码=utf8\n取原始名方式=2\n"
        "[淘宝]\n图片名中是否有价格=有价格\n价格增减=-5\n"
        "[Instagram]\n图片获取方式=2\n[京东]\n图片获取方式=3\n";
    std::ofstream(dir / "下载器扩展设置.ini", std::ios::binary) << ToGbk(ini);
    values = ReadExtendedSettings(dir.Path());
    EXPECT_EQ(values.qzoneV2Charset, 2u);
    EXPECT_EQ(values.qzoneV3Charset, 0u) << "lower-case utf8 is not recognised";
    EXPECT_EQ(values.nameSource, 2u);
    EXPECT_TRUE(values.priceInNames);
    EXPECT_EQ(values.priceAdjustment, -5);
    EXPECT_EQ(values.instagramChoice, 2u);
    EXPECT_EQ(values.jdChoice, 3u);

    std::ofstream(dir / "下载器扩展设置.ini", std::ios::binary | std::ios::trunc)
        << "[QQ空间]\nV2编码=AUTO\nV3编码=BIG5x\n";
    values = ReadExtendedSettings(dir.Path());
    EXPECT_EQ(values.qzoneV2Charset, 16u);
    EXPECT_EQ(values.qzoneV3Charset, 8u);
    EXPECT_EQ(values.nameSource, 1u);
}

TEST(ExtendedSettings, TheDaemonIsWrittenBackBesideTheOtherSectionsOfAGbkFile) {
    test::TempDir dir;
    std::ofstream(dir / "下载器扩展设置.ini", std::ios::binary)
        << ToGbk("[aria2]\r\nRPC地址=http://old\r\n[淘宝]\r\n价格增减=-5\r\n");
    const Aria2Daemon daemon{"http://nas:6800/jsonrpc", "pw\n[下载]", "/srv/相册", true};
    ASSERT_TRUE(WriteAria2Settings(dir.Path(), daemon));
    EXPECT_EQ(ReadExtendedSettings(dir.Path()).aria2,
              (Aria2Daemon{daemon.address, "pw[下载]", daemon.folder, true}));
    EXPECT_EQ(ReadExtendedSettings(dir.Path()).priceAdjustment, -5);
}

TEST(FirstAddress, GbkWithoutLineEnd) {
    test::TempDir dir;
    EXPECT_EQ(ReadFirstAddress(dir.Path()), "");
    ASSERT_TRUE(WriteFirstAddress(dir.Path(), "http://p.test/图/1.jpg"));
    EXPECT_EQ(ReadBytes(dir / "pic.zvt"), "http://p.test/" + ToGbk("图") + "/1.jpg");
    EXPECT_EQ(ReadFirstAddress(dir.Path()), "http://p.test/图/1.jpg");
    std::ofstream(dir / "pic.zvt", std::ios::binary | std::ios::trunc) << "first\r\nsecond";
    EXPECT_EQ(ReadFirstAddress(dir.Path()), "first");
}

}  // namespace
}  // namespace brenvik
