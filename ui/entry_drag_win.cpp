#include "entry_drag_win.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <string>

#include "wide_text.h"

namespace sectorsieve::ui {

namespace {

// Reference counting and IUnknown for one interface.
template <typename Interface>
class ComObject : public Interface {
 public:
  virtual ~ComObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

// The shell's names for the formats (CFSTR_FILEDESCRIPTORW, CFSTR_FILECONTENTS), which the
// headers spell in the build's character set.
UINT DescriptorFormat() {
  static const UINT format = ::RegisterClipboardFormatW(L"FileGroupDescriptorW");
  return format;
}

UINT ContentsFormat() {
  static const UINT format = ::RegisterClipboardFormatW(L"FileContents");
  return format;
}

// One entry's bytes, read from the data file as the target reads the stream.
class EntryStream final : public ComObject<IStream> {
 public:
  EntryStream(std::shared_ptr<InputFile> data, std::int64_t dataSize, DraggedFile file)
      : data_(std::move(data)), dataSize_(dataSize), file_(std::move(file)) {}

  HRESULT STDMETHODCALLTYPE Read(void* into, ULONG count, ULONG* read) override {
    if (!into) return STG_E_INVALIDPOINTER;
    const std::int64_t left = std::max<std::int64_t>(file_.bytes - at_, 0);
    const auto n = static_cast<ULONG>(std::min<std::int64_t>(count, left));
    auto* out = static_cast<char*>(into);
    // The part within the data file, then zeros for any that lies past its end.
    const std::int64_t from = file_.start + at_;
    const std::int64_t stored = std::clamp<std::int64_t>(dataSize_ - from, 0, n);
    try {
      std::int64_t done = 0;
      while (done < stored) {
        const std::size_t got =
            data_->ReadAt(from + done, out + done, static_cast<std::size_t>(stored - done));
        if (got == 0) break;
        done += static_cast<std::int64_t>(got);
      }
      std::memset(out + done, 0, static_cast<std::size_t>(n - done));
    } catch (const std::exception&) {
      return STG_E_READFAULT;
    }
    at_ += n;
    if (read) *read = n;
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* position) override {
    const std::int64_t base = origin == STREAM_SEEK_SET   ? 0
                              : origin == STREAM_SEEK_CUR ? at_
                              : origin == STREAM_SEEK_END ? file_.bytes
                                                          : -1;
    if (base < 0) return STG_E_INVALIDFUNCTION;
    const std::int64_t to = base + move.QuadPart;
    if (to < 0) return STG_E_INVALIDFUNCTION;
    at_ = to;
    if (position) position->QuadPart = static_cast<ULONGLONG>(at_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = static_cast<ULONGLONG>(file_.bytes);
    stat->grfMode = STGM_READ;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  std::shared_ptr<InputFile> data_;
  std::int64_t dataSize_;
  DraggedFile file_;
  std::int64_t at_ = 0;
};

class EntryDataObject final : public ComObject<IDataObject> {
 public:
  EntryDataObject(std::shared_ptr<InputFile> data, std::int64_t dataSize,
                  std::vector<DraggedFile> files)
      : data_(std::move(data)), dataSize_(dataSize), files_(std::move(files)) {}

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (!format || !medium) return E_INVALIDARG;
    const HRESULT offered = QueryGetData(format);
    if (FAILED(offered)) return offered;
    *medium = STGMEDIUM{};
    if (format->cfFormat == DescriptorFormat()) {
      const std::size_t size =
          sizeof(FILEGROUPDESCRIPTORW) + files_.size() * sizeof(FILEDESCRIPTORW);
      HGLOBAL memory = ::GlobalAlloc(GHND, size);
      if (!memory) return E_OUTOFMEMORY;
      auto* group = static_cast<FILEGROUPDESCRIPTORW*>(::GlobalLock(memory));
      group->cItems = static_cast<UINT>(files_.size());
      for (std::size_t i = 0; i < files_.size(); ++i) {
        FILEDESCRIPTORW& d = group->fgd[i];
        d.dwFlags = FD_FILESIZE | FD_PROGRESSUI;
        d.nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(files_[i].bytes) >> 32);
        d.nFileSizeLow = static_cast<DWORD>(files_[i].bytes & 0xFFFFFFFF);
        const std::size_t n = std::min(files_[i].name.size(), std::size(d.cFileName) - 1);
        std::copy_n(files_[i].name.begin(), n, d.cFileName);
        d.cFileName[n] = L'\0';
      }
      ::GlobalUnlock(memory);
      medium->tymed = TYMED_HGLOBAL;
      medium->hGlobal = memory;
      return S_OK;
    }
    medium->tymed = TYMED_ISTREAM;
    medium->pstm =
        new EntryStream(data_, dataSize_, files_[static_cast<std::size_t>(format->lindex)]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    if (!format) return E_INVALIDARG;
    if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (format->cfFormat == DescriptorFormat())
      return format->tymed & TYMED_HGLOBAL ? S_OK : DV_E_TYMED;
    if (format->cfFormat == ContentsFormat()) {
      if (!(format->tymed & TYMED_ISTREAM)) return DV_E_TYMED;
      return format->lindex >= 0 && static_cast<std::size_t>(format->lindex) < files_.size()
                 ? S_OK
                 : DV_E_LINDEX;
    }
    return DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out) out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
  }
  // The target's notes about the drop (its effect, its own formats) are not kept.
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    FORMATETC offered[] = {
        {static_cast<CLIPFORMAT>(DescriptorFormat()), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
        {static_cast<CLIPFORMAT>(ContentsFormat()), nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM},
    };
    return ::SHCreateStdEnumFmtEtc(2, offered, formats);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

 private:
  std::shared_ptr<InputFile> data_;
  std::int64_t dataSize_;
  std::vector<DraggedFile> files_;
};

class DropSource final : public ComObject<IDropSource> {
 public:
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
    if (escape) return DRAGDROP_S_CANCEL;
    return keys & MK_LBUTTON ? S_OK : DRAGDROP_S_DROP;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
};

}  // namespace

unique_data_object NewEntryDataObject(std::shared_ptr<InputFile> data, std::int64_t dataSize,
                                      std::vector<DraggedFile> files) {
  return unique_data_object(new EntryDataObject(std::move(data), dataSize, std::move(files)));
}

unique_drop_source NewDropSource() { return unique_drop_source(new DropSource); }

namespace {

// Files, as the shell drags them.
FORMATETC DropFormat() { return {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

class FileDropTarget final : public ComObject<IDropTarget> {
 public:
  FileDropTarget(std::function<bool()> accepting,
                 std::function<void(std::vector<std::string>)> dropped)
      : accepting_(std::move(accepting)), dropped_(std::move(dropped)) {}

  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL at,
                                      DWORD* effect) override {
    FORMATETC format = DropFormat();
    files_ = data && data->QueryGetData(&format) == S_OK;
    return DragOver(keys, at, effect);
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
    if (!effect) return E_INVALIDARG;
    *effect =
        files_ && (*effect & DROPEFFECT_COPY) && accepting_() ? DROPEFFECT_COPY : DROPEFFECT_NONE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    files_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL at, DWORD* effect) override {
    if (const HRESULT entered = DragEnter(data, keys, at, effect); FAILED(entered)) return entered;
    files_ = false;
    if (*effect == DROPEFFECT_NONE) return S_OK;
    FORMATETC format = DropFormat();
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) {
      *effect = DROPEFFECT_NONE;
      return S_OK;
    }
    std::vector<std::string> paths;
    const auto drop = static_cast<HDROP>(medium.hGlobal);
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
      path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
      // A path that is no Unicode names no file that could be added.
      if (const auto utf8 = Utf8(path)) paths.push_back(*utf8);
    }
    ::ReleaseStgMedium(&medium);
    try {
      dropped_(std::move(paths));
    } catch (const std::exception&) {
      *effect = DROPEFFECT_NONE;
    }
    return S_OK;
  }

 private:
  std::function<bool()> accepting_;
  std::function<void(std::vector<std::string>)> dropped_;
  bool files_ = false;
};

}  // namespace

unique_drop_target NewFileDropTarget(std::function<bool()> accepting,
                                     std::function<void(std::vector<std::string>)> dropped) {
  return unique_drop_target(new FileDropTarget(std::move(accepting), std::move(dropped)));
}

}  // namespace sectorsieve::ui
