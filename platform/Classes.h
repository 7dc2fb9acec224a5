// The root of the core's object model. Every class whose instances travel as
// marshalled objects, or that raise events with a Sender, derives from TObject
// so that such objects can be held, passed and released through one base.
#pragma once

#include <functional>

namespace qvr {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
};

// The plain event: who raised it.
using TNotifyEvent = std::function<void(TObject* Sender)>;

}  // namespace qvr
