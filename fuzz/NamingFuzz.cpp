// The naming code: any rules, album, owner, address and photo name. Every folder and
// file name it hands out is one harmless path component of at most 255 bytes, and the
// path made of them stays inside the save path.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "FuzzCheck.h"
#include "download/Naming.h"

using namespace brenvik;

namespace {

const std::filesystem::path kSavePath = "/save/path";

// A name the cleaning made: one harmless component. Its length is cut by the callers.
void CheckCleaned(const std::string& name, bool mayBeEmpty, const char* what) {
    if (name == "." || name == ".." || name.find('/') != std::string::npos) {
        std::fprintf(stderr, "%s: \"%s\"\n", what, name.c_str());
    }
    if (name.empty()) {
        FUZZ_CHECK(mayBeEmpty, "a name is never empty");
        return;
    }
    FUZZ_CHECK(name != "." && name != "..", "a name is never . or ..");
    FUZZ_CHECK(name.find_first_not_of('.') != std::string::npos, "a name is never all dots");
    FUZZ_CHECK(name.find('/') == std::string::npos, "a name is one component");
    FUZZ_CHECK(name.find('\0') == std::string::npos, "a name holds no NUL");
}

// A name handed out for the file system: cleaned, and at most 255 bytes.
void CheckComponent(const std::string& name, bool mayBeEmpty, const char* what) {
    CheckCleaned(name, mayBeEmpty, what);
    if (name.size() > kMaxNameBytes) {
        std::fprintf(stderr, "%s: %zu bytes\n", what, name.size());
    }
    FUZZ_CHECK(name.size() <= kMaxNameBytes, "a name fits the file system");
}

// The owner level as the download job makes it.
std::string OwnerFolder(std::string owner) {
    SanitizeFileName(owner, 0, false);
    return CutToBytes(owner, kMaxNameBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    SaveOptions rules;
    rules.filePrefix = input.ConsumeRandomLengthString(40);
    rules.fileSuffix = input.ConsumeRandomLengthString(40);
    rules.replaceFrom = input.ConsumeRandomLengthString(40);
    rules.replaceTo = input.ConsumeRandomLengthString(40);
    rules.folderPrefix = input.ConsumeRandomLengthString(40);
    rules.folderSuffix = input.ConsumeRandomLengthString(40);
    rules.namingMode = input.ConsumeIntegralInRange<std::uint8_t>(0, 2);
    rules.folderMode = input.ConsumeIntegralInRange<std::uint8_t>(0, 1);
    AlbumRecord album;
    album.name = input.ConsumeRandomLengthString(300);
    SanitizeFileName(album.name, kTimeStampFallback, true);  // as AddAlbum stores it
    album.text4 = input.ConsumeRandomLengthString(40);
    // Row numbers and counts as a listing makes them; site numbers are any 32-bit value.
    const int albumCount = input.ConsumeIntegralInRange<int>(1, 1 << 20);
    album.position = input.ConsumeIntegralInRange<std::int32_t>(0, albumCount - 1);
    album.likeCount = input.ConsumeIntegral<std::int32_t>();
    album.number2 = input.ConsumeIntegral<std::int32_t>();
    const std::string owner = input.ConsumeRandomLengthString(300);
    const int site = input.ConsumeIntegralInRange<int>(0, 20);
    const NamingFacts facts{
        rules, album, albumCount, input.ConsumeIntegralInRange<int>(0, albumCount), owner, site};

    std::string loose = input.ConsumeRandomLengthString(300);
    SanitizeFileName(loose, kTimeStampFallback, true);
    CheckCleaned(loose, false, "cleaned name");

    const std::string ownerFolder = OwnerFolder(owner);
    CheckComponent(ownerFolder, true, "owner folder");
    const std::string albumFolder = BuildAlbumFolder(facts);
    CheckComponent(albumFolder, rules.folderMode == kFolderNone, "album folder");
    const std::filesystem::path folder = kSavePath / ownerFolder / albumFolder;

    DownloadList list;
    for (int photo = 0; photo < 3 && input.remaining_bytes() > 0; ++photo) {
        const std::string address = input.ConsumeRandomLengthString(200);
        const std::string nameText = input.ConsumeRandomLengthString(300);
        PhotoName name = BuildPhotoName(address, nameText, facts, list.Size());
        const std::string file = FinishPhotoName(std::move(name), folder, list);
        CheckComponent(file, false, "photo file");
        list.Append({address, file, ""});
        const std::filesystem::path target = (folder / file).lexically_normal();
        const auto [end, unused] =
            std::mismatch(kSavePath.begin(), kSavePath.end(), target.begin(), target.end());
        FUZZ_CHECK(end == kSavePath.end(), "every file stays inside the save path");
    }
    return 0;
}
