// The download job: turns the selected albums into files, album by album, through the
// photo-list adapters, the workers and the optional steps after each album.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "download/JobOutcome.h"

namespace brenvik {

class Session;

inline constexpr const char* kNoSavePath = "请先设置保存路径";
inline constexpr const char* kBadSavePath = "请检测设置的保存路径是否有误";
inline constexpr const char* kNoAlbumSelected = "没有选中任何相册，请先选择要下载的相册";
inline constexpr const char* kAlbumProgressFormat = "正在下载第%d/%d个图集";
inline constexpr const char* kDownloadStarted = "已开始下载图片";
inline constexpr const char* kNoPhotoListerYet = "暂不支持该网站相册的图片下载";
inline constexpr const char* kNoPhotosFound = "没有取到图片列表";
// Said once when an image host refused every request of a long run; %s is the HTTP status
// seen (or kNoAnswer when none came).
inline constexpr const char* kHostGivenUpFormat =
    "图片服务器连续拒绝访问(%s)，已停止下载本相册，请检查登录或稍后再试";
inline constexpr const char* kNoAnswer = "无响应";

// Creates every missing folder of the path, level by level; on failure shows the
// failing folder and returns false.
bool MakeFolderPath(Session& session, const std::filesystem::path& path);

// Runs the whole job on the calling thread. `selected` are album indexes in the order
// the table gives them; `savePath` is the save-path text as typed. `listExports`
// (ListExport bits) writes those address lists instead of downloading; 0 leaves it to
// the list-only option, which writes the ".lst" and the aria2 list.
DownloadJobOutcome RunDownloadJob(Session& session, const std::vector<int>& selected,
                                  const std::string& savePath, unsigned listExports = 0);

// The stop command: asks the running job and its workers to stop.
void RequestDownloadStop(Session& session);

}  // namespace brenvik
