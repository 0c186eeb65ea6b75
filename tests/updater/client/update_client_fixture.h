// Shared by the update client tests: a temporary installation whose
// executable is the test driver, a feed served over HTTPS, and zip packages
// made to order.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/https_test_server.h"
#include "tests/support/temp_dir.h"

namespace VirelantDesktop::update_client::testing {

namespace fs = std::filesystem;
using VirelantDesktop::testing::ChildProcess;
using VirelantDesktop::testing::HttpsTestServer;

inline constexpr auto kDeadline = std::chrono::seconds(60);

inline std::string VersionJson(const std::string& id, const std::string& version) {
  return "{\"id\":\"" + id + "\",\"version\":\"" + version + "\"}\n";
}

// <root>/current holds the driver as "talvek", the library, the apply helper
// and update.version.
inline void LayOutInstallation(const std::string& root, const std::string& version, const std::string& id = "talvek") {
  const fs::path current = fs::path(root) / "current";
  fs::create_directories(current);
  fs::copy_file(TUC_DRIVER_PATH, current / "talvek", fs::copy_options::overwrite_existing);
  fs::copy_file(TUC_LIBRARY_PATH, current / "libtalvek-update.so", fs::copy_options::overwrite_existing);
  fs::copy_file(TUC_APPLY_PATH, current / "talvek-update-apply", fs::copy_options::overwrite_existing);
  VirelantDesktop::testing::WriteTextFile((current / "update.version").string(), VersionJson(id, version));
}

// Reads `path` until it contains `text`; false at the deadline.
inline bool WaitForFileText(const std::string& path, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    if (VirelantDesktop::testing::ReadTextFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Runs the installation's driver to its end; its output.
inline std::string RunDriver(const std::string& root, std::vector<std::string> args, bool trustTestCa = true) {
  std::vector<std::string> argv = {root + "/current/talvek"};
  if (trustTestCa) argv.insert(argv.end(), {"--ca", HttpsTestServer::CaFile()});
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess driver(argv);
  EXPECT_TRUE(driver.started());
  driver.WaitForOutput("\x01", kDeadline);  // reads everything until the output ends
  EXPECT_EQ(driver.Wait(kDeadline), 0) << driver.output();
  return driver.output();
}

// Files served under /feed/ (any can be replaced while serving), and a
// redirect from /moved/NAME to a URL of the test's choice.
class FeedServer {
 public:
  FeedServer() {
    server_.Server().Get(R"(/feed/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
      const std::lock_guard lock(mutex_);
      const auto found = files_.find(request.matches[1].str());
      if (found == files_.end()) {
        response.status = 404;
        return;
      }
      response.set_content(found->second, "application/octet-stream");
    });
    server_.Server().Get(R"(/moved/([^/]+))", [this](const httplib::Request&, httplib::Response& response) {
      const std::lock_guard lock(mutex_);
      response.set_redirect(redirect_);
    });
    server_.Start();
  }
  // The server stops before the files its handlers read go away.
  ~FeedServer() { server_.Stop(); }

  void Put(const std::string& name, std::string body) {
    const std::lock_guard lock(mutex_);
    files_[name] = std::move(body);
  }
  void PutFolder(const std::string& folder) {
    for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
      Put(item.path().filename().string(), VirelantDesktop::testing::ReadTextFile(item.path().string()));
    }
  }
  void RedirectTo(std::string url) {
    const std::lock_guard lock(mutex_);
    redirect_ = std::move(url);
  }
  std::string FeedUrl() const { return server_.BaseUrl() + "/feed/"; }
  std::string MovedUrl() const { return server_.BaseUrl() + "/moved/"; }
  uint16_t Port() const { return server_.Port(); }

 private:
  HttpsTestServer server_;
  std::mutex mutex_;  // guards files_ and redirect_
  std::map<std::string, std::string> files_;
  std::string redirect_;
};

// One entry of a zip made by MakeZip. `mode` is stored as Unix external
// attributes when set (S_IFLNK makes a symbolic link entry); without it the
// entry is marked as made on DOS. `stored`
// entries are kept uncompressed, so a test can find and change their bytes.
struct ZipItem {
  std::string name;
  std::string content;
  std::optional<uint32_t> mode = 0100644;
  bool stored = false;
};

inline void MakeZip(const std::string& path, const std::vector<ZipItem>& items) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr);
  for (const ZipItem& item : items) {
    zip_int64_t index = -1;
    if (!item.name.empty() && item.name.back() == '/') {
      index = zip_dir_add(archive, item.name.c_str(), ZIP_FL_ENC_GUESS);
    } else {
      zip_source_t* source = zip_source_buffer(archive, item.content.data(), item.content.size(), 0);
      index = zip_file_add(archive, item.name.c_str(), source, ZIP_FL_ENC_GUESS);
    }
    ASSERT_GE(index, 0) << item.name << ": " << zip_strerror(archive);
    if (item.stored) {
      ASSERT_EQ(zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0), 0);
    }
    // Without a mode: made as on DOS or Windows, which keeps no Unix mode.
    ASSERT_EQ(zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0,
                                               item.mode ? ZIP_OPSYS_UNIX : ZIP_OPSYS_DOS,
                                               item.mode ? *item.mode << 16 : 0),
              0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

}  // namespace VirelantDesktop::update_client::testing
