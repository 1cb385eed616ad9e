// The window's frame and checkbox, kept between runs in "vellowmark.pref":
// five lines, left, top, width, height and the checkbox (1 ticked).
#include "app/main_window.h"
#include "platform/text.h"

namespace {

using platform::Deref;

int32_t ReadNumber(platform::TextInputStream& stream) {
  return platform::ToInt32(platform::Val(stream.ReadLine()));
}

}  // namespace

void Window1::Event_Open() {
  gMyPref = platform::SpecialFolder::Preferences();
  gMyPref = Deref(gMyPref, "preferences folder").Child("vellowmark.pref");

  if (Deref(gMyPref, "preferences file").Exists()) {
    if (auto stream = gMyPref->OpenAsTextFile()) {
      // Five lines, read without an end test: what is missing reads as 0.
      int32_t left = ReadNumber(*stream);
      int32_t top = ReadNumber(*stream);
      const int32_t width = ReadNumber(*stream);
      const int32_t height = ReadNumber(*stream);
      const int32_t flag = ReadNumber(*stream);
      if (left < 10) left = 10;
      if (top < 40) top = 40;
      ::Window1()->Left(left);
      ::Window1()->Top(top);
      ::Window1()->Width(width);
      ::Window1()->Height(height);
      Deref(::Window1()->CB1(), "CB1").Value(flag == 1);
      stream->Close();
    }
  }
  AI_ACCTIVE();
}

void Window1::Event_Close() {
  auto& file = Deref(gMyPref, "preferences file");
  auto stream = file.CreateTextFile();
  file.MacType("pref");
  auto& out = Deref(stream, "preferences stream");
  out.WriteLine(platform::Str(::Window1()->Left()));
  out.WriteLine(platform::Str(::Window1()->Top()));
  out.WriteLine(platform::Str(::Window1()->Width()));
  out.WriteLine(platform::Str(::Window1()->Height()));
  out.WriteLine(engine::ClearOverridesFlag(Deref(::Window1()->CB1(), "CB1").Value()));
  out.Close();
  platform::Quit(0);
}
