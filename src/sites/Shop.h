// Shop item pictures: 1688 shops and offers, Taobao/Tmall shops, searches and items, JD
// items and ZOL product pages. A row is one product; its photos are its pictures.
#pragma once

#include <string>
#include <vector>

namespace brenvik {

// The price part of a Taobao picture name: "价格12.50元_", or "价格15.50元_" with a markup
// of 3; empty when prices are not wanted or none was found.
std::string TaobaoPricePrefix(const std::string& price, bool wanted, int markup);

// The full-size form of a JD picture address.
std::string JdFullSizeAddress(std::string address);

// The picture addresses of a product description: every <img> source, in page order.
std::vector<std::string> DescriptionPictures(std::string description);

// Registers the 1688, Taobao/Tmall, JD and ZOL product adapters.
void RegisterShops();

}  // namespace brenvik
