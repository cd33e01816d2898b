// The real pickers, shown over a window and operated from a helper thread as a user would.

#include <gtest/gtest.h>
#include <windows.h>
// The controls' headers build on windows.h.
#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "modBrowseDir.h"
#include "program.h"

namespace sectorsieve::shell {
namespace {

using app::ComApartment;

using sectorsieve::testing::Click;
using sectorsieve::testing::FileTypes;
using sectorsieve::testing::FindControl;
using sectorsieve::testing::ListedItems;
using sectorsieve::testing::OwnerWindow;
using sectorsieve::testing::SaveScreenshot;
using sectorsieve::testing::SelectListItem;
using sectorsieve::testing::SelectTreePath;
using sectorsieve::testing::TypeFileName;
using sectorsieve::testing::WindowText;
using sectorsieve::testing::WithDialog;

const std::string kFileTitle = "Select a .img to extract";
const std::string kFolderTitle = "Select a destination folder";
const std::string kPickRoot = "C:\\ss-pick";
// A folder whose path leaves room for a file name of 42 bytes within the 254 that fit.
const std::string kDeepFolder = kPickRoot + "\\" + std::string(200, 'd');

// Tree items from the top of the folder picker down to drive C: and to My Computer.
const std::vector<std::string> kDriveC = {"Desktop", "My Computer", "(C:)"};
const std::vector<std::string> kMyComputer = {"Desktop", "My Computer"};
std::vector<std::string> Below(std::vector<std::string> labels, const std::string& label) {
  labels.push_back(label);
  return labels;
}

void MakeFile(const std::string& path) { std::ofstream(path, std::ios::binary) << "sectors"; }

// Folders and files on the prefix's drive C: that the tests choose from.
class Pickers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Wine makes its drives known as it starts, and the picker lists only the drives known
    // when it fills My Computer.
    for (int poll = 0; poll < 200 && !(::GetLogicalDrives() & (1u << ('C' - 'A'))); ++poll)
      ::Sleep(50);
    for (const std::string& folder : {kPickRoot, kPickRoot + "\\inner", kDeepFolder})
      ::CreateDirectoryA(folder.c_str(), nullptr);
    MakeFile(kPickRoot + "\\sample.img");
    MakeFile(kPickRoot + "\\notes.txt");
  }

  // Shows the open-file dialog while drive operates it; drive gets nullptr unless the dialog
  // appeared over the owner window.
  template <typename Drive>
  std::string OpenFile(Drive drive, const std::string& title = kFileTitle,
                       const std::string& filter = "*.img") {
    return WithDialog(
        owner_.get(), [&] { return BrowseForFile(title, filter, owner_.get()); }, drive);
  }

  template <typename Drive>
  std::string PickFolder(Drive drive, const std::string& title = kFolderTitle) {
    return WithDialog(
        owner_.get(), [&] { return BrowseForFolder(title, owner_.get()); }, drive);
  }

  ComApartment com_;
  OwnerWindow owner_;
};

// Types a name into the file-name box and presses Open.
auto TypeAndOpen(const std::string& typed, bool* appeared) {
  return [typed, appeared](HWND dialog) {
    *appeared = dialog != nullptr;
    if (!dialog) return;
    TypeFileName(dialog, typed);
    Click(::GetDlgItem(dialog, IDOK));
  };
}

auto Cancel(bool* appeared) {
  return [appeared](HWND dialog) {
    *appeared = dialog != nullptr;
    if (dialog) Click(::GetDlgItem(dialog, IDCANCEL));
  };
}

// Walks the folder tree to labels and presses OK.
auto SelectAndConfirm(const std::vector<std::string>& labels, bool* selected) {
  return [labels, selected](HWND dialog) {
    *selected = dialog && SelectTreePath(dialog, labels);
    if (dialog) Click(::GetDlgItem(dialog, *selected ? IDOK : IDCANCEL));
  };
}

struct TypedCase {
  std::string typed;
  std::string result;
};

void PrintTo(const TypedCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.typed); }

