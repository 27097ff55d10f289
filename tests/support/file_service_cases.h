// What every OS's data-file service must do, on real files: the cases are written once here and
// instantiated for the POSIX service (tests/posix) and the Win32 one under Wine (tests/wine):
//   INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FileServiceContract, PosixFileService);
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "transfer/file_service.h"

namespace morva::testing {

template <class Service>
class FileServiceContract : public ::testing::Test {
 protected:
  using Bytes = std::vector<std::uint8_t>;

  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() /
           ("morva-files-" + std::to_string(stamp) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(std::filesystem::create_directory(dir_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string put(const std::string& name, const Bytes& bytes) const {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }
  Bytes content(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::unique_ptr<OpenFile> open(const std::string& name, OpenMode mode) {
    OsError error;
    auto file = files.open(path(name), mode, error);
    EXPECT_NE(file, nullptr) << name << ": " << error.text;
    return file;
  }

  Service files;

 private:
  std::filesystem::path dir_;
};

TYPED_TEST_SUITE_P(FileServiceContract);

// Another program moves the file we hold aside and puts a new one at its path (Windows lets no
// file be renamed over one held open): the path no longer names our file, and emptying ours
// through the handle leaves the new one as it was.
TYPED_TEST_P(FileServiceContract, TheHeldFileIsKnownAndEmptiedApartFromItsPath) {
  this->put("x.usr", {1, 2, 3, 4});
  auto held = this->open("x.usr", OpenMode::Update);
  ASSERT_NE(held, nullptr);
  EXPECT_TRUE(held->isAt(this->path("x.usr")));
  std::filesystem::rename(this->path("x.usr"), this->path("old.usr"));
  this->put("x.usr", {9, 9});
  EXPECT_FALSE(held->isAt(this->path("x.usr")));
  EXPECT_FALSE(held->isAt(this->path("nothing.usr")));
  ASSERT_TRUE(held->truncate(0));
  EXPECT_EQ(held->length(), 0u);
  ASSERT_TRUE(held->write(std::vector<std::uint8_t>{7}));
  EXPECT_EQ(held->length(), 1u);
  EXPECT_TRUE(held->close());
  EXPECT_EQ(this->content("x.usr"), (std::vector<std::uint8_t>{9, 9}));
  EXPECT_EQ(this->content("old.usr"), (std::vector<std::uint8_t>{7}));
}

TYPED_TEST_P(FileServiceContract, LocksExcludeAsTheirKindsSay) {
  struct Row {
    LockKind first, second;
    bool secondTaken;
  };
  const Row rows[] = {{LockKind::Shared, LockKind::Shared, true},
                      {LockKind::Shared, LockKind::Exclusive, false},
                      {LockKind::Exclusive, LockKind::Shared, false},
                      {LockKind::Exclusive, LockKind::Exclusive, false}};
  this->put("x.upg", {1});
  for (const Row& row : rows) {
    auto a = this->open("x.upg", OpenMode::Update);
    auto b = this->open("x.upg", OpenMode::Read);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->lock(row.first));
    EXPECT_EQ(b->lock(row.second), row.secondTaken);
    if (!row.secondTaken) {
      EXPECT_EQ(b->lastError().cause, FailureCause::Busy);
      EXPECT_FALSE(b->lastError().text.empty());
      a->unlock();  // released without closing: the other may take it now
      EXPECT_TRUE(b->lock(row.second));
    }
  }
}

TYPED_TEST_P(FileServiceContract, PathsAndOpensTellWhatTheyMeet) {
  this->put("file.upg", {1, 2, 3});
  std::filesystem::create_directory(this->path("dir"));
  EXPECT_EQ(this->files.inspect(this->path("missing")).kind, PathKind::Missing);
  EXPECT_EQ(this->files.inspect(this->path("file.upg")).kind, PathKind::Regular);
  EXPECT_FALSE(this->files.inspect(this->path("file.upg")).writeProtected);
  EXPECT_EQ(this->files.inspect(this->path("dir")).kind, PathKind::Directory);
  std::filesystem::permissions(this->path("file.upg"), std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::group_read);
  EXPECT_TRUE(this->files.inspect(this->path("file.upg")).writeProtected);
  std::filesystem::permissions(this->path("file.upg"), std::filesystem::perms::owner_all);

  OsError error;
  EXPECT_EQ(this->files.open(this->path("file.upg"), OpenMode::CreateNew, error), nullptr);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(this->files.open(this->path("missing"), OpenMode::Read, error), nullptr);
  EXPECT_EQ(error.cause, FailureCause::NotFound);

  // A short file ends; what was read is kept, and a read past the end is the end again.
  auto source = this->open("file.upg", OpenMode::Read);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->kind(), PathKind::Regular);
  EXPECT_EQ(source->length(), 3u);
  std::vector<std::uint8_t> block(8);
  const OpenFile::ReadResult first = source->read(block);
  EXPECT_EQ(std::tuple(first.count, first.endOfFile, first.error), std::tuple(3u, true, false));
  EXPECT_TRUE(source->seek(1));
  EXPECT_EQ(source->read(block).count, 2u);
  auto created = this->open("new.upg", OpenMode::CreateNew);
  ASSERT_NE(created, nullptr);
  EXPECT_TRUE(created->write(std::vector<std::uint8_t>{5, 6}));
  EXPECT_TRUE(created->close());
  EXPECT_EQ(this->content("new.upg"), (std::vector<std::uint8_t>{5, 6}));
}

REGISTER_TYPED_TEST_SUITE_P(FileServiceContract, TheHeldFileIsKnownAndEmptiedApartFromItsPath,
                            LocksExcludeAsTheirKindsSay, PathsAndOpensTellWhatTheyMeet);

}  // namespace morva::testing
