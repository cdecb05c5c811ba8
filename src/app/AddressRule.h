// Which site a typed address belongs to, by domain fragments in a fixed order.
#pragma once

#include <optional>
#include <string_view>

namespace brenvik {

struct SiteGuess {
    int site = 0;
    int subSelector = 0;  // QQ sub-selector for site 0: 0 Qzone, 1 QQ group, 2 Tencent Weibo
};

// Nothing when the text has no "http://" or "https://" or no known fragment.
std::optional<SiteGuess> SiteForAddress(std::string_view text);

}  // namespace brenvik
