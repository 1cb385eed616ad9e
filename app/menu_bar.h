// The program's one menu bar: File (Quit) and Edit, captioned in Japanese.
#pragma once

#include <memory>

#include "platform/ui.h"

class MenuBar1 : public platform::MenuBar {
 public:
  // Builds both menus (and nothing else: the inherited constructor is not
  // called).
  void Constructor();
  void Untitled0();  // the File menu
  void Untitled1();  // the Edit menu

  static const platform::ClassInfo& Class();
  // The one instance; empty until the accessor first runs, emptied by
  // finalisation.
  static std::shared_ptr<MenuBar1> implicitInstance;
};

// The one menu bar, built on the first call.
std::shared_ptr<MenuBar1> MenuBar1();
