#include "settings/Settings.h"

#include <fstream>
#include <sstream>

#include "net/AtomicFile.h"
#include "net/FolderLock.h"
#include "net/Ini.h"
#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr std::size_t kDownParamSize = 8;
constexpr std::size_t kSaveSetSize = 484;
constexpr std::size_t kSaveSetOffset = kSiteSlots * kDownParamSize;                // 192
constexpr std::size_t kRecentOffset = kSaveSetOffset + kSiteSlots * kSaveSetSize;  // 11808
constexpr std::size_t kRecentListSize = kRecentEntries * kRecentUnits * 2;         // 4000
static_assert(kRecentOffset + 2 * kRecentListSize == kSoftDatSize);

void PutU16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

std::uint16_t GetU16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

// A NUL-terminated UTF-16LE field of `units` units.
void PutText(std::string& bytes, std::size_t at, const std::string& text, std::size_t units) {
    const std::u16string wide = ToUtf16(FitUnits(text, units));
    for (std::size_t i = 0; i < wide.size(); ++i) {
        PutU16(bytes, at + 2 * i, wide[i]);
    }
}

std::string GetText(const std::string& bytes, std::size_t at, std::size_t units) {
    std::u16string wide;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = GetU16(bytes, at + 2 * i);
        if (unit == 0) {
            break;
        }
        wide += unit;
    }
    return FromUtf16(wide);
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

void ApplyCorrections(SettingsArea& settings) {
    for (auto& down : settings.down) {
        if (down.threads == 0 || down.threads > 15) {
            down.threads = 5;
        }
        if (down.timeout < 10) {
            down.timeout = 30;
        }
    }
}

void ApplyFirstStartDefaults(SettingsArea& settings) {
    for (auto& save : settings.save) {
        save.flags |= kFlagOpenFolder;
    }
    settings.save[7].flags |= kFlagYupooLarge | kFlagFixOrder;
    settings.save[8].namingMode = kNameBySequence;
    settings.save[11].flags |= kFlagFixOrder;
    settings.save[16].flags |= kFlagFixOrder;
    settings.save[17].filePrefix = "?2) ";
}

unsigned CharsetValue(const std::string& text) {
    // Case-sensitive prefix match, as the setting has always been read.
    if (text.starts_with("UTF8")) {
        return 2;
    }
    if (text.starts_with("ANSI")) {
        return 0;
    }
    if (text.starts_with("AUTO")) {
        return 16;
    }
    if (text.starts_with("BIG5")) {
        return 8;
    }
    return 0;
}

}  // namespace

std::string FitUnits(const std::string& text, std::size_t units) {
    std::u16string wide = ToUtf16(text);
    if (wide.size() >= units) {
        wide.resize(units - 1);
        if (!wide.empty() && IsHighSurrogate(wide.back())) {
            wide.pop_back();
        }
    }
    return FromUtf16(wide);
}

std::string SettingsArea::ToBytes() const {
    std::string bytes(kSoftDatSize, '\0');
    for (int site = 0; site < kSiteSlots; ++site) {
        const std::size_t at = static_cast<std::size_t>(site) * kDownParamSize;
        PutU16(bytes, at, down[site].minK);
        PutU16(bytes, at + 2, down[site].maxK);
        PutU16(bytes, at + 4, down[site].threads);
        PutU16(bytes, at + 6, down[site].timeout);
    }
    for (int site = 0; site < kSiteSlots; ++site) {
        const SaveOptions& s = save[site];
        const std::size_t at = kSaveSetOffset + static_cast<std::size_t>(site) * kSaveSetSize;
        const std::string* texts[] = {&s.filePrefix, &s.fileSuffix,   &s.replaceFrom,
                                      &s.replaceTo,  &s.folderPrefix, &s.folderSuffix};
        for (std::size_t t = 0; t < 6; ++t) {
            PutText(bytes, at + t * kRuleUnits * 2, *texts[t], kRuleUnits);
        }
        PutU16(bytes, at + 480, s.flags);
        bytes[at + 482] = static_cast<char>(s.namingMode);
        bytes[at + 483] = static_cast<char>(s.folderMode);
    }
    for (std::size_t list = 0; list < 2; ++list) {
        for (std::size_t e = 0; e < kRecentEntries; ++e) {
            PutText(bytes, kRecentOffset + list * kRecentListSize + e * kRecentUnits * 2,
                    recent[list][e], kRecentUnits);
        }
    }
    return bytes;
}

