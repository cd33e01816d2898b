#pragma once

// The two pickers through which the user chooses the program's inputs, in their ANSI forms.
// Each returns the chosen path, or "" when nothing was chosen (cancel or failure alike).

#include <windows.h>

#include <string>

namespace sectorsieve::shell {

std::string BrowseForFolder(const std::string& title, HWND owner);
std::string BrowseForFile(const std::string& title, const std::string& filter, HWND owner);

// COM in a single-threaded apartment for the GUI thread, for the lifetime of this object.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_ = false;
};

}  // namespace sectorsieve::shell
