// The server reaching a client layer.
#include "client/Module.h"
