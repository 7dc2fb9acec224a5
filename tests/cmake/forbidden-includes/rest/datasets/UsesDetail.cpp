// Reaching into the detail/ of a layer below.
#include "data/detail/Inner.h"
