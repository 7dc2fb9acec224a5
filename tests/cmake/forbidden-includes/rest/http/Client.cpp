// The HTTP layer reaching sideways into JSON.
#include "platform/Base.h"
#include "rest/json/Value.h"
