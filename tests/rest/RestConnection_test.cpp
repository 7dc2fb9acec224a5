#include "rest/RestConnection.h"
#include <gtest/gtest.h>
