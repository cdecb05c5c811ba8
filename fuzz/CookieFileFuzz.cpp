// The cookie-file loader (cookies.txt, JSON exports and --cookies imports): any file content.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzCheck.h"
#include "net/CookieStore.h"

using namespace brenvik;

namespace {

std::filesystem::path InputFile() {
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("brenvik-fuzz-cookies-" + std::to_string(::getpid()) + ".txt");
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(InputFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CookieStore store;  // no file of its own: nothing is saved
    const int taken = store.Import(InputFile());
    FUZZ_CHECK(taken >= 0 || store.Size() == 0, "a refused file leaves nothing");
    FUZZ_CHECK(store.Size() <= static_cast<std::size_t>(std::max(taken, 0)),
               "no cookie out of nothing");
    const auto lines = store.Lines();
    CookieStore again;
    for (const auto& line : lines) {
        FUZZ_CHECK(again.Put(line), "a stored cookie's line reads back");
    }
    FUZZ_CHECK(again.Lines() == lines, "lines read back as they were");
    for (const char* address : {"https://user.qzone.qq.com/12345", "http://a/", "x"}) {
        store.CookiesFor(address);
    }
    store.Merge(lines, {});
    FUZZ_CHECK(store.Size() == 0, "a transfer that dropped everything drops everything");
    std::filesystem::remove(InputFile());
    return 0;
}
