// Instagram: a user's media as one album.
#pragma once

#include <string>

namespace brenvik {

// The request header block of every Instagram page request.
inline constexpr const char* kInstagramHeaders =
    "User-Agent: Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/30.0.1599.101 Safari/537.36\r\nAccept-Encoding: gzip, deflate\r\n"
    "Accept-Language:zh-CN,zh;q=0.8";

// A picture address of a media item, at the best resolution the item offers; empty when
// it offers none.
std::string InstagramItemPicture(const std::string& item);

// With photo-host choice 0 a picture of the "hphotos-" folders is taken from the
// Instagram photo host; any other choice keeps the address.
std::string InstagramPhotoHostAddress(const std::string& address, unsigned choice);

// Registers the album-list and photo-list adapters of Instagram.
void RegisterInstagram();

}  // namespace brenvik
