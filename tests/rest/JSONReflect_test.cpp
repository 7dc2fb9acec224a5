#include "rest/JSONReflect.h"

#include <gtest/gtest.h>
