// Qzone servers that never finish: an image that streams for ever and an album list that
// trickles, for the tests of stopping. Both give up after `patience`, so code that ignores
// a stop fails its test instead of hanging it.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "sites/QzoneServers.h"

namespace brenvik::test {

// Loose bound for "ended instead of hanging"; the servers below go on for a minute.
inline constexpr std::chrono::seconds kStopPrompt{10};
inline constexpr std::chrono::seconds kServerPatience{60};

// One album with one photo (full size and preview), whose image the tests make endless.
inline void ServeOneAlbumOfOnePhoto(QzoneServers& servers) {
    QzoneAlbum trip{"A1", "旅行", "1", {}};
    QzonePhoto one{.name = "海边", .raw = servers.Image("b1.qpic.cn", "p1")};
    one.pre = servers.Image("a1.qpic.cn", "p1pre");
    trip.photos = {one};
    servers.albums = {trip};
}

// The full-size images stream a few KiB every 50 ms; `pieces` counts what they sent, so a
// test knows a body is being written.
inline void MakeQzoneImagesEndless(QzoneServers& servers, std::chrono::seconds patience,
                                   std::atomic<int>& pieces) {
    servers.server.On(
        "b1.qpic.cn", "/img",
        [&servers, &pieces, patience](const httplib::Request&, httplib::Response& res) {
            const auto giveUp = std::chrono::steady_clock::now() + patience;
            res.set_chunked_content_provider(
                "image/jpeg", [&servers, &pieces, giveUp](std::size_t, httplib::DataSink& sink) {
                    servers.server.Stall(std::chrono::milliseconds(50));
                    const std::string piece(4096, 'i');
                    const bool more = std::chrono::steady_clock::now() < giveUp &&
                                      sink.write(piece.data(), piece.size());
                    pieces += more ? 1 : 0;
                    return more;
                });
        });
}

// The version-2 album list sends one byte every two seconds; `requests` counts its requests.
inline void MakeQzoneAlbumListTrickle(QzoneServers& servers, std::atomic<int>& requests,
                                      std::chrono::seconds patience) {
    servers.server.On(
        "alist.photo.qq.com", "/fcgi-bin/fcg_list_album_v2",
        [&servers, &requests, patience](const httplib::Request&, httplib::Response& res) {
            ++requests;
            const auto giveUp = std::chrono::steady_clock::now() + patience;
            res.set_chunked_content_provider(
                "application/x-javascript",
                [&servers, giveUp](std::size_t, httplib::DataSink& sink) {
                    servers.server.Stall(std::chrono::seconds(2));
                    return std::chrono::steady_clock::now() < giveUp && sink.write("_", 1);
                });
        });
}

}  // namespace brenvik::test
