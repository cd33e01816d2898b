// The requests the pickers hand to the platform, and how their results are read back.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>

#include "modBrowseDir.h"
#include "program.h"
#include "unique_handle.h"

namespace sectorsieve::shell {
namespace {

using app::ComApartment;

using namespace std::string_literals;

const HWND kOwner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

std::string Text(LPCSTR text) { return text ? std::string(text) : "<null>"; }

TEST(FolderRequest, HoldsOwnerTitleAndFlagsAndNothingElse) {
  const std::string title = "Select a destination folder";
  const FolderRequest request(title, kOwner);

  EXPECT_EQ(request.info.hwndOwner, kOwner);
  EXPECT_EQ(request.info.pidlRoot, nullptr);
  EXPECT_EQ(request.info.pszDisplayName, nullptr);
  EXPECT_EQ(Text(request.info.lpszTitle), title);
  EXPECT_EQ(request.info.ulFlags, 3u);
  EXPECT_EQ(request.info.ulFlags, static_cast<UINT>(BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN));
  EXPECT_EQ(request.info.lpfn, nullptr);
  EXPECT_EQ(request.info.lParam, 0);
  EXPECT_EQ(request.info.iImage, 0);
}

TEST(FolderRequest, PointsAtItsOwnCopyOfTheTitle) {
  const std::string title = "Select a destination folder";
  FolderRequest request(title, kOwner);

  EXPECT_NE(static_cast<const void*>(request.info.lpszTitle), title.data());
  request.title[0] = 'X';
  EXPECT_EQ(Text(request.info.lpszTitle), "Xelect a destination folder");
  EXPECT_EQ(title, "Select a destination folder");
}

TEST(FolderRequest, TwoRequestsWithTheSameArgumentsAreAlike) {
  const FolderRequest first("Pick", kOwner);
  const FolderRequest second("Pick", kOwner);

  EXPECT_EQ(first.info.hwndOwner, second.info.hwndOwner);
  EXPECT_EQ(first.info.pidlRoot, second.info.pidlRoot);
  EXPECT_EQ(first.info.pszDisplayName, second.info.pszDisplayName);
  EXPECT_EQ(Text(first.info.lpszTitle), Text(second.info.lpszTitle));
  EXPECT_NE(first.info.lpszTitle, second.info.lpszTitle);
  EXPECT_EQ(first.info.ulFlags, second.info.ulFlags);
  EXPECT_EQ(first.info.lpfn, second.info.lpfn);
  EXPECT_EQ(first.info.lParam, second.info.lParam);
  EXPECT_EQ(first.info.iImage, second.info.iImage);
}

TEST(FileRequest, AnnouncesTheLayoutWithoutTheAppendedFields) {
  const FileRequest request("Select a .img to extract", "*.img", kOwner);
  const auto size = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(request.info.lpTemplateName);

  EXPECT_EQ(request.info.lStructSize, static_cast<DWORD>(OPENFILENAME_SIZE_VERSION_400A));
  EXPECT_EQ(request.info.lStructSize, size);
  EXPECT_LT(request.info.lStructSize, sizeof(OPENFILENAMEA));
  EXPECT_EQ(request.info.pvReserved, nullptr);
  EXPECT_EQ(request.info.dwReserved, 0u);
  EXPECT_EQ(request.info.FlagsEx, 0u);
}

TEST(FileRequest, HoldsEveryFieldAsTheDialogIsToSeeIt) {
  const FileRequest request("Select a .img to extract", "*.img", kOwner);
  const OPENFILENAMEA& info = request.info;

  EXPECT_EQ(info.hwndOwner, kOwner);
  EXPECT_EQ(info.hInstance, ::GetModuleHandleA(nullptr));
  EXPECT_EQ(info.lpstrCustomFilter, nullptr);
  EXPECT_EQ(info.nMaxCustFilter, 0u);
  EXPECT_EQ(info.nFilterIndex, 0u);
  EXPECT_EQ(std::string(info.lpstrFile, 255), std::string(254, ' ') + '\0');
  EXPECT_EQ(info.nMaxFile, 255u);
  EXPECT_EQ(std::string(info.lpstrFileTitle, 255), std::string(254, ' ') + '\0');
  EXPECT_EQ(info.nMaxFileTitle, 255u);
  EXPECT_EQ(Text(info.lpstrInitialDir), ExecutableFolder());
  EXPECT_EQ(Text(info.lpstrTitle), "Select a .img to extract");
  EXPECT_EQ(info.Flags, 0u);
  EXPECT_EQ(info.nFileOffset, 0u);
  EXPECT_EQ(info.nFileExtension, 0u);
  EXPECT_EQ(info.lpstrDefExt, nullptr);
  EXPECT_EQ(info.lCustData, 0);
  EXPECT_EQ(info.lpfnHook, nullptr);
  EXPECT_EQ(info.lpTemplateName, nullptr);
}

struct FilterCase {
  std::string filter;
  std::string list;  // every byte the dialog reads, up to and including the second closing NUL
};

void PrintTo(const FilterCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.filter); }

class FileRequestFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FileRequestFilter, DescribesExactlyOneFileType) {
  const FileRequest request("Title", GetParam().filter, kOwner);
  const std::string& list = GetParam().list;

