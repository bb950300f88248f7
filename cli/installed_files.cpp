#include "cli/installed_files.h"

#include <filesystem>
#include <system_error>

namespace cli {

namespace fs = std::filesystem;

namespace {

// programFolder/relative, lexically normalised, when something is there;
// otherwise builtIn.
std::string InstalledOr(const std::string& programFolder, const std::string& relative, const std::string& builtIn) {
  if (programFolder.empty()) return builtIn;
  const fs::path installed = (fs::path(programFolder) / relative).lexically_normal();
  std::error_code error;
  return fs::exists(installed, error) ? installed.string() : builtIn;
}

}  // namespace

std::string ProgramFolder() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.parent_path().string();
}

std::string DefaultModule(const std::string& programFolder, const std::string& builtModule) {
  return InstalledOr(programFolder, "../lib/ostrand/libOstrand64.so", builtModule);
}

std::string ExampleFolder(const std::string& programFolder, const std::string& sourceFolder) {
  return InstalledOr(programFolder, "../share/ostrand/examples", sourceFolder + "/examples");
}

}  // namespace cli
