// The server's options record as the client keeps it: a plain object whose
// one field the server fills through the options call.
#pragma once

#include <cstdint>

#include "platform/Classes.h"

namespace qvr::client {

// Travels as the marshalled object "uGral.TOpciones" with its one field
// "IDStatusDefault" (registered by RegisterGralClasses below).
class TOpciones : public TObject {
 public:
  TOpciones() = default;
  TOpciones(const TOpciones&) = default;
  TOpciones& operator=(const TOpciones&) = default;
  ~TOpciones() override = default;

  std::int32_t IDStatusDefault = 0;
};

// Registers TOpciones with the class registry, once (later calls only return
// true). Every translation unit that includes this header calls it while the
// program starts (the hook below), so the class is registered in every
// program that can name it, whatever the linker keeps of the static core
// library; the data module, which holds the options record, includes it in
// every client program (docs/json.md).
bool RegisterGralClasses();

namespace detail {
inline const bool kGralClassesRegistered = RegisterGralClasses();
}  // namespace detail

}  // namespace qvr::client
