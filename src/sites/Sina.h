// Sina blog albums, Sina blog articles as albums, and Weibo albums.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace brenvik {

class Session;

// One page of text for an address; nothing when the fetch failed. The paging adapters
// read their pages through one of these, so the paging rules can be played directly.
using SinaPages = std::function<std::optional<std::string>(const std::string& address)>;

// The paging parts of the adapters, given their page source.
void SinaBlogAlbumPhotoPages(Session& session, int albumIndex, const SinaPages& pages);
void SinaBlogArticleListPages(Session& session, const std::string& listBase,
                              const SinaPages& pages);
void WeiboAlbumPhotoPages(Session& session, int albumIndex, const SinaPages& pages);

// The picture address of one Weibo photo entry; empty when the entry names no picture.
std::string WeiboPictureAddress(const std::string& entry, const std::string& userId);

// Registers the blog album, blog article and Weibo album adapters.
void RegisterSina();

}  // namespace brenvik
