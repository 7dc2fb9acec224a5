// The server's options record as the client keeps it: a plain object whose
// one field the server fills through the options call.
#pragma once

#include <cstdint>

#include "platform/Classes.h"

namespace qvr::client {

class TOpciones : public TObject {
 public:
  std::int32_t IDStatusDefault = 0;
};

}  // namespace qvr::client
