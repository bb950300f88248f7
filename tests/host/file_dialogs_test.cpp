// The dialog suppliers, found the way the module finds them: by name in the
// running program.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "host_test_support.h"
#include "ostrand/file_dialog.h"

namespace {

using host::Host;

FileDialogFn Supplier(const char* name) { return reinterpret_cast<FileDialogFn>(dlsym(RTLD_DEFAULT, name)); }

struct Request {
  OstrandOpenFileName record{};
  char file[32] = "start.txt";
  explicit Request(const char* defaultExtension, uint32_t size = 32) {
    record.lStructSize = sizeof record;
    record.lpstrFilter = "Weights (*.ocw)\0*.ocw\0All files\0*.*\0";
    record.nFilterIndex = 1;
    record.lpstrFile = file;
    record.nMaxFile = size;
    record.lpstrDefExt = defaultExtension;
  }
};

class FileDialogs : public ::testing::Test {
 protected:
  Host host;
  FileDialogFn save = Supplier("GetSaveFileNameA");
  FileDialogFn open = Supplier("GetOpenFileNameA");
};

TEST_F(FileDialogs, ProgramExportsBothSuppliers) {
  EXPECT_NE(save, nullptr);
  EXPECT_NE(open, nullptr);
}

TEST_F(FileDialogs, AnswersInOrderAndRecordsRequests) {
  ASSERT_NE(save, nullptr);
  host.dialogs().answers = {"/data/w.ocw", std::nullopt};
  Request first("ocw");
  EXPECT_EQ(open(&first.record), 1);
  EXPECT_STREQ(first.file, "/data/w.ocw");
  Request second("ocw");
  EXPECT_EQ(save(&second.record), 0);  // cancelled
  Request third("ocw");
  EXPECT_EQ(save(&third.record), 0);  // no answer left
  EXPECT_STREQ(third.file, "start.txt");

  const auto& requests = host.dialogs().requests;
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_FALSE(requests[0].save);
  EXPECT_TRUE(requests[1].save);
  EXPECT_EQ(requests[0].structSize, 152u);
  EXPECT_EQ(requests[0].filter, (std::vector<std::string>{"Weights (*.ocw)", "*.ocw", "All files", "*.*"}));
  EXPECT_EQ(requests[0].initialFile, "start.txt");
  EXPECT_EQ(requests[0].maxFile, 32u);
  EXPECT_EQ(requests[0].defExt, "ocw");
  EXPECT_TRUE(requests[0].ownerNull && requests[0].titleNull && requests[0].initialDirNull);
}

TEST_F(FileDialogs, SaveAppendsTheDefaultExtensionToANameWithoutOne) {
  host.dialogs().answers = {"/data.d/weights", "/data/weights.bin", "/data/weights", "/data/weights"};
  Request plain("ocw");
  EXPECT_EQ(save(&plain.record), 1);
  EXPECT_STREQ(plain.file, "/data.d/weights.ocw");  // a dot in a directory does not count
  Request withExtension("ocw");
  save(&withExtension.record);
  EXPECT_STREQ(withExtension.file, "/data/weights.bin");
  Request noDefault(nullptr);
  save(&noDefault.record);
  EXPECT_STREQ(noDefault.file, "/data/weights");
  Request opening("ocw");
  open(&opening.record);
  EXPECT_STREQ(opening.file, "/data/weights");
}

TEST_F(FileDialogs, PathTooLongForTheBufferFails) {
  host.dialogs().answers = {"/exactly/fits", "/exactly/fitsX", "/data/weights"};
  Request fits("", 14);
  EXPECT_EQ(open(&fits.record), 1);
  EXPECT_STREQ(fits.file, "/exactly/fits");
  Request tooLong("", 14);
  EXPECT_EQ(open(&tooLong.record), 0);
  EXPECT_STREQ(tooLong.file, "start.txt");
  Request extended("ocw", 16);  // "/data/weights" fits, "/data/weights.ocw" does not
  EXPECT_EQ(save(&extended.record), 0);
  EXPECT_EQ(save(nullptr), 0);
}

TEST(FileDialogsWithoutHost, Fail) {
  FileDialogFn save = Supplier("GetSaveFileNameA");
  ASSERT_NE(save, nullptr);
  Request request("ocw");
  EXPECT_EQ(save(&request.record), 0);
}

}  // namespace
