#include <functional>
#include <string_view>
#include <utility>

#include "engine/style_rules.h"
#include "host/host_scripts.h"
#include "platform/scripting.h"
#include "platform/text.h"

namespace engine {
namespace {

// Each value is moved, not copied, into the request when the caller can
// spare it: a dense rule's lists can be many times the size of the text.
template <class... Texts>
std::vector<platform::Variant> Values(Texts&&... texts) {
  std::vector<platform::Variant> values;
  values.reserve(sizeof...(texts));
  (values.emplace_back(std::string(std::forward<Texts>(texts))), ...);
  return values;
}

// A request's lists: numbers, each followed by ",". Entry i of one list
// belongs with entry i of the others.
using Lists = std::vector<std::string_view>;

// What the values of a request other than its lists take of a call's room.
template <class... Texts>
size_t CostOf(const Texts&... texts) {
  return (platform::ScriptValueCost(texts.size()) + ...);
}

// Whether lists of these sizes fit one call beside values costing `fixed`.
bool Fits(const platform::ScriptArgumentRoom& room, size_t fixed,
          const std::vector<size_t>& sizes) {
  size_t cost = fixed;
  for (size_t size : sizes) {
    if (size > room.per_value) return false;
    cost += platform::ScriptValueCost(size);
  }
  return cost <= room.in_all;
}

// Cuts the lists into runs of whole entries, in order, entry i of every list
// in the same run, each run as long as one call can carry beside the other
// values, and hands each run to `send`. A run holds at least one entry, so
// an entry too long for any call is still sent, and fails on its own. When
// not even the other values fit, the lists go whole, in one call that fails.
void ForEachRun(const Lists& lists, size_t fixed, const platform::ScriptArgumentRoom& room,
                const std::function<void(const Lists&)>& send) {
  const size_t n = lists.size();
  if (!Fits(room, fixed, std::vector<size_t>(n, 0))) return send(lists);
  std::vector<size_t> at(n, 0), size(n, 0), grown(n, 0);
  auto exhausted = [&] {
    for (size_t k = 0; k < n; ++k)
      if (at[k] < lists[k].size()) return false;
    return true;
  };
  while (!exhausted()) {
    std::vector<size_t> start = at;
    std::fill(size.begin(), size.end(), 0);
    bool empty = true;
    while (!exhausted()) {
      for (size_t k = 0; k < n; ++k) {
        const size_t comma = lists[k].find(',', at[k]);
        const size_t end = comma == std::string_view::npos ? lists[k].size() : comma + 1;
        grown[k] = size[k] + (end - at[k]);
      }
      if (!empty && !Fits(room, fixed, grown)) break;
      for (size_t k = 0; k < n; ++k) at[k] = start[k] + grown[k];
      std::swap(size, grown);
      empty = false;
    }
    Lists run(n);
    for (size_t k = 0; k < n; ++k) run[k] = lists[k].substr(start[k], size[k]);
    send(run);
  }
}

}  // namespace

// A request whose lists would not fit one call goes as several, each with a
// run of the lists' entries and every other value as it is.
void SendCharacterRequest(const std::string& positions, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag) {
  std::string starts = platform::NthField(positions, "<>", 1);
  std::string ends = platform::NthField(positions, "<>", 2);
  const auto room = platform::ScriptArgumentRoomNow();
  const size_t fixed = CostOf(style, address1, address2, clear_flag);
  if (Fits(room, fixed, {starts.size(), ends.size()})) {
    applyCS(Values(std::move(starts), std::move(ends), style, address1, address2, clear_flag));
    return;
  }
  ForEachRun({starts, ends}, fixed, room, [&](const Lists& run) {
    applyCS(Values(run[0], run[1], style, address1, address2, clear_flag));
  });
}

void SendParagraphRequest(const std::string& paragraphs, const std::string& style,
                          const std::string& address1, const std::string& address2,
                          const std::string& clear_flag) {
  const auto room = platform::ScriptArgumentRoomNow();
  const size_t fixed = CostOf(style, address1, address2, clear_flag);
  if (Fits(room, fixed, {paragraphs.size()})) {
    applyPS(Values(paragraphs, style, address1, address2, clear_flag));
    return;
  }
  ForEachRun({paragraphs}, fixed, room, [&](const Lists& run) {
    applyPS(Values(run[0], style, address1, address2, clear_flag));
  });
}

}  // namespace engine
