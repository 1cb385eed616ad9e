// The main window: the rule-set list, the "clearing overrides" checkbox, and
// as its methods the styling run and the host check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/style_rules.h"
#include "platform/files.h"
#include "platform/ui.h"

class Window1 : public platform::Window, private engine::StylingTarget {
 public:
  // The class set-up binds the window's five events to its handlers.
  Window1();

  static const platform::ClassInfo& Class();

  // Layout and controls.
  void Layout();
  void CreateControls();
  void CreateControls0();
  std::shared_ptr<platform::Listbox> Listbox1();
  std::shared_ptr<platform::CheckBox> CB1();
  bool Listbox1_CellClick(const std::shared_ptr<platform::Listbox>& list, int32_t row,
                          int32_t column, int32_t x, int32_t y);

  // Menu-item accessors: the item of that name in the window's menu bar.
  std::shared_ptr<platform::MenuItem> EditMenu();
  std::shared_ptr<platform::MenuItem> EditSelectAll();
  std::shared_ptr<platform::MenuItem> UntitledMenu0();
  std::shared_ptr<platform::MenuItem> EditClear();
  std::shared_ptr<platform::MenuItem> EditPaste();
  std::shared_ptr<platform::MenuItem> EditCopy();
  std::shared_ptr<platform::MenuItem> EditCut();
  std::shared_ptr<platform::MenuItem> UntitledMenu1();
  std::shared_ptr<platform::MenuItem> EditUndo();
  std::shared_ptr<platform::MenuItem> FileMenu();
  std::shared_ptr<platform::QuitMenuItem> FileQuit();

  // Window events.
  void Event_Open();
  void Event_Close();
  void Event_Activate();

  // The host check.
  void AI_ACCTIVE();

  // The styling run and its parts.
  std::string getRegPos(const std::string& text, const std::string& pattern) override;
  void applyChaStyle(const std::string& positions, const std::string& style,
                     const std::string& address1, const std::string& address2) override;
  void MainScpt(const std::string& file_name);
  std::string getRegParaPos(const std::string& text, const std::string& pattern) override;
  void applyParaStyle(const std::string& paragraphs, const std::string& style,
                      const std::string& address1, const std::string& address2) override;

  // The location of the preferences file: set by Event_Open, read by
  // Event_Close.
  std::shared_ptr<platform::FolderItem> gMyPref;

 private:
  template <class Item>
  std::shared_ptr<Item> MenuItemNamed(const char* name);
};

// The one main window: the one the framework has registered, or a new one
// when there is none. Never nil.
std::shared_ptr<Window1> Window1();
