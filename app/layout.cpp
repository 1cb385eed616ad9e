#include "app/main_window.h"
#include "app/menu_bar.h"

namespace {

using platform::PropertyList;

const PropertyList kWindowDesign = {
    {"Placement", 0},        {"Width", 160},          {"Height", 160},
    {"MinWidth", 64},        {"MinHeight", 64},       {"MaxWidth", 400},
    {"MaxHeight", 600},      {"Frame", 7},            {"Composite", false},
    {"HasBackColor", false}, {"BackColor", 0xFFFFFF}, {"Title", std::string("Vellowmark")},
    {"Visible", true},       {"FullScreen", false},   {"MenuBarVisible", true},
    {"CloseButton", true},   {"Resizeable", true},    {"LiveResize", true},
    {"MaximizeButton", false}, {"MinimizeButton", true}, {"MacProcId", 0},
};

// What both controls share.
PropertyList CommonDesign(const char* name) {
  return {
      {"Name", std::string(name)}, {"Index", INT32_MIN}, {"TabPanelIndex", 0},
      {"Visible", true},           {"Enabled", true},    {"AutoDeactivate", true},
      {"TextFont", std::string("System")}, {"Bold", false}, {"Italic", false},
      {"Underline", false},        {"HelpTag", std::string()}, {"DataSource", std::string()},
      {"DataField", std::string()}, {"InitialParent", std::string()},
  };
}

PropertyList ListboxDesign() {
  PropertyList design = CommonDesign("Listbox1");
  design.insert(design.end(), {
      {"Left", 6}, {"Top", 4}, {"Width", 148}, {"Height", 136},
      {"LockLeft", true}, {"LockTop", true}, {"LockRight", true}, {"LockBottom", true},
      {"TabIndex", 2}, {"TabStop", true}, {"Border", true},
      {"ColumnCount", 1}, {"ColumnWidths", std::string()},
      {"HasHeading", false}, {"HeadingIndex", -1}, {"UseFocusRing", true},
      {"InitialValue", std::string()},
      {"ScrollBarHorizontal", false}, {"ScrollBarVertical", true}, {"AutoHideScrollbars", true},
      {"GridLinesHorizontal", 0}, {"GridLinesVertical", 0}, {"DefaultRowHeight", -1},
      {"ScrollWidth", -1}, {"Hierarchical", false}, {"EnableDrag", false},
      {"EnableDragReorder", false}, {"RequiresSelection", false}, {"ColumnsResizable", false},
      {"SelectionType", 0},
  });
  return design;
}

PropertyList CheckBoxDesign() {
  PropertyList design = CommonDesign("CB1");
  design.insert(design.end(), {
      {"Left", 5}, {"Top", 138}, {"Width", 149}, {"Height", 20},
      {"LockLeft", true}, {"LockTop", false}, {"LockRight", false}, {"LockBottom", true},
      {"TabIndex", 3}, {"TabStop", true},
      {"Caption", std::string("clearing overrides")}, {"State", 1}, {"Value", true},
  });
  return design;
}

}  // namespace

void Window1::Layout() {
  MenuBar(::MenuBar1());
  platform::SetProperties(*this, kWindowDesign);
}

void Window1::CreateControls() { CreateControls0(); }

void Window1::CreateControls0() {
  using platform::Deref;
  auto self = std::static_pointer_cast<class Window1>(shared_from_this());

  auto list = New<platform::Listbox>();
  list->Constructor();
  AddControl("Listbox1", list);
  Deref(Listbox1(), "Listbox1").TextUnit(0);
  platform::SetProperties(Deref(Listbox1(), "Listbox1"), ListboxDesign());
  platform::RuntimeAddEventHandler(
      Deref(Listbox1(), "Listbox1"), "CellClick",
      platform::RuntimeCreateDelegate(&Window1::Listbox1_CellClick, self));

  auto box = New<platform::CheckBox>();
  box->Constructor();
  AddControl("CB1", box);
  Deref(CB1(), "CB1").TextSize(10.0f);
  Deref(CB1(), "CB1").TextUnit(0);
  platform::SetProperties(Deref(CB1(), "CB1"), CheckBoxDesign());
}

std::shared_ptr<platform::Listbox> Window1::Listbox1() {
  return std::dynamic_pointer_cast<platform::Listbox>(ControlByName("Listbox1"));
}

std::shared_ptr<platform::CheckBox> Window1::CB1() {
  return std::dynamic_pointer_cast<platform::CheckBox>(ControlByName("CB1"));
}
