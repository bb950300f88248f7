// What a run killed outright leaves, at each step of putting its files in
// place, is put back by the next run into the folder: the folder then holds
// exactly what it held before the killed run.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "cli/leftovers.h"
#include "cli/output_files.h"
#include "driver/user_error.h"
#include "support/file_size_limit.h"

namespace {

namespace fs = std::filesystem;
using Content = std::map<std::string, std::string>;

using test_support::FileSizeLimit;

class Leftovers : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("ostrand-leftovers-" + std::to_string(std::random_device{}()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const fs::path& path, const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
  Content content(const fs::path& folder) const {
    Content found;
    for (const auto& entry : fs::directory_iterator(folder)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      found[entry.path().filename().string()] = entry.is_directory() ? "/" : text.str();
    }
    return found;
  }
  fs::path root_;
};

// A run replacing weights.cw and scene.json and adding a new frame, killed
// after each step of the protocol in turn.
TEST_F(Leftovers, AJournalPutsBackEveryOutputWhereverTheRunWasKilled) {
  const fs::path out = root_ / "out";
  const std::vector<std::string> names = {"weights.cw", "scene.json", "frame.obj"};
  for (size_t steps = 0; steps <= 2 * names.size(); ++steps) {
    SCOPED_TRACE(std::to_string(steps) + " steps done");
    fs::remove_all(out);
    fs::create_directories(out);
    write(out / "weights.cw", "old weights");
    write(out / "scene.json", "old scene");
    write(out / "notes.txt", "the user's");
    const Content before = content(out);
    std::vector<cli::JournalEntry> entries;
    for (const std::string& name : names) entries.push_back({out / name, fs::exists(out / name)});
    cli::WriteJournal(out / cli::kJournalName, entries, {});
    // The steps: each file's earlier one put aside, then the new one in place.
    for (size_t step = 0; step < steps; ++step) {
      const fs::path path = out / names[step / 2];
      if (step % 2 == 0) {
        write(cli::TemporaryName(path), "new");
        if (fs::exists(path)) fs::rename(path, cli::BackupName(path));
      } else {
        fs::rename(cli::TemporaryName(path), path);
      }
    }
    write(cli::TemporaryName(out / "frame.obj").string() + ".tmp", "a writer's own temporary");
    const std::vector<std::string> told = cli::RecoverLeftovers(out);
    EXPECT_EQ(content(out), before);
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told[0].find("a run that was killed while putting its files in place"), std::string::npos) << told[0];
  }
}

TEST_F(Leftovers, WithoutAJournalTheFilesInPlaceAreFinalAndWhatWasPutAsideGoes) {
  write(root_ / "weights.cw", "new");
  write(cli::BackupName(root_ / "weights.cw"), "old");
  write(cli::BackupName(root_ / "alone.obj"), "put aside, nothing in its place");
  write(cli::TemporaryName(root_ / "scene.json"), "half");
  fs::create_directories(cli::TemporaryName(root_ / "folder.png"));  // not the command's: stays
  const std::vector<std::string> told = cli::RecoverLeftovers(root_);
  EXPECT_EQ(content(root_), (Content{{"weights.cw", "new"},
                                     {"alone.obj", "put aside, nothing in its place"},
                                     {".folder.png.ostrand-partial", "/"}}));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], root_.string() + ": cleaned up after a run that was killed: 1 unfinished file removed; 1 "
                                      "replaced file kept aside removed; 1 file put aside renamed back");
  EXPECT_TRUE(cli::RecoverLeftovers(root_).empty());  // nothing more to do
}

TEST_F(Leftovers, AJournalReadsBackAnyNameAndRefusesADamagedOne) {
  const std::vector<cli::JournalEntry> entries = {{root_ / "with space.obj", true},
                                                  {root_ / "line\nbreak.obj", false}};
  const std::vector<fs::path> made = {root_ / "made"};
  cli::WriteJournal(root_ / "journal", entries, made);
  std::vector<cli::JournalEntry> read;
  std::vector<fs::path> readMade;
  ASSERT_TRUE(cli::ReadJournal(root_ / "journal", read, readMade));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].path, entries[1].path);
  EXPECT_FALSE(read[1].existed);
  EXPECT_EQ(readMade, made);
  write(root_ / "journal", "ostrand journal 1\noutput 1 999 /short\n");
  EXPECT_FALSE(cli::ReadJournal(root_ / "journal", read, readMade));
}

// A journal that cannot be written, or not put in place, leaves the file under
// its name as it was and no temporary for the next run to take for a killed
// run's. A failed write names the temporary (see WriteJournal).
TEST_F(Leftovers, AJournalThatCannotBeWrittenLeavesNothingBehind) {
  const std::vector<cli::JournalEntry> entries = {{root_ / "weights.cw", true}};
  const fs::path journal = root_ / "journal";
  write(journal, "earlier");
  try {
    FileSizeLimit limit(4);
    cli::WriteJournal(journal, entries, {});
    ADD_FAILURE() << "wrote past the file size limit";
  } catch (const driver::UserError& e) {
    EXPECT_EQ(e.subject(), cli::TemporaryName(journal).string());
    EXPECT_EQ(e.problem(), std::string("cannot be written: ") + std::strerror(EFBIG));
  }
  const fs::path folder = root_ / "folder";
  fs::create_directories(folder / "inside");
  try {
    cli::WriteJournal(folder, entries, {});
    ADD_FAILURE() << "wrote a journal over a folder";
  } catch (const driver::UserError& e) {
    EXPECT_EQ(e.subject(), folder.string());
    EXPECT_EQ(e.problem(), std::string("cannot be written: ") + std::strerror(EISDIR));
  }
  EXPECT_EQ(content(root_), (Content{{"journal", "earlier"}, {"folder", "/"}}));
}

}  // namespace
