#include "platform/ui.h"

#include <algorithm>
#include <set>

#include "platform/backend.h"
#include "platform/runtime_internal.h"

namespace platform {
namespace {

int AsInt(const std::string& name, const PropertyValue& v) {
  if (auto* i = std::get_if<int>(&v)) return *i;
  if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (auto* d = std::get_if<double>(&v)) return static_cast<int>(*d);
  throw RuntimeException("property " + name + " takes a number");
}

bool AsBool(const std::string& name, const PropertyValue& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b;
  if (auto* i = std::get_if<int>(&v)) return *i != 0;
  throw RuntimeException("property " + name + " takes a Boolean");
}

double AsDouble(const std::string& name, const PropertyValue& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* i = std::get_if<int>(&v)) return *i;
  throw RuntimeException("property " + name + " takes a number");
}

std::string AsString(const std::string& name, const PropertyValue& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  throw RuntimeException("property " + name + " takes a text");
}

PropertyValue DesignValue(const std::map<std::string, PropertyValue>& design,
                          const std::string& name) {
  auto it = design.find(name);
  if (it == design.end()) throw RuntimeException("property " + name + " is not set");
  return it->second;
}

bool Known(const std::set<std::string>& names, const std::string& name) {
  return names.count(name) != 0;
}

const char* EventName(WindowEvent event) {
  switch (event) {
    case WindowEvent::Layout: return "Layout";
    case WindowEvent::CreateControls: return "CreateControls";
    case WindowEvent::Open: return "Open";
    case WindowEvent::Close: return "Close";
    case WindowEvent::CancelClose: return "CancelClose";
    case WindowEvent::Activate: return "Activate";
    case WindowEvent::Deactivate: return "Deactivate";
    case WindowEvent::Moved: return "Moved";
    case WindowEvent::Resized: return "Resized";
    case WindowEvent::Resizing: return "Resizing";
    case WindowEvent::Paint: return "Paint";
    case WindowEvent::AddMenuHandlers: return "AddMenuHandlers";
    case WindowEvent::EnableMenuItems: return "EnableMenuItems";
  }
  return "?";
}

// Design values a control keeps without acting on them.
const std::set<std::string> kControlDesign = {
    "Index", "TabPanelIndex", "TabStop", "AutoDeactivate", "TextFont", "Bold", "Italic",
    "Underline", "HelpTag", "DataSource", "DataField", "InitialParent", "TextUnit", "TextSize"};
const std::set<std::string> kListboxDesign = {
    "Border", "ColumnWidths", "HeadingIndex", "UseFocusRing", "InitialValue",
    "AutoHideScrollbars", "GridLinesHorizontal", "GridLinesVertical", "DefaultRowHeight",
    "ScrollWidth", "Hierarchical", "EnableDrag", "EnableDragReorder", "RequiresSelection",
    "ColumnsResizable", "SelectionType"};
const std::set<std::string> kWindowDesign = {
    "Placement", "Frame", "Composite", "HasBackColor", "BackColor", "FullScreen", "MacProcId"};

}  // namespace

// --- RectControl ------------------------------------------------------------

RectControl::~RectControl() = default;

void RectControl::Constructor() {}

void RectControl::TextUnit(uint8_t unit) {
  text_unit_ = unit;
  design_["TextUnit"] = static_cast<int>(unit);
}

void RectControl::SetProperty(const std::string& name, const PropertyValue& value) {
  if (name == "Left") left_ = AsInt(name, value);
  else if (name == "Top") top_ = AsInt(name, value);
  else if (name == "Width") width_ = AsInt(name, value);
  else if (name == "Height") height_ = AsInt(name, value);
  else if (name == "LockLeft") lock_left_ = AsBool(name, value);
  else if (name == "LockTop") lock_top_ = AsBool(name, value);
  else if (name == "LockRight") lock_right_ = AsBool(name, value);
  else if (name == "LockBottom") lock_bottom_ = AsBool(name, value);
  else if (name == "TabIndex") tab_index_ = AsInt(name, value);
  else if (name == "Visible") visible_ = AsBool(name, value);
  else if (name == "Enabled") enabled_ = AsBool(name, value);
  else if (name == "Name") name_ = AsString(name, value);
  else if (!Known(kControlDesign, name)) throw RuntimeException("unknown control property " + name);
  design_[name] = value;
  Changed();
}