class OpenFileDialogTyped : public Pickers, public ::testing::WithParamInterface<TypedCase> {};

TEST_P(OpenFileDialogTyped, ReturnsThePathThatFitsAndNothingElse) {
  bool appeared = false;
  const std::string result = OpenFile(TypeAndOpen(GetParam().typed, &appeared));

  ASSERT_TRUE(appeared);
  EXPECT_EQ(result, GetParam().result);
}

// The file-name part that makes a path in kDeepFolder exactly length bytes long.
std::string DeepPath(std::size_t length) {
  const std::string folder = kDeepFolder + "\\";
  return folder + std::string(length - folder.size() - 4, 'f') + ".img";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OpenFileDialogTyped,
    ::testing::Values(TypedCase{kPickRoot + "\\sample.img", kPickRoot + "\\sample.img"},
                      TypedCase{kPickRoot + "\\two words.img", kPickRoot + "\\two words.img"},
                      // Nothing asks the dialog for an existing file; the caller checks.
                      TypedCase{kPickRoot + "\\missing.img", kPickRoot + "\\missing.img"},
                      TypedCase{DeepPath(254), DeepPath(254)}, TypedCase{DeepPath(255), ""}));

TEST_F(Pickers, OpenFileCancelledGivesEmptyText) {
  bool appeared = false;
  const std::string result = OpenFile(Cancel(&appeared));

  ASSERT_TRUE(appeared);
  EXPECT_EQ(result, "");
}

TEST_F(Pickers, OpenFileShowsTitleAndOneFileTypeOverTheOwner) {
  HWND shown = nullptr;
  std::string caption;
  std::vector<std::string> types;
  std::string chosenType;
  std::vector<std::string> listed;
  bool saved[2] = {};
  OpenFile([&](HWND dialog) {
    shown = dialog;
    if (!dialog) return;
    saved[0] = SaveScreenshot(dialog, "open-file-dialog-opened");
    caption = WindowText(dialog);
    types = FileTypes(dialog);
    chosenType = WindowText(::GetDlgItem(dialog, cmb1));
    // Opening a folder's path shows that folder's contents through the file-type filter.
    TypeFileName(dialog, kPickRoot);
    // Sent, not posted: the dialog shows the folder before the click returns.
    ::SendMessageA(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    listed = ListedItems(dialog);
    saved[1] = SaveScreenshot(dialog, "open-file-dialog");
    Click(::GetDlgItem(dialog, IDCANCEL));
  });

  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(caption, kFileTitle);
  EXPECT_EQ(types, std::vector<std::string>{"(*.img)"});
  EXPECT_EQ(chosenType, "(*.img)");
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{std::string(200, 'd'), "inner", "sample.img"}));
  EXPECT_TRUE(saved[0] && saved[1]);
}

TEST_F(Pickers, OpenFileReturnsTheFileSelectedInTheList) {
  bool selected = false;
  const std::string result = OpenFile([&](HWND dialog) {
    if (!dialog) return;
    TypeFileName(dialog, kPickRoot);
    ::SendMessageA(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    selected = SelectListItem(dialog, "sample.img");
    Click(::GetDlgItem(dialog, selected ? IDOK : IDCANCEL));
  });

  ASSERT_TRUE(selected);
  EXPECT_EQ(result, kPickRoot + "\\sample.img");
}

TEST_F(Pickers, OpenFileStartsInTheProgramFolderOnEveryCall) {
  // A bare name is taken in the folder the dialog starts in; the current folder lies elsewhere.
  char started[MAX_PATH] = {};
  ::GetCurrentDirectoryA(sizeof started, started);
  const scope_exit restore([&] { ::SetCurrentDirectoryA(started); });
  ASSERT_TRUE(::SetCurrentDirectoryA(kPickRoot.c_str()));
  const std::string expected = ExecutableFolder() + "\\fresh.img";
  bool appeared[3] = {};

  const std::string first = OpenFile(TypeAndOpen("fresh.img", &appeared[0]));
  const std::string elsewhere = OpenFile(TypeAndOpen("C:\\ss-pick\\inner\\x.img", &appeared[1]));
  const std::string again = OpenFile(TypeAndOpen("fresh.img", &appeared[2]));

  ASSERT_TRUE(appeared[0] && appeared[1] && appeared[2]);
  EXPECT_EQ(first, expected);
  EXPECT_EQ(elsewhere, "C:\\ss-pick\\inner\\x.img");
  EXPECT_EQ(again, expected);
}

TEST_F(Pickers, OpenFileLeavesTheCallersTextsAlone) {
  const std::string title = kFileTitle;
  const std::string filter = "*.img";
  bool appeared = false;

  OpenFile(TypeAndOpen(kPickRoot + "\\sample.img", &appeared), title, filter);

  ASSERT_TRUE(appeared);
  EXPECT_EQ(title, "Select a .img to extract");
  EXPECT_EQ(filter, "*.img");
}

struct FolderCase {
  std::vector<std::string> labels;
  std::string result;
};

void PrintTo(const FolderCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.labels); }

