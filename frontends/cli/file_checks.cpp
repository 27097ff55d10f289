#include "frontends/cli/file_checks.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "transfer/engine.h"

namespace morva::cli {
namespace {

bool keepsACopy(PathKind kind) {
  return kind == PathKind::Regular || kind == PathKind::Missing;
}

bool isOwnOutput(const std::string& path, Environment& env) {
  const std::optional<FileIdentity> identity = env.files.inspect(path).identity;
  return identity &&
         std::find(env.ownOutputs.begin(), env.ownOutputs.end(), *identity) != env.ownOutputs.end();
}

}  // namespace

std::vector<std::string> RunFiles::targets() const {
  std::vector<std::string> files;
  if (direction == Direction::ReadFromDevice) files.push_back(file);
  if (!backup.empty()) files.push_back(backup);
  return files;
}

int checkFilesFirst(const RunFiles& files, Environment& env, SessionState& state,
                    TerminalOperator& op) {
  if (files.direction != Direction::ReadFromDevice) {
    state.direction = files.direction;
    state.dataKind = files.kind;
    op.setFile(files.file);
    if (checkSourceFile(state, op) != StartResult::Started) return exitNotStarted;
  }
  if (!files.backup.empty() && sameFile(env.files, files.backup, files.file)) {
    env.err << "morva-cli: --backup " << files.backup << " names the file to write, " << files.file
            << ": reading the device into it would destroy that image. Nothing was read or "
               "written.\n";
    return exitNotStarted;
  }
  if (!files.backup.empty() && !keepsACopy(env.files.inspect(files.backup).kind)) {
    env.err << "morva-cli: --backup " << files.backup
            << " is not a file: a device or a pipe keeps no copy of what the Vk350 holds. "
               "Nothing was read or written.\n";
    return exitNotStarted;
  }
  for (const std::string& target : files.targets()) {
    if (!isOwnOutput(target, env)) continue;
    env.err << "morva-cli: " << target
            << " is where this program's own output goes (standard output or error): the "
               "device's blocks and the messages would mix in it. Nothing was read or "
               "written.\n";
    return exitNotStarted;
  }
  return exitComplete;
}

int checkTargetsAgainst(const std::vector<std::string>& memories, const RunFiles& files,
                        Environment& env) {
  for (const std::string& memory : memories) {
    for (const std::string& target : files.targets()) {
      if (!sameFile(env.files, target, memory)) continue;
      env.err << "morva-cli: " << target << " is where the simulated Vk350 keeps its memory, "
              << "which it saves over that file as the run ends. Nothing was read or written.\n";
      return exitNotStarted;
    }
  }
  return exitComplete;
}

void addUses(std::vector<FileUse>& uses, const RunFiles& files, int owner,
             const std::string& port) {
  const bool named = !port.empty();
  const bool reading = files.direction == Direction::ReadFromDevice;
  std::string role = reading ? named ? "the file " + port + " is read into" : "the file read into"
                     : files.direction == Direction::Verify ? "the file compared"
                                                            : "the file sent";
  if (!reading && named) role += (files.direction == Direction::Verify ? " with " : " to ") + port;
  uses.push_back({files.file, role, reading, owner});
  if (!files.backup.empty())
    uses.push_back({files.backup, named ? "the backup of " + port : "the backup", true, owner});
}

void addSharedUses(std::vector<FileUse>& uses, const std::string& log,
                   const std::vector<std::string>& memories) {
  if (!log.empty()) uses.push_back({log, "the log", true});
  for (const std::string& memory : memories)
    uses.push_back({memory, "where a simulated Vk350 keeps its memory", true});
}

int checkUsesApart(const std::vector<FileUse>& uses, Environment& env) {
  for (std::size_t i = 0; i < uses.size(); ++i) {
    for (std::size_t j = i + 1; j < uses.size(); ++j) {
      const FileUse &a = uses[i], &b = uses[j];
      if (!a.written && !b.written) continue;
      if (a.owner >= 0 && a.owner == b.owner) continue;
      if (!sameFile(env.files, a.path, b.path)) continue;
      const FileUse& written = a.written ? a : b;
      const FileUse& other = a.written ? b : a;
      env.err << "morva-cli: " << written.path << " is " << written.role << " and also "
              << other.role << " (" << other.path
              << "): writing into it would destroy the other. Nothing was read or written.\n";
      return exitNotStarted;
    }
  }
  return exitComplete;
}

bool sameFile(FileService& service, const std::string& a, const std::string& b) {
  const PathInfo first = service.inspect(a), second = service.inspect(b);
  if (first.identity && second.identity) return first.identity == second.identity;
  std::error_code error, otherError;
  const auto resolvedA = std::filesystem::weakly_canonical(a, error);
  const auto resolvedB = std::filesystem::weakly_canonical(b, otherError);
  return !error && !otherError && resolvedA == resolvedB;
}

}  // namespace morva::cli
