#include "app/AddressRule.h"

#include <string>
#include <vector>

#include "net/Hosts.h"
#include "sites/AdapterKit.h"

namespace brenvik {
namespace {

struct FragmentRule {
    const char* role;
    int site;
};

// Tested in this order; the first fragment found after the start wins.
const std::vector<FragmentRule>& Rules() {
    static const std::vector<FragmentRule> rules = {
        {"qq.fragment", 0},      {"baidu.fragment", 1},     {"netease.fragment", 2},
        {"renren.fragment", 3},  {"sina.fragment", 4},      {"weibo.fragment", 4},
        {"56.fragment", 5},      {"poco.fragment", 6},      {"yupoo.fragment", 7},
        {"51.fragment", 8},      {"zol.fragment", 9},       {"pchome.fragment", 10},
        {"taobao.fragment", 11}, {"tmall.fragment", 11},    {"1688.fragment", 11},
        {"moko.fragment", 12},   {"babytree.fragment", 13}, {"pconline.fragment", 14},
        {"hupu.fragment", 15},   {"jd.fragment", 16},       {"instagram.fragment", 17},
        {"huaban.fragment", 18}, {"duitang.fragment", 18},  {"lofter.fragment", 19},
        {"topit.fragment", 20},
    };
    return rules;
}

bool Has(std::string_view text, const char* role) {
    const std::string fragment = Host(role);
    return !fragment.empty() && FoundAfterStart(text, fragment);
}

}  // namespace

std::optional<SiteGuess> SiteForAddress(std::string_view text) {
    if (text.find("http://") == std::string_view::npos &&
        text.find("https://") == std::string_view::npos) {
        return std::nullopt;
    }
    for (const FragmentRule& rule : Rules()) {
        if (!Has(text, rule.role)) {
            continue;
        }
        if (rule.site == 0) {
            // A NetEase address may carry the QQ domain too; NetEase wins then.
            if (Has(text, "netease.slash.fragment")) {
                continue;
            }
            SiteGuess guess{0, 0};
            if (Has(text, "tweibo.fragment")) {
                guess.subSelector = 2;
            } else if (Has(text, "qqgroup.fragment") || Has(text, "qqgroup.home")) {
                guess.subSelector = 1;
            }
            return guess;
        }
        return SiteGuess{rule.site, 0};
    }
    return std::nullopt;
}

}  // namespace brenvik
