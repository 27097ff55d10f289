// The fuzz harness's scenario: what each session of an input is asked to do. Its data file,
// made in the working folder as the configuration says, the chooser's answer, the operator's
// answers to the questions, and what the start must conclude from all that.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "fuzz/device_reply.h"
#include "fuzz/input_format.h"
#include "tests/support/recording_operator.h"
#include "transfer/engine.h"
#include "transfer/failure.h"

namespace morva::fuzz {

// The device files a session may be handed: a disk that is always full, and the harness's own
// memory, which has nothing at offset 0 to read or write.
inline constexpr const char* fullDisk = "/dev/full";
inline constexpr const char* ownMemory = "/proc/self/mem";

// A file's whole content and its size as the harness reads them; empty and 0 where the path
// names no file with a length.
Bytes readWholeFile(const std::string& path);
std::uintmax_t sizeOf(const std::string& path);

// The data file's length the configuration asks for.
std::size_t fileSize(const SessionConfig& config);

// What the OS does with a data file a session may be handed.
struct FileFacts {
  bool exists = false;
  bool folder = false;
  bool device = false;  // a character device: no file to read from
  bool writeProtected = false;
  bool parentMissing = false;  // no folder to create it in
  int readError = 0;           // what every read of a block fails with; 0: reads work
  int writeError = 0;          // the same for writes
};
FileFacts factsOf(const std::string& path);

// How a session start must end: what it returns, the outcome and the failure it records, and
// whom it asks.
struct StartExpectation {
  StartResult result = StartResult::Started;
  SessionOutcome outcome = SessionOutcome::Running;
  std::optional<Failure> failure;
  bool chooserAsked = false;
  bool overwriteAsked = false;
};

// The sessions of one input as the operator asks for them. It keeps the name the sessions hold
// from one to the next, as the program does.
class Scenario {
 public:
  explicit Scenario(std::filesystem::path dir) : dir_(std::move(dir)) {}

  // Begins session `index`: makes its data file; the chooser's answer is choice().
  void prepare(const SessionConfig& config, int index);
  const SessionConfig& config() const { return config_; }
  const std::optional<FileChoice>& choice() const { return choice_; }
  const std::string& previousName() const { return previousName_; }
  // The data file's name once the start has taken the chooser's answer.
  const std::string& fileName() const { return fileName_; }
  unsigned differencesAccepted() const { return accepted_; }

  // What the start must conclude from the port, the names, the files and the operator's
  // answers (a refused WakeUp is the device's part). Once for each session, before its start.
  StartExpectation expectStart();

  // At the start the question is whether to overwrite; during a step, whether to go on after
  // a difference.
  Answer answer(bool atStart);

 private:
  std::optional<FileChoice> makeFile(int index) const;
  bool extensionAccepted(bool extensionDifferent) const;
  bool repeatNeedsExtensionCheck() const;
  StartExpectation expectFileChecks(StartExpectation e) const;
  Failure fileFailure(FailureKind kind) const;
  Failure openFailure(int error) const;

  std::filesystem::path dir_;
  SessionConfig config_;
  std::optional<FileChoice> choice_;
  std::string fileName_, previousName_;
  std::optional<DataKind> chosenFor_;  // the kind the chooser last gave a file for
  int yesLeft_ = 0;
  unsigned accepted_ = 0;
};

// The recording operator, answering questions as the scenario says.
class ScriptedOperator : public testing::RecordingOperator {
 public:
  explicit ScriptedOperator(std::function<Answer(const Message&)> decide)
      : decide_(std::move(decide)) {}
  Answer showMessage(const Message& message) override {
    const Answer answer = decide_(message);
    if (message.buttons == Buttons::YesNo) answers.push_back(answer);
    return RecordingOperator::showMessage(message);
  }

 private:
  std::function<Answer(const Message&)> decide_;
};

}  // namespace morva::fuzz
