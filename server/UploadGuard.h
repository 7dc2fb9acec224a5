// A check made before an uploaded dataset list is decoded: the zlib blobs of
// a small body can inflate to many gigabytes, so the server first counts,
// without keeping them, the bytes every blob of the document inflates to, and
// refuses the upload when they exceed a limit.
#pragma once

#include <cstddef>

#include "rest/json/JSONValues.h"

namespace qvr::server {

// Raises EHttpError 413 when the strings of ADocument that hold zlib streams
// in base64 (every string beginning with "eJ") inflate to more than
// AMaxBytes together. Blobs that are not valid zlib data are left to the
// decoder, which reports them.
void CheckInflatedSize(const rest::TJSONValue& ADocument, std::size_t AMaxBytes);

}  // namespace qvr::server