SettingsArea SettingsArea::FromBytes(std::string_view image) {
    std::string bytes(image.substr(0, kSoftDatSize));
    bytes.resize(kSoftDatSize, '\0');
    SettingsArea area;
    for (int site = 0; site < kSiteSlots; ++site) {
        const std::size_t at = static_cast<std::size_t>(site) * kDownParamSize;
        area.down[site] = {GetU16(bytes, at), GetU16(bytes, at + 2), GetU16(bytes, at + 4),
                           GetU16(bytes, at + 6)};
    }
    for (int site = 0; site < kSiteSlots; ++site) {
        SaveOptions& s = area.save[site];
        const std::size_t at = kSaveSetOffset + static_cast<std::size_t>(site) * kSaveSetSize;
        std::string* texts[] = {&s.filePrefix, &s.fileSuffix,   &s.replaceFrom,
                                &s.replaceTo,  &s.folderPrefix, &s.folderSuffix};
        for (std::size_t t = 0; t < 6; ++t) {
            *texts[t] = GetText(bytes, at + t * kRuleUnits * 2, kRuleUnits);
        }
        s.flags = GetU16(bytes, at + 480);
        s.namingMode = static_cast<std::uint8_t>(bytes[at + 482]);
        s.folderMode = static_cast<std::uint8_t>(bytes[at + 483]);
    }
    for (std::size_t list = 0; list < 2; ++list) {
        for (std::size_t e = 0; e < kRecentEntries; ++e) {
            area.recent[list][e] = GetText(
                bytes, kRecentOffset + list * kRecentListSize + e * kRecentUnits * 2, kRecentUnits);
        }
    }
    return area;
}

namespace {

// The corrected contents of "soft.dat", or false when there is no file to read.
// True when the folder's "soft.dat" is larger than any settings file: it is left alone.
bool SoftDatTooLarge(const std::filesystem::path& folder) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(folder / kSoftDatFile, ec);
    return !ec && size > kSoftDatSize;
}

bool ReadSettingsFile(const std::filesystem::path& folder, SettingsArea& settings) {
    std::ifstream in(folder / kSoftDatFile, std::ios::binary);
    if (!in || SoftDatTooLarge(folder)) {
        return false;
    }
    // Never more than a settings file holds, whatever the file grew to meanwhile.
    std::string bytes(kSoftDatSize, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    settings = SettingsArea::FromBytes(bytes);
    ApplyCorrections(settings);
    return true;
}

}  // namespace

SettingsArea LoadSettings(const std::filesystem::path& folder, bool* saved, bool* tooLarge) {
    // Read and write back under the lock, or another run's change made in between would
    // be overwritten with what this run read.
    const FolderLock lock(folder);
    SettingsArea settings;
    const bool oversized = SoftDatTooLarge(folder);
    if (tooLarge) {
        *tooLarge = oversized;
    }
    if (!ReadSettingsFile(folder, settings)) {
        ApplyCorrections(settings);
        ApplyFirstStartDefaults(settings);
    }
    // A stop while another run held the home: read, never written without the lock. An
    // oversized file stays for the user to look at.
    const bool written = oversized || (!lock.Abandoned() && SaveSettings(settings, folder));
    if (saved) {
        *saved = written;
    }
    return settings;
}

bool SaveSettings(const SettingsArea& settings, const std::filesystem::path& folder) {
    return WriteFileAtomically(folder / kSoftDatFile, settings.ToBytes());
}

SettingsUpdate UpdateSettings(SettingsArea& settings, const std::filesystem::path& folder,
                              const std::function<bool(SettingsArea&)>& change) {
    const FolderLock lock(folder);
    if (lock.Abandoned()) {
        return SettingsUpdate::NotSaved;
    }
    SettingsArea newest = settings;
    ReadSettingsFile(folder, newest);
    if (!change(newest)) {
        settings = std::move(newest);
        return SettingsUpdate::Unchanged;
    }
    const bool written = SaveSettings(newest, folder);
    settings = std::move(newest);
    return written ? SettingsUpdate::Saved : SettingsUpdate::NotSaved;
}

bool AddRecent(SettingsArea& settings, RecentKind kind, const std::string& text) {
    if (ToUtf16(text).size() >= kRecentUnits) {
        return false;
    }
    auto& list = settings.recent[kind];
    const std::string lowered = LowerAscii(text);
    for (const auto& entry : list) {
        if (LowerAscii(entry) == lowered) {
            return false;
        }
    }
    for (std::size_t i = kRecentEntries - 1; i > 0; --i) {
        list[i] = list[i - 1];
    }
    list[0] = text;
    return true;
}

