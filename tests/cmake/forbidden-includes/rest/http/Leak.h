// A public header leaking a third-party header.
#pragma once
#include <curl/curl.h>
