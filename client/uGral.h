// The server's options record as the client keeps it: a plain object whose
// one field the server fills through the options call.
#pragma once

#include <cstdint>

#include "platform/Classes.h"

namespace qvr::client {

// Travels as the marshalled object "uGral.TOpciones" with its one field
// "IDStatusDefault" (registered in uGral.cpp).
class TOpciones : public TObject {
 public:
  TOpciones() = default;
  TOpciones(const TOpciones&) = default;
  TOpciones& operator=(const TOpciones&) = default;
  // Defined in uGral.cpp so that every program that creates a TOpciones
  // also links its marshalling registration.
  ~TOpciones() override;

  std::int32_t IDStatusDefault = 0;
};

}  // namespace qvr::client
