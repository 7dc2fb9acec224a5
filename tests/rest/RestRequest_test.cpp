#include "rest/RestRequest.h"
#include <gtest/gtest.h>
