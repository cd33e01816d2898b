// The program file carries its icon, version record and manifest.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "sectorsieve_version.h"

namespace {

std::wstring ProgramPath() {
  const std::string narrow = SECTORSIEVE_EXE;
  return std::wstring(narrow.begin(), narrow.end());
}

class ProgramResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryExW(ProgramPath().c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { ::FreeLibrary(module_); }

  // Resource types are small integers, the same for both character sets.
  std::string Resource(LPCSTR type, int id) {
    HRSRC found = ::FindResourceW(module_, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(type));
    if (!found) return {};
    const auto* data = static_cast<const char*>(::LockResource(::LoadResource(module_, found)));
    return std::string(data, ::SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width, height, colors, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ProgramResources, OneIconOf32By32With256Colours) {
  const std::string group = Resource(RT_GROUP_ICON, 1);
  ASSERT_GE(group.size(), 6u + sizeof(IconGroupEntry));
  const auto count = *reinterpret_cast<const WORD*>(group.data() + 4);
  ASSERT_EQ(count, 1);
  const auto* entry = reinterpret_cast<const IconGroupEntry*>(group.data() + 6);
  EXPECT_EQ(entry->width, 32);
  EXPECT_EQ(entry->height, 32);
  const std::string image = Resource(RT_ICON, entry->id);
  ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
  EXPECT_EQ(header->biWidth, 32);
  EXPECT_EQ(header->biBitCount, 8);
}

TEST_F(ProgramResources, VersionRecordHoldsTheProductTexts) {
  const std::wstring path = ProgramPath();
  DWORD ignored = 0;
  std::vector<char> record(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(record.empty());
  ASSERT_TRUE(
      ::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(record.size()), record.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  // The project's version, set once in CMakeLists.txt.
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(SECTORSIEVE_VERSION_MINOR, SECTORSIEVE_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwProductVersionMS,
            MAKELONG(SECTORSIEVE_VERSION_MINOR, SECTORSIEVE_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  const struct {
    const wchar_t* key;
    const wchar_t* text;
  } strings[] = {
      {L"Comments", L"Extract those .img fast!"},
      {L"FileDescription", L"Sectorsieve Executable"},
      {L"ProductName", L"Orlep's Sectorsieve"},
      {L"FileVersion", L"" SECTORSIEVE_VERSION_TEXT},
      {L"ProductVersion", L"" SECTORSIEVE_VERSION_TEXT},
      {L"InternalName", L"SectorSieve"},
      {L"OriginalFilename", L"SectorSieve.exe"},
  };
  for (const auto& s : strings) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.key;
    wchar_t* value = nullptr;
    ASSERT_TRUE(
        ::VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << s.text;
    EXPECT_STREQ(value, s.text);
  }
}

TEST_F(ProgramResources, ManifestAsksForCommonControls6AndDpiAwareness) {
  const std::string manifest = Resource(RT_MANIFEST, 1);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
}

}  // namespace