// "有", "有价格" and "图片名中有价格" all mean yes; "没有" and "无" do not.
static bool SaysYes(const std::string& value) {
    return value.find("有") != std::string::npos && value.find("没有") == std::string::npos &&
           value.find("无") == std::string::npos;
}

namespace {

constexpr const char* kAria2Section = "aria2";
constexpr const char* kAria2AddressKey = "RPC地址";
constexpr const char* kAria2SecretKey = "RPC密钥";
constexpr const char* kAria2FolderKey = "服务端目录";
constexpr const char* kAria2WaitKey = "等待下载完成";

Aria2Daemon ReadAria2(const IniFile& ini) {
    Aria2Daemon daemon;
    daemon.address = ini.GetString(kAria2Section, kAria2AddressKey, "");
    daemon.secret = ini.GetString(kAria2Section, kAria2SecretKey, "");
    daemon.folder = ini.GetString(kAria2Section, kAria2FolderKey, "");
    const std::string wait = ini.GetString(kAria2Section, kAria2WaitKey, "否");
    daemon.wait = wait == "是" || wait == "1";
    return daemon;
}

// A value stays on its own line: a control character would start another key.
std::string OneLine(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            out += c;
        }
    }
    return out;
}

// The text without the lines of one section (its header included).
std::string WithoutSection(const std::string& text, const std::string& section) {
    std::istringstream lines(text);
    std::string kept;
    bool inside = false;
    for (std::string raw; std::getline(lines, raw);) {
        const std::string line = Trimmed(raw);
        if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
            inside = LowerAscii(Trimmed(line.substr(1, line.size() - 2))) == section;
        }
        if (!inside) {
            kept += raw + (raw.ends_with('\r') ? "\n" : "\r\n");
        }
    }
    return kept;
}

}  // namespace

ExtendedSettings ReadExtendedSettings(const std::filesystem::path& folder) {
    ExtendedSettings values;  // the reset values
    const IniFile ini(folder / kExtendedSettingsFile);
    if (!ini.Exists()) {
        return values;
    }
    values.qzoneV2Charset = CharsetValue(ini.GetString("QQ空间", "V2编码", "ANSI"));
    values.qzoneV3Charset = CharsetValue(ini.GetString("QQ空间", "V3编码", "ANSI"));
    values.nameSource = ini.GetInt("QQ空间", "取原始名方式", 1);
    values.priceInNames = SaysYes(ini.GetString("淘宝", "图片名中是否有价格", "无"));
    values.priceAdjustment = static_cast<int>(ini.GetInt("淘宝", "价格增减", 0));
    values.instagramChoice = ini.GetInt("Instagram", "图片获取方式", 1);
    values.jdChoice = ini.GetInt("京东", "图片获取方式", 1);
    values.connectionsPerHost = ini.GetInt("下载", "每台服务器连接数", 0);
    values.aria2 = ReadAria2(ini);
    return values;
}

bool WriteAria2Settings(const std::filesystem::path& folder, const Aria2Daemon& daemon) {
    const std::filesystem::path file = folder / kExtendedSettingsFile;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    // Written as UTF-8 with a mark, which the reader knows whatever the file was before.
    std::string text = WithoutSection(IniFile::DecodeFileBytes(bytes.str()), kAria2Section);
    text += std::string("[") + kAria2Section + "]\r\n";
    text += std::string(kAria2AddressKey) + "=" + OneLine(daemon.address) + "\r\n";
    text += std::string(kAria2SecretKey) + "=" + OneLine(daemon.secret) + "\r\n";
    text += std::string(kAria2FolderKey) + "=" + OneLine(daemon.folder) + "\r\n";
    text += std::string(kAria2WaitKey) + "=" + (daemon.wait ? "是" : "否") + "\r\n";
    return WriteFileAtomically(file, "\xEF\xBB\xBF" + text);
}

bool WriteFirstAddress(const std::filesystem::path& albumFolder, const std::string& address) {
    return WriteFileAtomically(albumFolder / kFirstAddressFile, ToGbk(address));
}

std::string ReadFirstAddress(const std::filesystem::path& albumFolder) {
    std::ifstream in(albumFolder / kFirstAddressFile, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return {};
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return FromCodePage(line, kCodePageGbk);
}

}  // namespace brenvik
