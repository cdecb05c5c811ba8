// What the user configured: per-site download parameters and file-name rules, the two
// recent lists ("soft.dat", a fixed little-endian byte image kept compatible with the
// files users bring along), and the read-only extended settings INI.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace brenvik {

inline constexpr int kSiteSlots = 24;
inline constexpr int kRecentEntries = 5;
inline constexpr std::size_t kRecentUnits = 400;  // UTF-16 units per recent entry
inline constexpr std::size_t kRuleUnits = 40;     // UTF-16 units per rule text, NUL included
inline constexpr std::size_t kSoftDatSize = 19808;
inline constexpr const char* kSoftDatFile = "soft.dat";
inline constexpr const char* kExtendedSettingsFile = "下载器扩展设置.ini";
inline constexpr const char* kFirstAddressFile = "pic.zvt";

// Option bits of SaveOptions::flags.
enum SaveFlag : std::uint16_t {
    kFlagFixFormat = 0x0001,
    kFlagFixOrder = 0x0002,
    kFlagSourceNames = 0x0004,
    kFlagListOnly = 0x0008,
    kFlagOpenFolder = 0x0010,
    kFlagShopMainImages = 0x0020,
    kFlagSkipDownloaded = 0x0040,
    kFlagYupooLarge = 0x0080,
    kFlagShopDescriptionImages = 0x0100,
};

enum NamingMode : std::uint8_t { kNameByDescription = 0, kNameBySequence = 1, kNameByAddress = 2 };
enum FolderMode : std::uint8_t { kFolderAlbumName = 0, kFolderNone = 1 };

struct DownloadParams {
    std::uint16_t minK = 0;
    std::uint16_t maxK = 0;
    std::uint16_t threads = 0;
    std::uint16_t timeout = 0;
};

// Rule texts hold at most 39 UTF-16 units; longer texts are cut when stored.
struct SaveOptions {
    std::string filePrefix;
    std::string fileSuffix;
    std::string replaceFrom;
    std::string replaceTo;
    std::string folderPrefix;
    std::string folderSuffix;
    std::uint16_t flags = 0;
    std::uint8_t namingMode = 0;
    std::uint8_t folderMode = 0;
};

enum RecentKind { kRecentAddresses = 0, kRecentSavePaths = 1 };

struct SettingsArea {
    std::array<DownloadParams, kSiteSlots> down{};
    std::array<SaveOptions, kSiteSlots> save{};
    std::array<std::array<std::string, kRecentEntries>, 2> recent{};

    // The "soft.dat" image and back. A short image fills what it holds; the rest is zero.
    std::string ToBytes() const;
    static SettingsArea FromBytes(std::string_view bytes);
};

// Loads "soft.dat" from the folder with the corrections, or the first-start defaults
// when there is no file; writes the result back (`saved` tells whether that worked).
// A file larger than kSoftDatSize is no settings file: it is not read, the defaults are
// used, nothing is written over it and `tooLarge` says so.
SettingsArea LoadSettings(const std::filesystem::path& folder, bool* saved = nullptr,
                          bool* tooLarge = nullptr);
// Writes "soft.dat" whole: a temporary file renamed into place.
bool SaveSettings(const SettingsArea& settings, const std::filesystem::path& folder);

enum class SettingsUpdate { Unchanged, Saved, NotSaved };
// Makes one change under the folder's lock: the change is applied to the newest
// "soft.dat" (another process may have written it since `settings` was loaded; without a
// readable file, to `settings` itself), and the result is written and becomes `settings`.
// The change returns false when it changes nothing; then nothing is written.
SettingsUpdate UpdateSettings(SettingsArea& settings, const std::filesystem::path& folder,
                              const std::function<bool(SettingsArea&)>& change);
// Puts the text at the front of a recent list; false when the list stays as it was.
bool AddRecent(SettingsArea& settings, RecentKind kind, const std::string& text);
// The text cut to what fits a field of `units` UTF-16 units (NUL included).
std::string FitUnits(const std::string& text, std::size_t units);

// A running aria2 that takes the downloads over its JSON-RPC interface instead of the
// workers. No address: the workers download as usual.
struct Aria2Daemon {
    std::string address;  // "http://127.0.0.1:6800/jsonrpc"
    std::string secret;   // the daemon's --rpc-secret; empty when it has none
    // The folder on the daemon's side that stands for the save path; empty: the daemon
    // runs here and writes into the album folders themselves.
    std::string folder;
    // Wait until every photo ended, queue fallbacks and record what arrived.
    bool wait = false;

    bool operator==(const Aria2Daemon&) const = default;
};

// Choices of the extended settings INI; Qzone charsets are DecodeFlags values.
struct ExtendedSettings {
    unsigned qzoneV2Charset = 0;
    unsigned qzoneV3Charset = 0;
    unsigned nameSource = 1;
    bool priceInNames = false;
    int priceAdjustment = 0;  // may be negative
    unsigned instagramChoice = 1;
    unsigned jdChoice = 1;
    unsigned connectionsPerHost = 0;  // requests at one image host at once; 0: thread count
    Aria2Daemon aria2;
};
ExtendedSettings ReadExtendedSettings(const std::filesystem::path& folder);
// Writes the daemon's keys into the extended settings INI, keeping every other line.
bool WriteAria2Settings(const std::filesystem::path& folder, const Aria2Daemon& daemon);

// "pic.zvt": the first image address of an album's last complete download.
bool WriteFirstAddress(const std::filesystem::path& albumFolder, const std::string& address);
std::string ReadFirstAddress(const std::filesystem::path& albumFolder);

}  // namespace brenvik
