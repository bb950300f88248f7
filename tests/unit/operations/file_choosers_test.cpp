// The save and open choosers: the request they make, what they keep of the
// answer, and cancelled or faulty dialogs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "operations/file_choosers.h"
#include "platform/file_dialog.h"
#include "support/module_fixture.h"

namespace {

using test_support::ModuleTest;

class FileChoosersTest : public ModuleTest {
 protected:
  void TearDown() override {
    ostrand::SetFileDialogsForTesting(nullptr, nullptr);
    ModuleTest::TearDown();
  }
  EffectInstance* newInstance() { return instanceOf(makeEffect({})); }
  void expectDialogMessage() {
    auto messages = host().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].effectId, 0u);
    EXPECT_EQ(messages[0].heading, "Ostrand.mp");
    EXPECT_EQ(messages[0].kind, ostrand::kMessageKindError);
    EXPECT_EQ(messages[0].text, "Weird error with file dialog!");
    EXPECT_EQ(messages[0].text2, "Error");
  }
};

TEST_F(FileChoosersTest, SaveStartsFromTheCurrentPathAndOpenFromNothing) {
  EffectInstance* instance = newInstance();
  std::strcpy(instance->WeightsPath, "/scenes/old.cw");
  host().dialogs().answers = {"/scenes/new", "/scenes/weights"};
  EXPECT_EQ(ostrand::ChooseSaveFile(instance), 1);
  EXPECT_STREQ(instance->WeightsPath, "/scenes/new.cw");  // the dialog added the default extension
  instance->WeightsPath[0] = '\0';
  EXPECT_EQ(ostrand::ChooseOpenFile(instance), 1);
  EXPECT_STREQ(instance->WeightsPath, "/scenes/weights");

  const auto& requests = host().dialogs().requests;
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].save);
  EXPECT_EQ(requests[0].initialFile, "/scenes/old.cw");
  EXPECT_EQ(requests[0].filter, (std::vector<std::string>{"Vivirirov Weights ", "*.cw", "All", "*.*"}));
  EXPECT_FALSE(requests[1].save);
  EXPECT_EQ(requests[1].initialFile, "");
  EXPECT_EQ(requests[1].flags, 0x1800u);
  EXPECT_FALSE(requests[1].hasDefExt);
  EXPECT_TRUE(host().messages().empty());
}

// Every member of the request other than those set is zero.
TEST_F(FileChoosersTest, RequestIsExactlyTheWindowsRecord) {
  static OstrandOpenFileName seen;
  static char filter[33];  // the filter list is 33 bytes
  ostrand::SetFileDialogsForTesting(
      [](OstrandOpenFileName* r) {
        seen = *r;
        std::memcpy(filter, r->lpstrFilter, sizeof filter);
        return 0;
      },
      nullptr);
  ostrand::ChooseSaveFile(newInstance());
  EXPECT_EQ(0, std::memcmp(filter, "Vivirirov Weights \0*.cw\0All\0*.*\0", sizeof filter));
  OstrandOpenFileName expected;
  std::memset(&expected, 0, sizeof expected);
  expected.lStructSize = 152;
  expected.lpstrFilter = seen.lpstrFilter;
  expected.nFilterIndex = 1;
  expected.lpstrFile = seen.lpstrFile;
  expected.nMaxFile = 1023;
  expected.Flags = 0x2002;
  expected.lpstrDefExt = seen.lpstrDefExt;
  EXPECT_EQ(0, std::memcmp(&seen, &expected, sizeof seen));
  EXPECT_STREQ(seen.lpstrDefExt, "cw");
}

TEST_F(FileChoosersTest, CancelledOrFaultyDialogKeepsThePath) {
  EffectInstance* instance = newInstance();
  std::strcpy(instance->WeightsPath, "/kept.cw");
  host().dialogs().answers.push_back(std::nullopt);
  EXPECT_EQ(ostrand::ChooseOpenFile(instance), 0);
  expectDialogMessage();
  host().clearMessages();
  EXPECT_EQ(ostrand::ChooseSaveFile(instance), 0);  // no answer left: cancelled
  expectDialogMessage();
  host().clearMessages();
  host().dialogs().answers.push_back("/" + std::string(1100, 'n'));  // longer than the buffer
  EXPECT_EQ(ostrand::ChooseOpenFile(instance), 0);
  expectDialogMessage();
  host().clearMessages();

  // A dialog that fills the whole buffer without ending the name.
  ostrand::SetFileDialogsForTesting(nullptr, [](OstrandOpenFileName* r) {
    std::memset(r->lpstrFile, 'z', r->nMaxFile);
    return 1;
  });
  EXPECT_EQ(ostrand::ChooseOpenFile(instance), 0);
  expectDialogMessage();
  EXPECT_STREQ(instance->WeightsPath, "/kept.cw");
}

TEST_F(FileChoosersTest, InitialNameIsCutToTheDialogBuffer) {
  EffectInstance* instance = newInstance();
  std::memset(instance->WeightsPath, 'p', sizeof instance->WeightsPath);  // no end at all
  EXPECT_EQ(ostrand::ChooseSaveFile(instance), 0);
  EXPECT_EQ(host().dialogs().requests.at(0).initialFile, std::string(1022, 'p'));
  EXPECT_EQ(instance->WeightsPath[sizeof instance->WeightsPath - 1], 'p');
}

}  // namespace
