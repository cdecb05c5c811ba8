// NetEase albums, the NetEase photo community, and Lofter blogs.
#pragma once

#include <string>

namespace brenvik {

// The image address of a NetEase list path: "3/abc.jpg" lives on img3 of the photo-image
// domain, "/photo/..." paths on the blog-image domain. Empty for an empty path.
std::string NeteaseImageAddress(const std::string& listPath);

// Registers the album, community and Lofter adapters.
void RegisterNetease();

}  // namespace brenvik
