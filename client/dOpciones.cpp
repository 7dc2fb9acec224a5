// The options utility's data module; see dOpciones.h.
#include "client/dOpciones.h"

namespace qvr::client {

TdmOpciones* dmOpciones = nullptr;

}  // namespace qvr::client