PropertyValue RectControl::GetProperty(const std::string& name) const {
  return DesignValue(design_, name);
}

void RectControl::ParentResized(int dx, int dy) {
  if (lock_left_ && lock_right_) width_ += dx;
  else if (lock_right_) left_ += dx;
  if (lock_top_ && lock_bottom_) height_ += dy;
  else if (lock_bottom_) top_ += dy;
}

void RectControl::Changed() {
  if (auto window = window_.lock()) window->Changed();
}

// --- Listbox ------------------------------------------------------------------

void Listbox::AddRow(const std::string& text) {
  rows_.push_back(text);
  Changed();
}

void Listbox::DeleteAllRows() {
  rows_.clear();
  Changed();
}

std::string Listbox::Cell(int row, int column) const {
  if (row < 0 || row >= ListCount() || column != 0) return {};
  return rows_[static_cast<size_t>(row)];
}

void Listbox::SetProperty(const std::string& name, const PropertyValue& value) {
  if (name == "ColumnCount") column_count_ = std::max(1, AsInt(name, value));
  else if (name == "ScrollBarVertical") scroll_bar_vertical_ = AsBool(name, value);
  else if (name == "ScrollBarHorizontal") scroll_bar_horizontal_ = AsBool(name, value);
  else if (name == "HasHeading") has_heading_ = AsBool(name, value);
  else if (name == "InitialValue") {
    const std::string rows = AsString(name, value);
    if (!rows.empty()) AddRow(rows);
  } else if (!Known(kListboxDesign, name)) {
    return RectControl::SetProperty(name, value);
  }
  KeepDesign(name, value);
  Changed();
}

bool Listbox::UserClickCell(int row, int column, int x, int y) {
  if (row < 0 || row >= ListCount() || !cell_click_) return false;
  auto self = std::static_pointer_cast<Listbox>(shared_from_this());
  return cell_click_(self, row, column, x, y);
}

// --- CheckBox -----------------------------------------------------------------

void CheckBox::Caption(const std::string& caption) {
  caption_ = caption;
  Changed();
}

void CheckBox::Value(bool ticked) { State(ticked ? 1 : 0); }

void CheckBox::State(int state) {
  state_ = std::clamp(state, 0, 2);
  Changed();
}

void CheckBox::TextSize(float size) {
  text_size_ = size;
  Changed();
}

void CheckBox::SetProperty(const std::string& name, const PropertyValue& value) {
  if (name == "Caption") Caption(AsString(name, value));
  else if (name == "State") State(AsInt(name, value));
  else if (name == "Value") Value(AsBool(name, value));
  else if (name == "TextSize") TextSize(static_cast<float>(AsDouble(name, value)));
  else return RectControl::SetProperty(name, value);
  KeepDesign(name, value);
}

void CheckBox::UserToggle() { Value(!Value()); }

// --- menus ----------------------------------------------------------------------

MenuItem::~MenuItem() = default;

void MenuItem::Append(std::shared_ptr<MenuItem> item) {
  Deref(item, "menu item");
  children_.push_back(std::move(item));
}

std::shared_ptr<MenuItem> MenuItem::Item(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return children_[static_cast<size_t>(index)];
}

std::shared_ptr<MenuItem> MenuItem::Child(const std::string& name) const {
  for (const auto& child : children_)
    if (child->Name() == name) return child;
  return nullptr;
}

std::shared_ptr<MenuItem> MenuItem::Lookup(const std::shared_ptr<MenuItem>& root,
                                           const std::string& name) {
  if (!root) return nullptr;
  if (root->Name() == name) return root;
  for (const auto& child : root->children_)
    if (auto found = Lookup(child, name)) return found;
  return nullptr;
}

void QuitMenuItem::UserChoose() { RuntimeQuitAction(); }

MenuBar::~MenuBar() {
  try {
    backend::NoteCall("MenuBar released");
  } catch (...) {
  }
}

// --- screens ----------------------------------------------------------------------

