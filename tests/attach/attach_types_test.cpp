#include "modules/attach/attach_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace VirelantDesktop::attach {
namespace {

TEST(AttachTypes, ExtensionStemAndNameFollowTheLastDot) {
  struct Case {
    std::string path, name, extension, stem;
  };
  const std::vector<Case> cases = {
      {"/home/u/Photo.JPG", "Photo.JPG", "jpg", "Photo"},
      {"/home/u/a.tar.gz", "a.tar.gz", "gz", "a.tar"},
      {"/home/u/.bashrc", ".bashrc", "", ".bashrc"},  // a leading dot starts no extension
      {"/home/u/noext", "noext", "", "noext"},
      {"/home/u/trailing.", "trailing.", "", "trailing"},
      {"relative.Png", "relative.Png", "png", "relative"},
      {"/dir.d/file", "file", "", "file"},  // dots of folders do not count
      {"/home/u/back\\slash.txt", "back\\slash.txt", "txt", "back\\slash"},  // "\" is a name character here
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(SourceNameOf(c.path), c.name);
    EXPECT_EQ(ExtensionOf(c.name), c.extension);
    EXPECT_EQ(StemOf(c.name), c.stem);
  }
}

TEST(AttachTypes, ImageExtensionsAndMimeTable) {
  for (const char* image : {"png", "jpg", "jpeg", "gif", "webp", "heic", "heif", "tif", "tiff", "bmp"}) {
    EXPECT_TRUE(IsImageExtension(image)) << image;
  }
  for (const char* other : {"", "PNG", "svg", "mp4", "jp", "jpegx"}) EXPECT_FALSE(IsImageExtension(other)) << other;

  EXPECT_EQ(MimeForExtension("jpg"), "image/jpeg");
  EXPECT_EQ(MimeForExtension("tif"), "image/tiff");
  EXPECT_EQ(MimeForExtension("mov"), "video/quicktime");
  EXPECT_EQ(MimeForExtension("m4a"), "audio/mp4");
  EXPECT_EQ(MimeForExtension("md"), "text/markdown");
  EXPECT_EQ(MimeForExtension("docx"), "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
  EXPECT_EQ(MimeForExtension("pptx"), "application/vnd.openxmlformats-officedocument.presentationml.presentation");
  for (const char* unknown : {"", "exe", "PDF", "svg"}) {
    EXPECT_EQ(MimeForExtension(unknown), "application/octet-stream") << unknown;
  }
}

TEST(AttachTypes, OnlyAbsolutePathsWithoutNulAreLocal) {
  EXPECT_TRUE(IsLocalAbsolutePath("/a"));
  EXPECT_TRUE(IsLocalAbsolutePath("/home/u/file.txt"));
  for (const std::string& refused : {std::string(), std::string("a/b"), std::string("./a"), std::string("~/a"),
                                     std::string("C:\\a.txt"), std::string("\\\\server\\share\\a"),
                                     std::string("/a\0/b", 5)}) {
    EXPECT_FALSE(IsLocalAbsolutePath(refused)) << ::testing::PrintToString(refused);
  }
}

TEST(AttachTypes, StagedItemPathsAreGuidFolderAndPlainName) {
  const std::string root = "/c/TALVEK-Cache/media/v1/up";
  const std::string guid = "0F8FAD5B-D9CB-469F-A165-70867728950E";
  auto item = ParseStagedItemPath(root + "/" + guid + "/photo.jpg", root);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->folder, guid);
  EXPECT_EQ(item->file, "photo.jpg");
  EXPECT_TRUE(ParseStagedItemPath(root + "/0f8fad5b-d9cb-469f-a165-70867728950e/a", root)) << "lower case";

  const std::vector<std::string> refused = {
      "",
      root,
      root + "/",
      root + "/" + guid,                          // the folder alone
      root + "/" + guid + "/",                    // no file part
      root + "/" + guid + "/.",
      root + "/" + guid + "/..",
      root + "/" + guid + "/a/b",                 // deeper
      root + "/" + guid + "/a:b",
      root + "/" + guid + "/a\\b",
      root + "/stage-" + guid + "/image.png",     // the clipboard's temporary folder
      root + "/" + guid.substr(1) + "/a",         // 35 characters
      root + "/" + guid + "0/a",                  // 37 characters
      root + "/0F8FAD5B-D9CB-469F-A165-70867728950G/a",
      root + "//" + guid + "/a",
      "/c/TALVEK-Cache/media/v1/upx/" + guid + "/a",  // a sibling with the same prefix
      "/elsewhere/" + guid + "/a",
      root + "/" + guid + std::string("/a\0b", 4),
  };
  for (const std::string& path : refused) {
    EXPECT_FALSE(ParseStagedItemPath(path, root)) << ::testing::PrintToString(path);
  }
  EXPECT_FALSE(ParseStagedItemPath(root + "/" + guid + "/a", "")) << "no staging root";
}

}  // namespace
}  // namespace VirelantDesktop::attach
