// Tencent Weibo topic albums.
#pragma once

namespace brenvik {

// Registers the topic album list and photo list.
void RegisterTweibo();

}  // namespace brenvik