  EXPECT_EQ(std::string(request.info.lpstrFilter, list.size()), list);
}

INSTANTIATE_TEST_SUITE_P(Filters, FileRequestFilter,
                         ::testing::Values(FilterCase{"*.img", "(*.img)\0*.img\0\0"s},
                                           FilterCase{"*.*", "(*.*)\0*.*\0\0"s},
                                           FilterCase{"a b?.img", "(a b?.img)\0a b?.img\0\0"s}));

TEST(FileRequest, LeavesTheCallersTextsAlone) {
  const std::string title = "Select a .img to extract";
  const std::string filter = "*.img";
  FileRequest request(title, filter, kOwner);

  EXPECT_NE(static_cast<const void*>(request.info.lpstrTitle), title.data());
  request.title[0] = 'X';
  request.filterList[1] = 'X';
  request.file[0] = 'X';
  EXPECT_EQ(title, "Select a .img to extract");
  EXPECT_EQ(filter, "*.img");
}

TEST(FileRequest, TwoRequestsWithTheSameArgumentsAreAlike) {
  const FileRequest first("Select a .img to extract", "*.img", kOwner);
  const FileRequest second("Select a .img to extract", "*.img", kOwner);
  const OPENFILENAMEA& a = first.info;
  const OPENFILENAMEA& b = second.info;
  const auto bytes = [](LPCSTR text, std::size_t size) { return std::string(text, size); };

  EXPECT_EQ(a.lStructSize, b.lStructSize);
  EXPECT_EQ(a.hwndOwner, b.hwndOwner);
  EXPECT_EQ(a.hInstance, b.hInstance);
  EXPECT_EQ(bytes(a.lpstrFilter, first.filterList.size() + 1),
            bytes(b.lpstrFilter, second.filterList.size() + 1));
  EXPECT_EQ(a.lpstrCustomFilter, b.lpstrCustomFilter);
  EXPECT_EQ(a.nMaxCustFilter, b.nMaxCustFilter);
  EXPECT_EQ(a.nFilterIndex, b.nFilterIndex);
  EXPECT_EQ(bytes(a.lpstrFile, a.nMaxFile), bytes(b.lpstrFile, b.nMaxFile));
  EXPECT_NE(a.lpstrFile, b.lpstrFile);
  EXPECT_EQ(a.nMaxFile, b.nMaxFile);
  EXPECT_EQ(bytes(a.lpstrFileTitle, a.nMaxFileTitle), bytes(b.lpstrFileTitle, b.nMaxFileTitle));
  EXPECT_NE(a.lpstrFileTitle, b.lpstrFileTitle);
  EXPECT_EQ(a.nMaxFileTitle, b.nMaxFileTitle);
  EXPECT_EQ(Text(a.lpstrInitialDir), Text(b.lpstrInitialDir));
  EXPECT_EQ(Text(a.lpstrTitle), Text(b.lpstrTitle));
  EXPECT_EQ(a.Flags, b.Flags);
  EXPECT_EQ(a.nFileOffset, b.nFileOffset);
  EXPECT_EQ(a.nFileExtension, b.nFileExtension);
  EXPECT_EQ(a.lpstrDefExt, b.lpstrDefExt);
  EXPECT_EQ(a.lCustData, b.lCustData);
  EXPECT_EQ(a.lpfnHook, b.lpfnHook);
  EXPECT_EQ(a.lpTemplateName, b.lpTemplateName);
}

