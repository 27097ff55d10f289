// The POSIX data-file service on real files: the cases every OS shares, and what only POSIX has
// (pipes, character devices, a descriptor that fails its reads).
#include "platform/posix/file_service.h"

#include <sys/stat.h>

#include "tests/support/file_service_cases.h"

namespace morva::testing {

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, FileServiceContract, PosixFileService);

namespace {

using PosixFiles = FileServiceContract<PosixFileService>;

TEST_F(PosixFiles, PipesAndDevicesAreNeitherFilesNorDisks) {
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(files.inspect(path("pipe")).kind, PathKind::Other);
  EXPECT_EQ(files.inspect("/dev/null").kind, PathKind::Other);
  auto device = open("/dev/null", OpenMode::WriteOnly);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->kind(), PathKind::Other);
  EXPECT_EQ(device->length(), std::nullopt);
}

TEST_F(PosixFiles, AReadTheOsFailsIsNotTheEnd) {
  std::filesystem::create_directory(path("dir"));
  auto dir = open("dir", OpenMode::Read);
  ASSERT_NE(dir, nullptr);
  std::vector<std::uint8_t> block(4);
  const OpenFile::ReadResult read = dir->read(block);
  EXPECT_TRUE(read.error);
  EXPECT_FALSE(read.endOfFile);
  EXPECT_EQ(dir->lastError().text, "Is a directory");
}

}  // namespace
}  // namespace morva::testing
