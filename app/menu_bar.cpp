#include "app/menu_bar.h"

#include <string>

namespace {

using platform::MenuItem;

// One item of the tree; `shortcut` is nullptr for an item whose shortcut is
// never set (the separators).
struct ItemDesign {
  const char* name;
  const char* text;
  const char* shortcut;
};

template <class Item>
std::shared_ptr<Item> MakeItem(const ItemDesign& design) {
  auto item = std::make_shared<Item>();
  item->Constructor();
  item->Name(design.name);
  item->AutoEnable(true);
  item->Text(design.text);
  if (design.shortcut) item->KeyboardShortcut(design.shortcut);
  return item;
}

// Appends to the bar's menu of that name, asked for anew for every item.
void AppendTo(platform::MenuBar& bar, const char* menu, std::shared_ptr<MenuItem> item) {
  platform::Deref(bar.Child(menu), menu).Append(std::move(item));
}

}  // namespace

std::shared_ptr<class MenuBar1> MenuBar1::implicitInstance;

const platform::ClassInfo& MenuBar1::Class() {
  static const platform::ClassInfo info{
      "MenuBar1.MenuBar1", nullptr,
      [] { return std::static_pointer_cast<platform::Object>(std::make_shared<class MenuBar1>()); }};
  return info;
}

void MenuBar1::Constructor() {
  Untitled0();
  Untitled1();
}

void MenuBar1::Untitled0() {
  Append(MakeItem<MenuItem>({"FileMenu", "ファイル", ""}));
  AppendTo(*this, "FileMenu", MakeItem<platform::QuitMenuItem>({"FileQuit", "終了", "Cmd+Q"}));
}

void MenuBar1::Untitled1() {
  Append(MakeItem<MenuItem>({"EditMenu", "編集", ""}));
  static const ItemDesign kEditItems[] = {
      {"EditUndo", "元に戻す", "Cmd+Z"},
      {"UntitledMenu1", "-", nullptr},
      {"EditCut", "カット", "Cmd+X"},
      {"EditCopy", "コピー", "Cmd+C"},
      {"EditPaste", "貼り付け", "Cmd+V"},
      {"EditClear", "削除", ""},
      {"UntitledMenu0", "-", nullptr},
      {"EditSelectAll", "すべてを選択", "Cmd+A"},
  };
  for (const ItemDesign& design : kEditItems) AppendTo(*this, "EditMenu", MakeItem<MenuItem>(design));
}

std::shared_ptr<class MenuBar1> MenuBar1() {
  if (!MenuBar1::implicitInstance) {
    auto bar = std::static_pointer_cast<class MenuBar1>(platform::RuntimeNewObject(MenuBar1::Class()));
    bar->Constructor();
    // Stored only once built: a constructor that fails leaves nothing behind.
    MenuBar1::implicitInstance = bar;
  }
  return MenuBar1::implicitInstance;
}
