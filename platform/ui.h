// The framework's windows, controls, menus and message box.
//
// These are plain models: they own their state, compute their geometry and
// raise their events. A backend (the Qt window, or the headless driver of the
// tests) mirrors a model and turns user input into calls of the User...
// operations below, which do what the platform would do and raise the
// model's events. So geometry and event order are the same in every backend.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/object.h"
#include "platform/runtime.h"

namespace platform {

namespace backend {
class WindowPeer;
}

class Window;
class MenuBar;

// A design value of a window or control, as a batch of them is applied.
using PropertyValue = std::variant<bool, int, double, std::string>;
using PropertyList = std::vector<std::pair<std::string, PropertyValue>>;

// --- controls ---------------------------------------------------------------

class RectControl : public Object, public std::enable_shared_from_this<RectControl> {
 public:
  ~RectControl() override;
  // The framework's default set-up of a control.
  void Constructor();

  const std::string& Name() const { return name_; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  bool LockLeft() const { return lock_left_; }
  bool LockTop() const { return lock_top_; }
  bool LockRight() const { return lock_right_; }
  bool LockBottom() const { return lock_bottom_; }
  int TabIndex() const { return tab_index_; }
  bool Visible() const { return visible_; }
  bool Enabled() const { return enabled_; }
  uint8_t TextUnit() const { return text_unit_; }
  void TextUnit(uint8_t unit);

  // The window the control belongs to (nullptr once that is gone).
  std::shared_ptr<platform::Window> Window() const { return window_.lock(); }

  // Sets one design value; a name the control does not know raises
  // RuntimeException (a fault in the caller's design table).
  virtual void SetProperty(const std::string& name, const PropertyValue& value);
  // Any design value that was set, by name (RuntimeException when unset).
  PropertyValue GetProperty(const std::string& name) const;

  // The window's content area changed size by (dx, dy): follow the locks.
  void ParentResized(int dx, int dy);

 protected:
  RectControl() = default;
  void Changed();  // tells the window's backend to mirror the change
  void KeepDesign(const std::string& name, const PropertyValue& value) { design_[name] = value; }

 private:
  friend class platform::Window;
  std::weak_ptr<platform::Window> window_;
  std::string name_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool lock_left_ = true, lock_top_ = true, lock_right_ = false, lock_bottom_ = false;
  int tab_index_ = 0;
  bool visible_ = true, enabled_ = true;
  uint8_t text_unit_ = 0;
  std::map<std::string, PropertyValue> design_;
};

class Listbox : public RectControl {
 public:
  using CellClickHandler =
      std::function<bool(const std::shared_ptr<Listbox>&, int32_t row, int32_t column,
                         int32_t x, int32_t y)>;

  int ListCount() const { return static_cast<int>(rows_.size()); }
  int ColumnCount() const { return column_count_; }
  void AddRow(const std::string& text);
  void DeleteAllRows();
  // The text of a cell; the empty text outside the rows and columns.
  std::string Cell(int row, int column) const;
  bool ScrollBarVertical() const { return scroll_bar_vertical_; }
  bool ScrollBarHorizontal() const { return scroll_bar_horizontal_; }
  bool HasHeading() const { return has_heading_; }

  void SetProperty(const std::string& name, const PropertyValue& value) override;

  // The CellClick event (bound with RuntimeAddEventHandler).
  void AddCellClickHandler(CellClickHandler handler) { cell_click_ = std::move(handler); }
  bool HasCellClickHandler() const { return static_cast<bool>(cell_click_); }

  // User input: a click on a cell raises CellClick (when the row exists) and
  // gives the handler's result (false without a handler).
  bool UserClickCell(int row, int column, int x = 0, int y = 0);

 private:
  std::vector<std::string> rows_;
  int column_count_ = 1;
  bool scroll_bar_vertical_ = true, scroll_bar_horizontal_ = false, has_heading_ = false;
  CellClickHandler cell_click_;
};

class CheckBox : public RectControl {
 public:
  const std::string& Caption() const { return caption_; }
  void Caption(const std::string& caption);
  bool Value() const { return state_ == 1; }
  void Value(bool ticked);
  // 0 unchecked, 1 checked, 2 indeterminate.
  int State() const { return state_; }
  void State(int state);
  float TextSize() const { return text_size_; }
  void TextSize(float size);

  void SetProperty(const std::string& name, const PropertyValue& value) override;

  // User input: a click toggles the box.
  void UserToggle();

