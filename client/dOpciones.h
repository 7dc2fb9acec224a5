// The options utility's data module: the client data module as it stands.
#pragma once

#include "client/dBaseCliente.h"

namespace qvr::client {

class TdmOpciones : public TdmBaseCliente {};

// The program's one data module. The program entry owns it and sets this
// pointer for the time it lives; the window reaches the configuration here.
extern TdmOpciones* dmOpciones;

}  // namespace qvr::client
