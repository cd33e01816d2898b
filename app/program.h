#pragma once

// What belongs to the program as a whole rather than to its window: the COM apartment of its
// GUI thread and its own version.

#include "frmMain.h"

namespace sectorsieve::app {

// COM in a single-threaded apartment for the GUI thread, for the lifetime of this object: the
// folder picker, the taskbar and the accessibility service need it.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_ = false;
};

// The program's own version (major, minor) from the version record of its executable file.
ui::Version ProgramVersion();

}  // namespace sectorsieve::app
