#!/usr/bin/env python3
"""A local Renren account for scripts/bench.sh: ALBUMS albums of PHOTOS photos. Every page
answers after DELAY seconds, as a distant site does; the pictures' addresses point at
IMAGES (a plain static server). Usage: bench-account.py PORT IMAGES ALBUMS PHOTOS DELAY"""
import http.server
import sys
import time
import urllib.parse

port, images, albums, photos, delay = (int(sys.argv[1]), sys.argv[2], int(sys.argv[3]),
                                       int(sys.argv[4]), float(sys.argv[5]))


def album_list():
    items = ",".join(
        '{"cover":"","albumName":"相册%d","albumId":"%d","sourceControl":0,"photoCount":%d,"x":1}'
        % (a, a, photos) for a in range(1, albums + 1))
    return ("<html><head><title>人人网 - 张三的相册</title></head><script>nx.data = "
            "{'albumList': [%s,]};</script></html>" % items)


def photo_page(album, page):
    if page != "1":
        return "{}"
    entries = ",".join('{"position":%d,"url":"%s\\/img\\/%d\\/%d.jpg"}'
                       % (i, images.replace("/", "\\/"), album, i) for i in range(photos))
    return '{"photoList":[%s]}' % entries


class Pages(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        time.sleep(delay)
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path.endswith("/albumlist/v7"):
            body = album_list()
        elif "/bypage/ajax/v7" in url.path:
            album = int(url.path.split("/album-")[1].split("/")[0])
            body = photo_page(album, query.get("page", [""])[0])
        else:
            body = ""
        data = body.encode()
        self.send_response(200 if body else 404)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", port), Pages).serve_forever()