std::pair<int, int> PlaceFrameOnScreens(const ScreenRect& frame, int title_height,
                                        const std::vector<ScreenRect>& screens) {
  // 64-bit edges: a position read from a file may lie anywhere, and an edge
  // is an int plus an int.
  using I = int64_t;
  const I left = frame.left, top = frame.top;
  const I right = left + std::max(frame.width, 1), bottom = top + std::max(title_height, 1);
  // The squared distance from the title bar to each screen: 0 on it. A gap
  // between edges reaches 2^33 (a frame near INT_MAX, a screen near
  // INT_MIN), so its square and their sum need more than 64 bits.
  using D = unsigned __int128;
  const ScreenRect* nearest = nullptr;
  D best = 0;
  for (const ScreenRect& s : screens) {
    if (s.width <= 0 || s.height <= 0) continue;
    const I s_right = I{s.left} + s.width, s_bottom = I{s.top} + s.height;
    const I dx = right <= s.left ? s.left - right + 1 : left >= s_right ? left - s_right + 1 : 0;
    const I dy = bottom <= s.top ? s.top - bottom + 1 : top >= s_bottom ? top - s_bottom + 1 : 0;
    const D d = D(dx) * D(dx) + D(dy) * D(dy);  // dx, dy >= 0
    if (d == 0) return {frame.left, frame.top};
    if (!nearest || d < best) {
      nearest = &s;
      best = d;
    }
  }
  if (!nearest) return {frame.left, frame.top};
  const auto fit = [](I pos, int size, int s_pos, int s_size) -> int {
    if (size >= s_size) return s_pos;
    return static_cast<int>(std::clamp(pos, I{s_pos}, I{s_pos} + s_size - size));
  };
  return {fit(left, frame.width, nearest->left, nearest->width),
          fit(top, frame.height, nearest->top, nearest->height)};
}

// --- Window -----------------------------------------------------------------------

Window::Window() = default;

Window::~Window() {
  if (peer_) peer_->Destroy();
}

void Window::Constructor() {
  backend::NoteCall("Window.Constructor " + class_name_);
  detail::KeepWindow(shared_from_this());
  peer_ = backend::Current().CreateWindowPeer(*this);
  Raise(WindowEvent::Layout);
  Raise(WindowEvent::CreateControls);
  contents_changed_ = false;
  if (!visible_) return;
  open_ = true;
  Raise(WindowEvent::Open);
  if (closed_) return;
  peer_->Changed();
  peer_->Show();
  UserActivate();
}

void Window::Left(int left) {
  left_ = left;
  Changed();
}

void Window::Top(int top) {
  top_ = top;
  Changed();
}

void Window::Width(int width) { ApplySize(width, height_, false); }
void Window::Height(int height) { ApplySize(width_, height, false); }

void Window::Title(const std::string& title) {
  title_ = title;
  Changed();
}

void Window::MenuBar(std::shared_ptr<platform::MenuBar> bar) {
  menu_bar_ = std::move(bar);
  Changed();
}

void Window::ApplySize(int width, int height, bool raise_resized) {
  width = std::clamp(width, min_width_, std::max(min_width_, max_width_));
  height = std::clamp(height, min_height_, std::max(min_height_, max_height_));
  const int dx = width - width_, dy = height - height_;
  width_ = width;
  height_ = height;
  if (dx != 0 || dy != 0)
    for (const auto& control : controls_) control->ParentResized(dx, dy);
  Changed();
  if (raise_resized && (dx != 0 || dy != 0)) Raise(WindowEvent::Resized);
}

