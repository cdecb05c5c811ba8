// The followed owners' list: any bytes read as a list write back as one that reads back
// the same, and no value reaches past its own line.
#include <string>

#include "FuzzCheck.h"
#include "settings/FollowList.h"

using namespace brenvik;

namespace {

bool Same(const FollowedOwner& a, const FollowedOwner& b) {
    return a.site == b.site && a.sub == b.sub && a.owner == b.owner && a.savePath == b.savePath &&
           a.picked == b.picked && a.known == b.known && a.lastUpdate == b.lastUpdate &&
           a.albums == b.albums && a.photos == b.photos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto owners =
        ParseFollowList(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string text = FollowListText(owners);
    const auto again = ParseFollowList(text);
    FUZZ_CHECK(again.size() == owners.size(), "every entry reads back");
    for (std::size_t i = 0; i < owners.size(); ++i) {
        FUZZ_CHECK(Same(owners[i], again[i]), "an entry reads back the same");
    }
    FUZZ_CHECK(FollowListText(again) == text, "a written list is written the same again");
    return 0;
}
