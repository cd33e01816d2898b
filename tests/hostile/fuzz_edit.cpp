// libFuzzer target: any bytes become a sequence of add, remove, rename and compact steps on a
// real archive, each followed by extracting it and comparing with a plain map of names to
// bytes that knows nothing of the archive code.

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "edit_model.h"

namespace {

using namespace sectorsieve::testing;

// Steps beyond this many are not taken, so that every execution stays cheap.
constexpr std::size_t kMaxSteps = 24;

[[noreturn]] void Broken(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TempDir root;
  const fs::path base = root.path() / "a";
  EditModel model;
  for (std::size_t step = 0; step < kMaxSteps && (step + 1) * 4 <= size; ++step) {
    const std::uint8_t* c = data + step * 4;
    const std::uint32_t choice = c[0] | c[1] << 8 | c[2] << 16 | std::uint32_t{c[3]} << 24;
    std::string done;
    try {
      done = ModelStep(model, base, root.path() / "from", choice);
    } catch (const std::exception& e) {
      Broken("step " + std::to_string(step) + " failed: " + e.what());
    }
    if (ExtractAll(ModelFiles(), base, root.path() / "out") != model.Files())
      Broken("after step " + std::to_string(step) + " (" + done + ") extraction differs");
    if (done == "compact" && fs::file_size(fs::path(base) += ".img") != model.Bytes())
      Broken("compact left unused space");
  }
  return 0;
}