void Window::SetProperties(const PropertyList& values) {
  int width = width_, height = height_;
  for (const auto& [name, value] : values) {
    if (name == "Width") width = AsInt(name, value);
    else if (name == "Height") height = AsInt(name, value);
    else if (name == "Left") left_ = AsInt(name, value);
    else if (name == "Top") top_ = AsInt(name, value);
    else if (name == "MinWidth") min_width_ = AsInt(name, value);
    else if (name == "MinHeight") min_height_ = AsInt(name, value);
    else if (name == "MaxWidth") max_width_ = AsInt(name, value);
    else if (name == "MaxHeight") max_height_ = AsInt(name, value);
    else if (name == "Title") title_ = AsString(name, value);
    else if (name == "Visible") visible_ = AsBool(name, value);
    else if (name == "Resizeable") resizeable_ = AsBool(name, value);
    else if (name == "LiveResize") live_resize_ = AsBool(name, value);
    else if (name == "CloseButton") close_button_ = AsBool(name, value);
    else if (name == "MinimizeButton") minimize_button_ = AsBool(name, value);
    else if (name == "MaximizeButton") maximize_button_ = AsBool(name, value);
    else if (name == "MenuBarVisible") menu_bar_visible_ = AsBool(name, value);
    else if (!Known(kWindowDesign, name)) throw RuntimeException("unknown window property " + name);
    design_[name] = value;
  }
  // The batch's limits hold for the batch's size.
  ApplySize(width, height, false);
}

PropertyValue Window::GetProperty(const std::string& name) const {
  return DesignValue(design_, name);
}

void Window::AddControl(const std::string& name, const std::shared_ptr<RectControl>& control) {
  Deref(control, "control");
  control->name_ = name;
  control->window_ = weak_from_this();
  controls_.push_back(control);
  Changed();
}

std::shared_ptr<RectControl> Window::ControlByName(const std::string& name) const {
  for (const auto& control : controls_)
    if (control->Name() == name) return control;
  return nullptr;
}

void Window::AddEventHandler(WindowEvent event, std::function<void()> handler) {
  handlers_[event] = std::move(handler);
}

void Window::AddCancelCloseHandler(std::function<bool()> handler) {
  cancel_close_ = std::move(handler);
}

bool Window::HasHandler(WindowEvent event) const {
  if (event == WindowEvent::CancelClose) return static_cast<bool>(cancel_close_);
  auto it = handlers_.find(event);
  return it != handlers_.end() && it->second;
}

int Window::HandlerRuns(WindowEvent event) const {
  auto it = runs_.find(event);
  return it == runs_.end() ? 0 : it->second;
}

void Window::Raise(WindowEvent event) {
  backend::NoteCall(std::string("Window event ") + EventName(event));
  auto it = handlers_.find(event);
  if (it == handlers_.end() || !it->second) return;
  ++runs_[event];
  // A copy: a handler may rebind, or close and release, its window.
  auto handler = it->second;
  handler();
}

void Window::UserActivate() {
  if (active_ || !open_) return;
  active_ = true;
  Raise(WindowEvent::Activate);
}

void Window::UserDeactivate() {
  if (!active_) return;
  active_ = false;
  Raise(WindowEvent::Deactivate);
}

void Window::UserMove(int left, int top) {
  if (left == left_ && top == top_) return;
  left_ = left;
  top_ = top;
  Changed();
  Raise(WindowEvent::Moved);
}

void Window::UserResize(int width, int height) { ApplySize(width, height, true); }

bool Window::PlaceOnScreens(const std::vector<ScreenRect>& screens, int frame_width,
                            int frame_height, int title_height) {
  const auto [left, top] =
      PlaceFrameOnScreens({left_, top_, frame_width, frame_height}, title_height, screens);
  if (left == left_ && top == top_) return false;
  left_ = left;
  top_ = top;
  return true;
}

bool Window::UserClose() {
  if (closed_) return true;
  if (cancel_close_) {
    ++runs_[WindowEvent::CancelClose];
    if (cancel_close_()) return false;
  }
  auto self = shared_from_this();  // alive until the close is complete
  Raise(WindowEvent::Close);
  closed_ = true;
  open_ = false;
  active_ = false;
  if (peer_) peer_->Destroy();
  detail::ReleaseWindow(this);
  return true;
}

void Window::Changed() {
  if (peer_) peer_->Changed();
}

void SetProperties(Window& window, const PropertyList& values) { window.SetProperties(values); }

void SetProperties(RectControl& control, const PropertyList& values) {
  for (const auto& [name, value] : values) control.SetProperty(name, value);
}

void RuntimeAddEventHandler(Listbox& list, const std::string& event,
                            Listbox::CellClickHandler handler) {
  if (event != "CellClick") throw RuntimeException("Listbox has no event " + event);
  list.AddCellClickHandler(std::move(handler));
}

}  // namespace platform
