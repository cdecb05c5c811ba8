#include "download/JobOutcome.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "net/TextKit.h"

namespace brenvik {
namespace {

constexpr std::array<std::pair<AlbumResult, const char*>, 6> kWords = {{
    {AlbumResult::Complete, "complete"},
    {AlbumResult::NothingNew, "nothing-new"},
    {AlbumResult::Stopped, "stopped"},
    {AlbumResult::Declined, "declined"},
    {AlbumResult::Failed, "failed"},
    {AlbumResult::Queued, "queued"},
}};

std::string Counted(const char* format, int a, int b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

int CountOf(const DownloadJobOutcome& outcome, AlbumResult result) {
    return static_cast<int>(
        std::count_if(outcome.albumOutcomes.begin(), outcome.albumOutcomes.end(),
                      [result](const AlbumOutcome& album) { return album.result == result; }));
}

// Albums that failed as a whole (nothing to download) rather than photo by photo.
int AlbumsWithoutPhotos(const DownloadJobOutcome& outcome) {
    return static_cast<int>(std::count_if(
        outcome.albumOutcomes.begin(), outcome.albumOutcomes.end(), [](const AlbumOutcome& album) {
            return album.result == AlbumResult::Failed && album.photos == 0;
        }));
}

// The parts after the counts, each said only when it happened; data, not branches.
std::vector<std::string> Remarks(const DownloadJobOutcome& outcome) {
    const struct {
        int count;
        const char* format;
    } kRemarks[] = {
        {outcome.skipped, "其中%d张超出大小限制"},
        {outcome.listed, "%d张写入下载列表"},
        {outcome.queued, "已交给aria2：%d张"},
        {CountOf(outcome, AlbumResult::NothingNew), "%d个相册没有新图片"},
        {CountOf(outcome, AlbumResult::Declined), "%d个相册未下载(未输入密码或未登录)"},
        {AlbumsWithoutPhotos(outcome) - outcome.unsupported, "%d个相册没有取到图片"},
    };
    std::vector<std::string> parts;
    for (const auto& remark : kRemarks) {
        if (remark.count > 0) {
            parts.push_back(Counted(remark.format, remark.count));
        }
    }
    if (outcome.unsupported > 0) {
        parts.emplace_back("暂不支持该网站相册的图片下载");
    }
    return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "，") + part;
    }
    return text;
}

std::string FailuresJson(const std::vector<FailedPhoto>& failures) {
    std::string json = "[";
    for (const FailedPhoto& photo : failures) {
        json += (json.size() > 1 ? "," : "") + std::string("{\"file\":") + JsonString(photo.file) +
                ",\"address\":" + JsonString(photo.address) +
                ",\"reason\":" + JsonString(photo.reason) + "}";
    }
    return json + "]";
}

}  // namespace

const char* ResultWord(AlbumResult result) {
    for (const auto& [value, word] : kWords) {
        if (value == result) {
            return word;
        }
    }
    return "failed";
}

bool AnythingFailed(const DownloadJobOutcome& outcome) {
    return outcome.failed > 0 || CountOf(outcome, AlbumResult::Failed) > 0;
}

std::string SummaryLine(const DownloadJobOutcome& outcome) {
    std::vector<std::string> parts;
    std::string head;
    if (outcome.stopped) {
        head = "已终止：";
        parts.push_back(Counted("已保存%d/%d张", outcome.saved, outcome.images));
    } else {
        head = "下载完毕：";
        parts.push_back(Counted("%d个相册", outcome.albums));
        parts.push_back(Counted("已保存%d张", outcome.saved));
        const int skipped = outcome.skipped + outcome.skippedSaved;
        if (skipped > 0) {
            parts.push_back(Counted("跳过%d张", skipped));
        }
    }
    if (outcome.failed > 0) {
        parts.push_back(Counted("失败%d张", outcome.failed));
    }
    for (std::string& remark : Remarks(outcome)) {
        parts.push_back(std::move(remark));
    }
    return head + Joined(parts);
}

std::vector<std::string> FailureLines(const DownloadJobOutcome& outcome) {
    std::vector<std::string> lines;
    for (const AlbumOutcome& album : outcome.albumOutcomes) {
        if (album.result == AlbumResult::Failed && album.photos == 0) {
            lines.push_back("相册失败：" + album.name + "  " + album.reason);
        }
        for (const FailedPhoto& photo : album.failures) {
            lines.push_back("失败：" + photo.file + "  " + photo.address + "  " + photo.reason);
        }
    }
    return lines;
}

std::string AlbumOutcomesJson(const DownloadJobOutcome& outcome) {
    std::string json = "[";
    for (const AlbumOutcome& album : outcome.albumOutcomes) {
        json += (json.size() > 1 ? ",\n  " : "\n  ") + std::string("{\"name\":") +
                JsonString(album.name) + ",\"outcome\":\"" + ResultWord(album.result) +
                "\",\"photos\":" + std::to_string(album.photos) +
                ",\"saved\":" + std::to_string(album.saved) +
                ",\"skipped\":" + std::to_string(album.skipped) +
                ",\"failed\":" + std::to_string(album.failed) +
                ",\"queued\":" + std::to_string(album.queued) +
                ",\"reason\":" + JsonString(album.reason) +
                ",\"failures\":" + FailuresJson(album.failures) + "}";
    }
    return json + (outcome.albumOutcomes.empty() ? "]" : "\n]");
}

}  // namespace brenvik
