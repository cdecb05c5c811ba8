// Baidu albums and Tieba.
#pragma once

#include <string>

namespace brenvik {

// The full-size form of a Baidu album list picture address.
std::string BaiduFullSizeAddress(const std::string& listAddress);

// Registers the account album, Tieba bar and Tieba thread adapters.
void RegisterBaidu();

}  // namespace brenvik
