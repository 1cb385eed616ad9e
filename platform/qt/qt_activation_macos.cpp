#include "platform/qt/qt_activation.h"

namespace platform::qt {

// Cocoa hands the press that activates a window over in the same pass as
// the activation: the steady clock tells it from a later one.
bool RequestEventTime(QWidget*, std::function<void(uint32_t)>) { return false; }

}  // namespace platform::qt