TEST(ExecutableFolder, IsTheFolderThatHoldsThisProgram) {
  char module[MAX_PATH * 2] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, module, sizeof module), 0u);
  const std::string path = module;
  const std::string folder = ExecutableFolder();

  ASSERT_LT(folder.size() + 1, path.size());
  EXPECT_EQ(path.substr(0, folder.size() + 1), folder + "\\");
  EXPECT_EQ(path.find('\\', folder.size() + 1), std::string::npos) << path;
}

struct BufferCase {
  std::string buffer;
  std::string path;
};

void PrintTo(const BufferCase& c, std::ostream* out) { *out << ::testing::PrintToString(c.buffer); }

class FolderBuffer : public ::testing::TestWithParam<BufferCase> {};

TEST_P(FolderBuffer, YieldsTheTextBeforeTheFirstNul) {
  EXPECT_EQ(FolderFromBuffer(GetParam().buffer), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, FolderBuffer,
    ::testing::Values(BufferCase{"C:\\ss-pick\\inner\0   "s, "C:\\ss-pick\\inner"},
                      BufferCase{"C:\\\0     "s, "C:\\"},
                      BufferCase{"C:\\inner\\\0  "s, "C:\\inner\\"},
                      BufferCase{" C:\\two words \0x\0 "s, " C:\\two words "},
                      BufferCase{"\0C:\\inner    "s, ""}, BufferCase{std::string(260, ' '), ""},
                      BufferCase{std::string(260, 'd'), ""}));

class FileBuffer : public ::testing::TestWithParam<BufferCase> {};

TEST_P(FileBuffer, YieldsThePathWithoutPaddingOrNuls) {
  EXPECT_EQ(FileFromBuffer(GetParam().buffer), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, FileBuffer,
    ::testing::Values(BufferCase{"C:\\a.img\0"s + std::string(245, ' '), "C:\\a.img"},
                      BufferCase{"C:\\two words.img\0"s + std::string(237, ' '),
                                 "C:\\two words.img"},
                      BufferCase{"C:\\" + std::string(247, 'f') + ".img",
                                 "C:\\" + std::string(247, 'f') + ".img"},
                      BufferCase{"  C:\\a.img  ", "C:\\a.img"},
                      BufferCase{"C:\\a\x10.img\0 "s, "C:\\a.img"},
                      BufferCase{std::string(254, ' '), ""}));

// COM state belongs to a thread, so each case runs on a fresh one.
template <typename F>
void OnFreshThread(F f) {
  std::thread(f).join();
}

TEST(ComApartment, HoldsASingleThreadedApartmentForItsLifetime) {
  OnFreshThread([] {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    {
      const ComApartment com;
      ASSERT_EQ(::CoGetApartmentType(&type, &qualifier), S_OK);
      // The first single-threaded apartment of a process is its main one.
      EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
    }
    EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), CO_E_NOTINITIALIZED);
  });
}

TEST(ComApartment, LeavesAnApartmentItCouldNotJoin) {
  OnFreshThread([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    const scope_exit uninitialise([] { ::CoUninitialize(); });
    { const ComApartment com; }
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    EXPECT_EQ(::CoGetApartmentType(&type, &qualifier), S_OK);
    EXPECT_EQ(type, APTTYPE_MTA);
  });
}

}  // namespace
}  // namespace sectorsieve::shell