 private:
  std::string caption_;
  int state_ = 0;
  float text_size_ = 0;
};

// --- menus ------------------------------------------------------------------

class MenuItem : public Object, public std::enable_shared_from_this<MenuItem> {
 public:
  MenuItem() = default;
  ~MenuItem() override;
  // The framework's default parameterless constructor: nothing to set up.
  void Constructor() {}

  const std::string& Name() const { return name_; }
  void Name(const std::string& name) { name_ = name; }
  const std::string& Text() const { return text_; }
  void Text(const std::string& text) { text_ = text; }
  bool AutoEnable() const { return auto_enable_; }
  void AutoEnable(bool on) { auto_enable_ = on; }
  // "Cmd+" and one capital letter, or the empty text for none.
  const std::string& KeyboardShortcut() const { return shortcut_; }
  void KeyboardShortcut(const std::string& shortcut) { shortcut_ = shortcut; }
  bool IsSeparator() const { return text_ == "-"; }

  void Append(std::shared_ptr<MenuItem> item);
  int Count() const { return static_cast<int>(children_.size()); }
  std::shared_ptr<MenuItem> Item(int index) const;  // from 0; nullptr outside
  // The direct child of that name, or nullptr.
  std::shared_ptr<MenuItem> Child(const std::string& name) const;
  // The item of that name anywhere below `root` (root included), or nullptr.
  static std::shared_ptr<MenuItem> Lookup(const std::shared_ptr<MenuItem>& root,
                                          const std::string& name);

  // User input: the item was chosen. Without a handler of its own the
  // framework's default applies, which does nothing for a plain item.
  virtual void UserChoose() {}

 private:
  std::string name_, text_, shortcut_;
  bool auto_enable_ = false;
  std::vector<std::shared_ptr<MenuItem>> children_;
};

// Choosing it runs the framework's quit action (RuntimeQuitAction).
class QuitMenuItem : public MenuItem {
 public:
  void UserChoose() override;
};

class MenuBar : public MenuItem {
 public:
  ~MenuBar() override;
};

// --- windows ----------------------------------------------------------------

// A rectangle in the desktop's coordinates: a screen, or a window's frame.
struct ScreenRect {
  int left = 0, top = 0, width = 0, height = 0;
};

// Where a window's frame (its outer rectangle: title bar, menu bar and
// content) goes when asked to lie at frame.left, frame.top. Unchanged while
// its title bar, the frame's top title_height rows (one at least), shows on
// a screen, however little of it. Otherwise the frame goes onto the screen
// nearest to its title bar, as far inside it as it fits, the size kept;
// where it is wider or taller than that screen, its left or top edge is the
// screen's. Without screens nothing moves.
std::pair<int, int> PlaceFrameOnScreens(const ScreenRect& frame, int title_height,
                                        const std::vector<ScreenRect>& screens);

enum class WindowEvent {
  Layout, CreateControls, Open, Close, CancelClose, Activate, Deactivate,
  Moved, Resized, Resizing, Paint, AddMenuHandlers, EnableMenuItems,
};

class Window : public Object, public std::enable_shared_from_this<Window> {
 public:
  // The instance set-up: the platform window comes with the object
  // (RuntimeCreateWindow happens in Constructor, once the object is shared).
  Window();
  ~Window() override;

  // The framework's window constructor (WindowDefaultConstructor): registers
  // the window under its class name, creates the platform window, raises
  // Layout and CreateControls, clears ContentsChanged, and, when Visible,
  // shows the window, raises Open and activates it (Activate).
  void Constructor();

  // The class name the window is registered under ("Window1.Window1"), set by
  // RuntimeNewObject from the class's registration.
  const std::string& ClassName() const { return class_name_; }
  void SetClassName(const std::string& name) { class_name_ = name; }

  // Geometry. Left and Top place the window; Width and Height are its content
  // area and are kept within the size limits.
  int Left() const { return left_; }
  void Left(int left);
  int Top() const { return top_; }
  void Top(int top);
  int Width() const { return width_; }
  void Width(int width);
  int Height() const { return height_; }
  void Height(int height);
  int MinWidth() const { return min_width_; }
  int MinHeight() const { return min_height_; }
  int MaxWidth() const { return max_width_; }
  int MaxHeight() const { return max_height_; }

  const std::string& Title() const { return title_; }
  void Title(const std::string& title);
  bool Visible() const { return visible_; }
  bool Resizeable() const { return resizeable_; }
  bool LiveResize() const { return live_resize_; }
  bool CloseButton() const { return close_button_; }
  bool MinimizeButton() const { return minimize_button_; }
  bool MaximizeButton() const { return maximize_button_; }
  bool MenuBarVisible() const { return menu_bar_visible_; }
  bool ContentsChanged() const { return contents_changed_; }
  void ContentsChanged(bool changed) { contents_changed_ = changed; }
  bool IsActive() const { return active_; }
  bool IsOpen() const { return open_; }