class FolderPickerChoice : public Pickers, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FolderPickerChoice, ReturnsTheFolderAsThePlatformWritesIt) {
  bool selected = false;
  const std::string result = PickFolder(SelectAndConfirm(GetParam().labels, &selected));

  ASSERT_TRUE(selected);
  EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderPickerChoice,
    ::testing::Values(FolderCase{Below(Below(kDriveC, "ss-pick"), "inner"), "C:\\ss-pick\\inner"},
                      FolderCase{Below(kDriveC, "ss-pick"), "C:\\ss-pick"},
                      // A drive's root is the one folder the platform writes with its "\".
                      FolderCase{kDriveC, "C:\\"}));

TEST_F(Pickers, FolderPickerCancelledGivesEmptyText) {
  bool appeared = false;
  const std::string result = PickFolder(Cancel(&appeared));

  ASSERT_TRUE(appeared);
  EXPECT_EQ(result, "");
}

TEST_F(Pickers, FolderPickerShowsTitleAboveTheTreeOverTheOwner) {
  bool titled = false;
  bool selected = false;
  bool saved = false;
  const std::string result = PickFolder([&](HWND dialog) {
    if (!dialog) return;
    titled = FindControl(dialog, "Static", kFolderTitle) != nullptr;
    selected = SelectTreePath(dialog, Below(Below(kDriveC, "ss-pick"), "inner"));
    saved = SaveScreenshot(dialog, "folder-picker");
    Click(::GetDlgItem(dialog, IDCANCEL));
  });

  EXPECT_TRUE(titled);
  EXPECT_TRUE(selected);
  EXPECT_TRUE(saved);
  EXPECT_EQ(result, "") << "cancelled after a selection";
}

TEST_F(Pickers, FolderPickerConfirmsOnlyFileSystemFolders) {
  bool selected[2] = {};
  bool confirmable[2] = {};
  PickFolder([&](HWND dialog) {
    if (!dialog) return;
    const HWND ok = ::GetDlgItem(dialog, IDOK);
    selected[0] = SelectTreePath(dialog, kMyComputer);
    confirmable[0] = ::IsWindowEnabled(ok);
    selected[1] = SelectTreePath(dialog, kDriveC);
    confirmable[1] = ::IsWindowEnabled(ok);
    Click(::GetDlgItem(dialog, IDCANCEL));
  });

  ASSERT_TRUE(selected[0] && selected[1]);
  EXPECT_FALSE(confirmable[0]) << "My Computer is no file-system folder";
  EXPECT_TRUE(confirmable[1]);
}

TEST_F(Pickers, FolderPickerLeavesTheCallersTitleAlone) {
  const std::string title = kFolderTitle;
  bool selected = false;

  PickFolder(SelectAndConfirm(kDriveC, &selected), title);

  ASSERT_TRUE(selected);
  EXPECT_EQ(title, "Select a destination folder");
}

}  // namespace
}  // namespace sectorsieve::shell
