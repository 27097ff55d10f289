#include "fuzz/scenario.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace morva::fuzz {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t staleTargetSize = 700;
constexpr std::uint8_t staleTargetByte = 0xA5;

Bytes fileContent(const SessionConfig& config) {
  const std::size_t size = fileSize(config);
  switch (config.content) {
    case Content::Zeros:
      return Bytes(size, 0);
    case Content::Ones:
      return Bytes(size, 0xFF);
    case Content::Noise:
      return generated(size, config.seed);
    case Content::Pattern:
      break;
  }
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7 + config.seed + i / blockSize);
  return b;
}

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c); });
  return text;
}

// The text after the last dot of the file's own name, in lowercase; empty without a dot.
std::string extensionOf(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : lowercase(name.substr(dot + 1));
}

// A start that ends before the WakeUp, with nothing recorded.
StartExpectation refused(StartResult result, StartExpectation e = {},
                         SessionOutcome outcome = SessionOutcome::Failed) {
  e.result = result;
  e.outcome = outcome;
  return e;
}

StartExpectation refused(StartResult result, Failure failure, StartExpectation e = {}) {
  e = refused(result, std::move(e));
  e.failure = std::move(failure);
  return e;
}

}  // namespace

Bytes readWholeFile(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) return {};
  Bytes content(size);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(size));
  content.resize(static_cast<std::size_t>(in.gcount()));
  return content;
}

std::uintmax_t sizeOf(const std::string& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  return error ? 0 : size;
}

std::size_t fileSize(const SessionConfig& config) {
  const std::size_t image = std::size_t{kindInfo(config.kind)->blockCount} * blockSize;
  const std::size_t sizes[] = {
      0,    300,   512,          blockSize,
      2000, image, image + 1000, (config.seed % 8u) * blockSize + config.seed / 8u + 1};
  return sizes[static_cast<int>(config.size)];
}

FileFacts factsOf(const std::string& path) {
  if (path == fullDisk) return {.exists = true, .device = true, .writeError = ENOSPC};
  if (path == ownMemory) return {.exists = true, .readError = EIO, .writeError = EIO};
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  constexpr auto writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  FileFacts facts;
  facts.exists = fs::exists(status);
  facts.folder = fs::is_directory(status);
  facts.writeProtected = facts.exists && (status.permissions() & writable) == fs::perms::none;
  facts.parentMissing = !fs::is_directory(fs::path(path).parent_path(), error);
  return facts;
}

void Scenario::prepare(const SessionConfig& config, int index) {
  config_ = config;
  previousName_ = fileName_;
  yesLeft_ = config.verifyYes;
  accepted_ = 0;
  choice_ = makeFile(index);
}

StartExpectation Scenario::expectStart() {
  using R = StartResult;
  if (config_.oddity == Oddity::NoPort)
    return refused(R::Failed, Failure{.kind = FailureKind::NoPort});
  if (config_.oddity == Oddity::DirectionOutOfRange || config_.oddity == Oddity::KindOutOfRange)
    return refused(R::OutOfRange);
  StartExpectation e;
  e.chooserAsked = !config_.repeat;
  if (e.chooserAsked) {
    if (!choice_) return refused(R::Failed, e);
    fileName_ = choice_->path;
    chosenFor_ = config_.kind;
    if (!extensionAccepted(choice_->extensionDifferent))
      return refused(R::Failed, fileFailure(FailureKind::ExtensionChanged), e);
  } else if (repeatNeedsExtensionCheck() &&
             !extensionAccepted(extensionOf(fileName_) !=
                                kindInfo(config_.kind)->defaultExtension)) {
    return refused(R::Failed, fileFailure(FailureKind::ExtensionChanged), e);
  }
  return expectFileChecks(e);
}

Answer Scenario::answer(bool atStart) {
  if (atStart) return config_.overwriteYes ? Answer::Yes : Answer::No;
  if (config_.verifyYes != allQuestionsYes && yesLeft_-- <= 0) return Answer::No;
  ++accepted_;
  return Answer::Yes;
}

// The file the chooser will hand over, made as the configuration says.
std::optional<FileChoice> Scenario::makeFile(int index) const {
  if (config_.repeat || config_.cancelChooser) return std::nullopt;
  if (config_.oddity == Oddity::UnusualFile && (config_.seed & 4) != 0) {
    // Typed without an extension, which the chooser does not count as a changed one.
    const bool read = config_.direction == Direction::ReadFromDevice;
    return FileChoice{read ? fullDisk : ownMemory, false};
  }
  const std::string defaultExtension(kindInfo(config_.kind)->defaultExtension);
  const std::string extension[] = {defaultExtension, "bin", "BiN", "txt"};
  const std::string& chosen = extension[static_cast<int>(config_.name)];
  const fs::path path = dir_ / ("data" + std::to_string(index) + "." + chosen);
  std::error_code error;
  if (config_.oddity == Oddity::UnusualFile) {
    fs::create_directories(path, error);
  } else if (config_.direction == Direction::ReadFromDevice ? config_.flipExistence
                                                            : !config_.flipExistence) {
    const Bytes content = config_.direction == Direction::ReadFromDevice
                              ? Bytes(staleTargetSize, staleTargetByte)
                              : fileContent(config_);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    if (config_.readOnly)
      fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                      error);
  }
  return FileChoice{path.string(), lowercase(chosen) != defaultExtension};
}

// A name whose extension is not the kind's is refused, but a user-data image as ".bin".
bool Scenario::extensionAccepted(bool extensionDifferent) const {
  return !extensionDifferent ||
         (config_.kind == DataKind::UserData && extensionOf(fileName_) == "bin");
}

// A write repeated into another kind than the one its file was chosen for.
bool Scenario::repeatNeedsExtensionCheck() const {
  return config_.direction == Direction::WriteToDevice && chosenFor_ && *chosenFor_ != config_.kind;
}

// A write's or a verification's file must exist and be a file; a read's target is asked about
// when it exists, must not be write-protected, and must be a file or a device, or be created.
StartExpectation Scenario::expectFileChecks(StartExpectation e) const {
  using R = StartResult;
  const FileFacts facts = factsOf(fileName_);
  if (config_.direction != Direction::ReadFromDevice) {
    if (!facts.exists) return refused(R::Declined, fileFailure(FailureKind::FileMissing), e);
    if (facts.folder || facts.device) return refused(R::Failed, openFailure(0), e);
    return e;
  }
  e.overwriteAsked = facts.exists;
  if (facts.exists && !config_.overwriteYes)
    return refused(R::Declined, e, SessionOutcome::Declined);
  if (facts.writeProtected)
    return refused(R::Failed, fileFailure(FailureKind::WriteAccessDenied), e);
  if (facts.folder) return refused(R::Failed, openFailure(0), e);
  if (!facts.exists && facts.parentMissing) return refused(R::Failed, openFailure(ENOENT), e);
  return e;
}

Failure Scenario::fileFailure(FailureKind kind) const {
  return Failure{.kind = kind, .path = fileName_};
}

// A refusal to open has the OS's number, or 0 where the data file refuses what it opened.
Failure Scenario::openFailure(int error) const {
  Failure f = fileFailure(FailureKind::FileOpen);
  f.error.number = error;
  return f;
}

}  // namespace morva::fuzz