  const std::shared_ptr<platform::MenuBar>& MenuBar() const { return menu_bar_; }
  void MenuBar(std::shared_ptr<platform::MenuBar> bar);

  // A batch of design values (unknown names raise RuntimeException); the
  // size limits of the batch apply to its size.
  void SetProperties(const PropertyList& values);
  PropertyValue GetProperty(const std::string& name) const;

  // Controls. New makes a control for this window (Window.__New);
  // AddControl registers it under its name; ControlByName finds it (nullptr
  // when there is none).
  template <class T>
  std::shared_ptr<T> New() {
    auto control = std::make_shared<T>();
    control->window_ = weak_from_this();
    return control;
  }
  void AddControl(const std::string& name, const std::shared_ptr<RectControl>& control);
  std::shared_ptr<RectControl> ControlByName(const std::string& name) const;
  const std::vector<std::shared_ptr<RectControl>>& Controls() const { return controls_; }

  // Event handlers: one per event; an unbound event takes the framework's
  // default. CancelClose's handler gives true to refuse a close.
  void AddEventHandler(WindowEvent event, std::function<void()> handler);
  void AddCancelCloseHandler(std::function<bool()> handler);
  bool HasHandler(WindowEvent event) const;
  // How many times the program's handler of an event ran.
  int HandlerRuns(WindowEvent event) const;

  // Closes the window as the close button does.
  void Close() { UserClose(); }

  // User input and platform notices; each raises what the platform would.
  void UserActivate();
  void UserDeactivate();
  void UserMove(int left, int top);
  void UserResize(int width, int height);  // clamped to the limits
  // The platform puts the window where it opens: a frame (at Left, Top, of
  // the size the platform gives it) that would lie off every screen is moved
  // onto the nearest (PlaceFrameOnScreens). Raises nothing; true when moved.
  bool PlaceOnScreens(const std::vector<ScreenRect>& screens, int frame_width, int frame_height,
                      int title_height);
  // Asks to close: CancelClose may refuse; else Close runs, the window
  // leaves the registry and the platform window goes. True when closed.
  bool UserClose();

  backend::WindowPeer* Peer() const { return peer_.get(); }
  void Changed();  // tells the backend to mirror the model

 private:
  void Raise(WindowEvent event);
  void ApplySize(int width, int height, bool raise_resized);

  std::string class_name_;
  int left_ = 0, top_ = 0, width_ = 300, height_ = 300;
  int min_width_ = 64, min_height_ = 64, max_width_ = 32000, max_height_ = 32000;
  std::string title_ = "Untitled";
  bool visible_ = true, resizeable_ = true, live_resize_ = true, close_button_ = true,
       minimize_button_ = true, maximize_button_ = true, menu_bar_visible_ = true;
  bool contents_changed_ = false, active_ = false, open_ = false, closed_ = false;
  std::shared_ptr<platform::MenuBar> menu_bar_;
  std::map<std::string, PropertyValue> design_;
  std::vector<std::shared_ptr<RectControl>> controls_;
  std::map<WindowEvent, std::function<void()>> handlers_;
  std::map<WindowEvent, int> runs_;
  std::function<bool()> cancel_close_;
  std::unique_ptr<backend::WindowPeer> peer_;
};

// The window registered under a class name, or nullptr (the registry the
// single-instance accessors consult).
std::shared_ptr<Window> RuntimeGetImplicitWindow(const std::string& class_name);
std::shared_ptr<Window> GetImplicitWindow(const std::string& class_name);

// Applies a batch of design values to a window or control.
void SetProperties(Window& window, const PropertyList& values);
void SetProperties(RectControl& control, const PropertyList& values);

// Event delegates: a binding of an object's method that does not keep the
// object alive (calling it once the object is gone raises
// NilObjectException).
template <class C, class R, class... A>
std::function<R(A...)> RuntimeCreateDelegate(R (C::*method)(A...), const std::shared_ptr<C>& object) {
  std::weak_ptr<C> weak = object;
  return [weak, method](A... args) -> R {
    auto self = weak.lock();
    return (Deref(self, "delegate target").*method)(args...);
  };
}
void RuntimeAddEventHandler(Listbox& list, const std::string& event, Listbox::CellClickHandler handler);

// Shows one message to the user (modal in a real window; the headless
// backend records it and writes it to standard error).
void MsgBox(const std::string& message);

// While one lives, the application's windows show the busy cursor; it goes
// when the last one ends, also when an exception ends its scope.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace platform
