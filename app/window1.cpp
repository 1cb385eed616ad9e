#include "app/main_window.h"

#include "host/host_scripts.h"
#include "platform/runtime.h"

using platform::WindowEvent;

const platform::ClassInfo& Window1::Class() {
  static const platform::ClassInfo info{
      "Window1.Window1", nullptr,
      [] { return std::static_pointer_cast<platform::Object>(std::make_shared<class Window1>()); }};
  return info;
}

// The class's own handlers of five of the window's events; every other event
// keeps the framework's default.
Window1::Window1() {
  AddEventHandler(WindowEvent::Layout, [this] { Layout(); });
  AddEventHandler(WindowEvent::CreateControls, [this] { CreateControls(); });
  AddEventHandler(WindowEvent::Open, [this] { Event_Open(); });
  AddEventHandler(WindowEvent::Close, [this] { Event_Close(); });
  AddEventHandler(WindowEvent::Activate, [this] { Event_Activate(); });
}

std::shared_ptr<class Window1> Window1() {
  auto window = platform::GetImplicitWindow(Window1::Class().name);
  if (!window) {
    auto created = platform::RuntimeNewObject(Window1::Class());
    auto fresh = platform::RuntimeCheckCast<class Window1>(created);
    platform::Deref(fresh, "new window").Constructor();
    return fresh;
  }
  return platform::RuntimeCheckCast<class Window1>(window);
}

template <class Item>
std::shared_ptr<Item> Window1::MenuItemNamed(const char* name) {
  platform::Deref(MenuBar(), "menu bar");
  return std::dynamic_pointer_cast<Item>(platform::MenuItem::Lookup(MenuBar(), name));
}

std::shared_ptr<platform::MenuItem> Window1::EditMenu() { return MenuItemNamed<platform::MenuItem>("EditMenu"); }
std::shared_ptr<platform::MenuItem> Window1::EditSelectAll() { return MenuItemNamed<platform::MenuItem>("EditSelectAll"); }
std::shared_ptr<platform::MenuItem> Window1::UntitledMenu0() { return MenuItemNamed<platform::MenuItem>("UntitledMenu0"); }
std::shared_ptr<platform::MenuItem> Window1::EditClear() { return MenuItemNamed<platform::MenuItem>("EditClear"); }
std::shared_ptr<platform::MenuItem> Window1::EditPaste() { return MenuItemNamed<platform::MenuItem>("EditPaste"); }
std::shared_ptr<platform::MenuItem> Window1::EditCopy() { return MenuItemNamed<platform::MenuItem>("EditCopy"); }
std::shared_ptr<platform::MenuItem> Window1::EditCut() { return MenuItemNamed<platform::MenuItem>("EditCut"); }
std::shared_ptr<platform::MenuItem> Window1::UntitledMenu1() { return MenuItemNamed<platform::MenuItem>("UntitledMenu1"); }
std::shared_ptr<platform::MenuItem> Window1::EditUndo() { return MenuItemNamed<platform::MenuItem>("EditUndo"); }
std::shared_ptr<platform::MenuItem> Window1::FileMenu() { return MenuItemNamed<platform::MenuItem>("FileMenu"); }
std::shared_ptr<platform::QuitMenuItem> Window1::FileQuit() { return MenuItemNamed<platform::QuitMenuItem>("FileQuit"); }

// The styling run's parts are the engine's; the window is what they run on.
std::string Window1::getRegPos(const std::string& text, const std::string& pattern) {
  return engine::getRegPos(text, pattern);
}

std::string Window1::getRegParaPos(const std::string& text, const std::string& pattern) {
  return engine::getRegParaPos(text, pattern);
}

// The window shows the busy cursor while the run lasts, however it ends.
void Window1::MainScpt(const std::string& file_name) {
  platform::BusyCursor busy;
  engine::MainScpt(*this, file_name);
}

// The checkbox is read through the accessor at the moment of each request.
void Window1::applyChaStyle(const std::string& positions, const std::string& style,
                            const std::string& address1, const std::string& address2) {
  const bool ticked = platform::Deref(::Window1()->CB1(), "CB1").Value();
  engine::SendCharacterRequest(positions, style, address1, address2,
                               engine::ClearOverridesFlag(ticked));
}

void Window1::applyParaStyle(const std::string& paragraphs, const std::string& style,
                             const std::string& address1, const std::string& address2) {
  const bool ticked = platform::Deref(::Window1()->CB1(), "CB1").Value();
  engine::SendParagraphRequest(paragraphs, style, address1, address2,
                               engine::ClearOverridesFlag(ticked));
}

void Window1::AI_ACCTIVE() { host::CheckHost(); }
