// The rule-set list: one row per "*.txt" entry of "reglist", refreshed on
// every activation; a click runs that rule set.
#include "app/main_window.h"
#include "platform/runtime.h"
#include "platform/text.h"

void Window1::Event_Activate() {
  using platform::Deref;
  auto list = Listbox1();
  Deref(list, "Listbox1").DeleteAllRows();

  auto folder = platform::GetFolderItem("reglist", 0);
  const int count = Deref(folder, "rule-set folder").Count();
  for (int i = 1; i <= count; ++i) {
    const std::string name = Deref(folder->Item(i), "rule-set entry").DisplayName();
    if (!platform::TextEquals(platform::Left(name, 1), ".")) {
      if (platform::TextEquals(platform::Right(name, 4), ".txt"))
        list->AddRow(platform::Left(name, platform::Len(name) - 4));
    }
    platform::RuntimeBackgroundTask();
  }
}

bool Window1::Listbox1_CellClick(const std::shared_ptr<platform::Listbox>& list, int32_t row,
                                 int32_t /*column*/, int32_t /*x*/, int32_t /*y*/) {
  MainScpt(platform::Deref(list, "list").Cell(row, 0) + ".txt");
  return false;
}
