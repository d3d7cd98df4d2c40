// The component vocabulary shared by the socket and FTP components: a base object for
// event senders and the plain notification event (Sender only). An unassigned event is
// not fired.
#pragma once

#include <functional>

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
