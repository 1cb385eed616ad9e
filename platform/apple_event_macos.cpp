// Apple events on macOS: a real event through the Apple Event Manager,
// addressed to the application with the given four-character signature.
#include <string>

#include "platform/scripting.h"

// Only the underscored forms of check(), verify() and the like.
#define __ASSERT_MACROS_DEFINE_VERSIONS_WITHOUT_UNDERSCORES 0
#include <CoreServices/CoreServices.h>

namespace platform {

namespace {

// "misc" -> 'misc': the four bytes, the first one highest. A code that is
// not four bytes long fits no OSType.
bool ToOSType(const std::string& text, OSType* code) {
  if (text.size() != 4) return false;
  OSType value = 0;
  for (unsigned char c : text) value = (value << 8) | c;
  *code = value;
  return true;
}

// One descriptor, disposed of at the end of its scope.
class Descriptor {
 public:
  Descriptor() { AEInitializeDescInline(&desc_); }
  ~Descriptor() { AEDisposeDesc(&desc_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  AEDesc* get() { return &desc_; }

 private:
  AEDesc desc_;
};

// The same two seconds as the socket transport, in ticks of 1/60 s.
constexpr long kTimeoutTicks = 2 * 60;

}  // namespace

bool AppleEvent::Send() {
  OSType event_class = 0, event_id = 0, signature = 0;
  if (!ToOSType(class_, &event_class) || !ToOSType(id_, &event_id) ||
      !ToOSType(target_, &signature)) {
    return false;
  }
  Descriptor target;
  if (AECreateDesc(typeApplSignature, &signature, sizeof signature, target.get()) != noErr)
    return false;
  Descriptor event;
  if (AECreateAppleEvent(event_class, event_id, target.get(), kAutoGenerateReturnID,
                         kAnyTransactionID, event.get()) != noErr) {
    return false;
  }
  // Waiting for the reply is what tells a delivered event from one that did
  // not arrive: procNotFound (-600) when the target is not running,
  // errAETimeout (-1712) when it did not take the event in time, and
  // errAEEventNotPermitted (-1743) when the user has not allowed this
  // application to send it events.
  Descriptor reply;
  return AESendMessage(event.get(), reply.get(), kAEWaitReply | kAECanInteract, kTimeoutTicks) ==
         noErr;
}

}  // namespace platform
