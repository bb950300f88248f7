#include "ostrand_runner.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <thread>
#include <sstream>

extern char** environ;

namespace cli_test {

namespace fs = std::filesystem;

fs::path OstrandTest::suiteFolder_;
std::string OstrandTest::module_;

void OstrandTest::SetUpTestSuite() {
  suiteFolder_ = fs::temp_directory_path() / ("ostrand-cli-" + std::to_string(::getpid()));
  fs::create_directories(suiteFolder_ / "module");
  module_ = (suiteFolder_ / "module" / "libOstrand64.so").string();
  fs::copy_file(OSTRAND_MODULE_PATH, module_, fs::copy_options::overwrite_existing);
}

void OstrandTest::TearDownTestSuite() {
  std::error_code ignored;
  fs::remove_all(suiteFolder_, ignored);
}

void OstrandTest::SetUp() {
  root_ = suiteFolder_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(root_);
  fs::create_directories(root_);
}

void OstrandTest::TearDown() {
  if (HasFailure()) return;  // kept for a look; the suite's folder goes at its end
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

Outcome OstrandTest::ostrand(const std::vector<std::string>& arguments) const {
  std::vector<std::string> all = {"--module", module_};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return ostrandBare(all);
}

namespace {

// Starts the program with the given standard output (an open descriptor, or
// -1 for the file outPath), standard error into errPath, in folder; returns
// its process id, or 0 when it cannot start.
pid_t Start(std::vector<std::string> words, int outFd, const fs::path& outPath, const fs::path& errPath,
            const fs::path& folder) {
  words.insert(words.begin(), OSTRAND_CLI_PATH);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) ADD_FAILURE() << "cannot start " << argv[0];
  return spawned == 0 ? pid : 0;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  if (pid == 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The exit status, or -1 with the program killed once the time is up.
int ExitStatusWithin(pid_t pid, std::chrono::milliseconds limit, bool* timedOut) {
  *timedOut = false;
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (pid != 0) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() >= end) {
      *timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

Outcome OstrandTest::ostrandBare(const std::vector<std::string>& arguments) const {
  // Standard output and error go to files outside root_, so they never count
  // as something the program wrote.
  const fs::path out = suiteFolder_ / "stdout.txt", err = suiteFolder_ / "stderr.txt";
  Outcome outcome;
  outcome.status = ExitStatus(Start(arguments, -1, out, err, root_));
  outcome.out = ReadAll(out);
  outcome.err = ReadAll(err);
  return outcome;
}

Outcome OstrandTest::ostrandWithin(std::chrono::milliseconds limit, const std::vector<std::string>& arguments) const {
  std::vector<std::string> all = {"--module", module_};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const fs::path out = suiteFolder_ / "stdout.txt", err = suiteFolder_ / "stderr.txt";
  Outcome outcome;
  bool timedOut = false;
  outcome.status = ExitStatusWithin(Start(all, -1, out, err, root_), limit, &timedOut);
  outcome.out = ReadAll(out);
  outcome.err = ReadAll(err) + (timedOut ? "(killed: still running after " + std::to_string(limit.count()) + " ms)\n" : "");
  return outcome;
}

Outcome OstrandTest::ostrandOnTerminal(const std::vector<std::string>& arguments) const {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return {};
  }
  std::vector<std::string> all = {"--module", module_};
  all.insert(all.end(), arguments.begin(), arguments.end());
  const fs::path err = suiteFolder_ / "stderr.txt";
  const pid_t pid = Start(all, slave, "", err, root_);
  ::close(slave);
  // Read until the program's end closes the terminal (EIO), so it never blocks on a full one.
  Outcome outcome;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) outcome.out.append(buffer, size_t(n));
  ::close(master);
  outcome.status = ExitStatus(pid);
  outcome.err = ReadAll(err);
  return outcome;
}

OstrandTest::Running OstrandTest::ostrandStart(const std::vector<std::string>& arguments, const std::string& tag) const {
  std::vector<std::string> all = {"--module", module_};
  all.insert(all.end(), arguments.begin(), arguments.end());
  Running running{0, suiteFolder_ / ("stdout-" + tag + ".txt"), suiteFolder_ / ("stderr-" + tag + ".txt")};
  running.pid = Start(all, -1, running.out, running.err, root_);
  return running;
}

Outcome OstrandTest::finish(const Running& running) {
  Outcome outcome;
  outcome.status = ExitStatus(running.pid);
  outcome.out = ReadAll(running.out);
  outcome.err = ReadAll(running.err);
  return outcome;
}

std::string OstrandTest::example(const std::string& name) {
  return std::string(OSTRAND_SOURCE_DIR) + "/examples/" + name;
}

void OstrandTest::write(const std::string& relative, const std::string& text) const {
  fs::create_directories((root_ / relative).parent_path());
  std::ofstream(root_ / relative, std::ios::binary) << text;
}

std::string OstrandTest::read(const std::string& relative) const { return ReadAll(root_ / relative); }

std::set<std::string> OstrandTest::files() const {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root_))
    found.insert(fs::relative(entry.path(), root_).string() + (entry.is_directory() ? "/" : ""));
  return found;
}

ObjMesh ReadObjMesh(const std::string& path) {
  ObjMesh mesh;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    if (keyword == "v") {
      auto& p = mesh.points.emplace_back();
      words >> p[0] >> p[1] >> p[2];
    } else if (keyword == "f") {
      auto& polygon = mesh.polygons.emplace_back();
      std::string corner;
      while (words >> corner) polygon.push_back(std::stoi(corner) - 1);  // "7/3/2" reads as 7
    } else if (!keyword.empty() && keyword[0] != '#') {
      ADD_FAILURE() << path << ": unexpected line " << line;
    }
  }
  return mesh;
}

double Distance(const std::array<double, 3>& a, const std::array<double, 3>& b) {
  return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

double Diagonal(const std::vector<std::array<double, 3>>& points) {
  std::array<double, 3> low = points.at(0), high = points.at(0);
  for (const auto& p : points)
    for (int k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], p[k]);
      high[k] = std::max(high[k], p[k]);
    }
  return Distance(low, high);
}

}  // namespace cli_test
