#include "download/Naming.h"

#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "net/TextKit.h"
#include "support/TestServer.h"

namespace brenvik {
namespace {

std::string Sanitized(std::string text, unsigned fallbackNumber = 0, bool fallback = false) {
    SanitizeFileName(text, fallbackNumber, fallback);
    return text;
}

TEST(SanitizeFileName, CleansNames) {
    EXPECT_EQ(Sanitized("  a   b  "), "a b");
    EXPECT_EQ(Sanitized("..."), "\u3002\u3002\u3002");
    EXPECT_EQ(Sanitized("..a.."), "a");
    EXPECT_EQ(Sanitized("a/b\\c:d*e?f\"g<h>i|j"), "abcdefghij");
    EXPECT_EQ(Sanitized("tab\there\r\nbell\a"), "tab_herebell");
    EXPECT_EQ(Sanitized("ctl\x01\x1F\x7F"
                        "end"),
              "ctlend");
    EXPECT_EQ(Sanitized("Tom &amp; Jerry&#39;s"), "Tom & Jerry's");
    EXPECT_EQ(Sanitized("&quot;quoted&quot;"), "quoted");
    EXPECT_EQ(Sanitized("\u3000全角\u3000"), "全角");
    EXPECT_EQ(Sanitized("../../etc/passwd"), "etcpasswd");
}

TEST(SanitizeFileName, FallbackForEmptyAndVeryLongNames) {
    EXPECT_EQ(Sanitized("", 7, true), "pic7");
    EXPECT_EQ(Sanitized("???", 7, true), "pic7");
    EXPECT_EQ(Sanitized("", 7, false), "");
    const std::string stamp = Sanitized("", kTimeStampFallback, true);
    ASSERT_EQ(stamp.size(), 14u);
    EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(Sanitized(std::string(1000, 'x'), 3, true), "pic3");
    EXPECT_EQ(Sanitized(std::string(999, 'x'), 3, true), std::string(999, 'x'));
    std::string chinese;
    for (int i = 0; i < 1000; ++i) {
        chinese += "相";
    }
    EXPECT_EQ(Sanitized(chinese, 3, true), "pic3") << "counted in characters, not bytes";
}

TEST(ReplaceList, PiecewiseOrWhole) {
    std::string text = "abc";
    ReplaceList(text, "a|b", "1|2");
    EXPECT_EQ(text, "12c");
    text = "abc a|b";
    ReplaceList(text, "a|b", "1");
    EXPECT_EQ(text, "abc 1");
    text = "abc";
    ReplaceList(text, "", "z");
    EXPECT_EQ(text, "abc");
    text = "a-b";
    ReplaceList(text, "a||b", "x||y");
    EXPECT_EQ(text, "x-y");
}

class PhotoNames : public ::testing::Test {
  protected:
    std::string Name(const std::string& url, const std::string& nameText) {
        const NamingFacts facts{rules, album, albumCount, selectedCount, owner, site};
        PhotoName photo = BuildPhotoName(url, nameText, facts, list.Size());
        const std::string fileName = FinishPhotoName(photo, folder, list);
        list.Append({url, fileName, ""});
        return fileName;
    }
    SaveOptions rules;
    AlbumRecord album{.name = "Trip", .position = 2};
    int albumCount = 5;
    int selectedCount = 2;
    std::string owner = "12345";
    int site = 0;
    std::filesystem::path folder = "/photos/12345/Trip";
    DownloadList list;
};

TEST_F(PhotoNames, SequenceModeSkipsTheUniquenessSearch) {
    rules.namingMode = kNameBySequence;
    rules.filePrefix = "A";
    EXPECT_EQ(Name("http://p/x.jpg", "ignored"), "A1.jpg");
    EXPECT_EQ(Name("http://p/y.jpg", "ignored"), "A2.jpg");
    EXPECT_EQ(Name("http://p/z.jpg", "ignored"), "A3.jpg");
}

TEST_F(PhotoNames, DescriptionModeMakesNamesUnique) {
    EXPECT_EQ(Name("u1", "sunset"), "sunset.jpg");
    EXPECT_EQ(Name("u2", "sunset"), "sunset(1).jpg");
    EXPECT_EQ(Name("u3", "SUNSET"), "SUNSET(2).jpg");
    EXPECT_EQ(Name("u4", "x.PNG"), "x.PNG");
    EXPECT_EQ(Name("u5", "x.PNG"), "x(1).PNG");
    EXPECT_EQ(Name("u6", "report.pdf"), "report.pdf.jpg");
    EXPECT_EQ(Name("u7", ""), "Trip.jpg") << "an empty description takes the album name";
}

TEST_F(PhotoNames, AddressMode) {
    rules.namingMode = kNameByAddress;
    EXPECT_EQ(Name("http://h/a/b/c.gif", "desc"), "c.gif");
    EXPECT_EQ(Name("noslash", "desc"), "2.jpg") << "falls back to the sequence number";
    EXPECT_EQ(Name("/x.jpg", "desc"), "3.jpg") << "a slash at index 0 does not count";
}

TEST_F(PhotoNames, FileEscapes) {
    album.likeCount = 77;
    album.number2 = 88;
    rules.filePrefix = "?1_?2_?3_?4_?5_";
    rules.fileSuffix = "_?6_?7_?8_?9";
    EXPECT_EQ(Name("u", "d"), "Trip_1_3_77_88_d_2_5_12345_0003.jpg");
    EXPECT_EQ(Name("u", "d"), "Trip_2_3_77_88_d_2_5_12345_0003.jpg");
}

TEST_F(PhotoNames, OwnerNameCannotLeaveTheFolder) {
    owner = "../../../tmp/evil";
    rules.filePrefix = "?8";
    const std::string name = Name("u", "d");
    EXPECT_EQ(name.find('/'), std::string::npos);
    EXPECT_FALSE(name.starts_with("."));
    EXPECT_EQ(Name("u", "C:\\Windows\\evil.jpg").find('\\'), std::string::npos);
}

TEST_F(PhotoNames, LongChineseNamesFitTheFileSystem) {
    std::string longName;
    for (int i = 0; i < 200; ++i) {
        longName += "风景";
    }
    const std::string first = Name("u", longName + ".png");
    EXPECT_LE(first.size(), kMaxNameBytes);
    EXPECT_TRUE(first.ends_with(".jpg")) << "the cut removed the .png";
    EXPECT_TRUE(IsUtf8(first));
    const std::string second = Name("u", longName + ".png");
    EXPECT_LE(second.size(), kMaxNameBytes);
    EXPECT_TRUE(second.ends_with("(1).jpg"));
    EXPECT_TRUE(IsUtf8(second));

    test::TempDir dir;
    std::ofstream(dir / first) << "x";
    std::ofstream(dir / second) << "y";
    EXPECT_EQ(dir.Files().size(), 2u);
}

TEST(AlbumFolder, EscapesDifferFromFileNames) {
    SaveOptions rules;
    rules.folderPrefix = "?9_";
    const AlbumRecord album{.name = "Trip", .text4 = "2014-05-01", .position = 2};
    EXPECT_EQ(BuildAlbumFolder({rules, album, 10, 3, "owner", 0}), "0003_Trip");
    rules.folderPrefix = "?1-?2-?3-?4-?5-?6-?7-?8-";
    // ?2, ?6, ?7, ?8 stay (their "?" then goes in the cleaning); ?4 counts from the end.
    EXPECT_EQ(BuildAlbumFolder({rules, album, 10, 3, "owner", 0}),
              "Trip-2-3-8-2014-05-01-6-7-8-Trip");
    EXPECT_EQ(BuildAlbumFolder({rules, album, 10, 3, "owner", 4}), "Trip-2-3-8-5-6-7-8-Trip");
    rules.folderPrefix = "";
    rules.folderMode = kFolderNone;
    EXPECT_EQ(BuildAlbumFolder({rules, album, 10, 3, "owner", 0}), "");
}

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FixFormat, RenamesByContentWithoutOverwriting) {
    test::TempDir dir;
    std::ofstream(dir / "p.jpg", std::ios::binary) << "\x89PNG\r\n";
    std::ofstream(dir / "q.png", std::ios::binary) << "\xFF\xD8\xFF\xE0";
    std::ofstream(dir / "q.jpg", std::ios::binary) << "already here";
    std::ofstream(dir / "r.jpg", std::ios::binary) << "GIF89a";
    std::ofstream(dir / "s.jpg", std::ios::binary) << "unknown";
    DownloadList list;
    list.SetAlbumFolder(dir.Path());
    for (const char* name : {"p.jpg", "q.png", "r.jpg", "s.jpg", "missing.jpg"}) {
        list.Append({std::string("http://h/") + name, name, ""});
    }
    FixFormat(list, "");
    EXPECT_EQ(list.Row(0).fileName, "p.png");
    EXPECT_EQ(list.Row(1).fileName, "q (1).jpg");
    EXPECT_EQ(list.Row(2).fileName, "r.gif");
    EXPECT_EQ(list.Row(3).fileName, "s.jpg");
    EXPECT_EQ(list.Row(4).fileName, "missing.jpg");
    EXPECT_EQ(ReadBytes(dir / "q.jpg"), "already here");
    EXPECT_EQ(ReadBytes(dir / "q (1).jpg"), "\xFF\xD8\xFF\xE0");
    EXPECT_EQ(dir.Files(),
              (std::vector<std::string>{"p.png", "q (1).jpg", "q.jpg", "r.gif", "s.jpg"}));
}

TEST(FixFormat, VideosBecomeMp4) {
    test::TempDir dir;
    std::ofstream(dir / "v.jpg", std::ios::binary) << std::string(
        "\0\0\0\x18"
        "ftypmp42",
        12);
    std::ofstream(dir / "i.jpg", std::ios::binary) << "\xFF\xD8\xFF";
    std::ofstream(dir / "t", std::ios::binary) << "MM\0*";
    EXPECT_EQ(FixFileType(dir / "v.jpg", ".mp4"), dir / "v.mp4");
    EXPECT_EQ(FixFileType(dir / "i.jpg", ".mp4"), dir / "i.jpg");
    EXPECT_EQ(FixFileType(dir / "t", ""), dir / "t.tiff");
}

TEST(FixOrder, StampsListOrderOneMinuteApart) {
    test::TempDir dir;
    DownloadList list;
    list.SetAlbumFolder(dir.Path());
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        std::ofstream(dir / name) << name;
        list.Append({name, name, ""});
    }
    const std::time_t now = 1700000000;
    FixOrder(list, now);
    const char* names[] = {"a.jpg", "b.jpg", "c.jpg"};
    for (int i = 0; i < 3; ++i) {
        struct stat info {};
        ASSERT_EQ(::stat((dir / names[i]).c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, now - 60 * i);
        EXPECT_EQ(info.st_atime, now - 60 * i);
    }
}

TEST(TextFiles, SourceNamesAndDescriptionsAreUtf16) {
    test::TempDir dir;
    ASSERT_TRUE(AppendSourceName(dir / "Trip.txt", "日出", true));
    ASSERT_TRUE(AppendSourceName(dir / "Trip.txt", "b", false));
    EXPECT_EQ(ReadBytes(dir / "Trip.txt"),
              std::string("\xFF\xFE\xE5\x65\xFA\x51\r\0\n\0b\0\r\0\n\0", 16));
    ASSERT_TRUE(AppendSourceName(dir / "Trip.txt", "c", true));
    EXPECT_EQ(ReadBytes(dir / "Trip.txt"), std::string("\xFF\xFE"
                                                       "c\0\r\0\n\0",
                                                       8));
    ASSERT_TRUE(WriteUnicodeTextFile(dir / "d.txt", "A"));
    EXPECT_EQ(ReadBytes(dir / "d.txt"), std::string("\xFF\xFE"
                                                    "A\0",
                                                    4));
}

TEST(DownloaderList, GbkLinesWithFallbackPairs) {
    test::TempDir dir;
    DownloadList list;
    list.Append({"http://h/1.jpg", "1.jpg", ""});
    list.Append({"http://h/图.jpg\r\nhttp://h/small.jpg", "2.jpg", ""});
    list.Append({"http://h/3.jpg", "3.jpg", ""});
    ASSERT_TRUE(WriteDownloaderList(dir / "Trip.lst", list));
    const std::string expected = "http://h/1.jpg\r\nhttp://h/" + ToGbk("图") +
                                 ".jpg\r\nhttp://h/small.jpg\r\nhttp://h/3.jpg\r\n";
    EXPECT_EQ(ReadBytes(dir / "Trip.lst"), expected);
    DownloadList shorter;
    shorter.Append({"http://h/only.jpg", "o.jpg", ""});
    ASSERT_TRUE(WriteDownloaderList(dir / "Trip.lst", shorter));
    EXPECT_EQ(ReadBytes(dir / "Trip.lst"), "http://h/only.jpg\r\n");
    EXPECT_FALSE(WriteDownloaderList(dir / "absent" / "x.lst", shorter));
}

}  // namespace
}  // namespace brenvik
