// Floods of maximal requests; see Floods.h.
#include "server/Floods.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "platform/Base64Encoding.h"
#include "rest/json/JSONText.h"
#include "server/ServerCalls.h"
#include "support/RawClient.h"

namespace qvr::test {

namespace {

using namespace std::chrono_literals;

const std::string kCredentials = "Authorization: Basic a2lvc2NvOg==\r\n";  // kiosco:

// A dataset list whose one blob inflates to about AInflated bytes of zeros
// (zlib level 9, about a thousandth of that on the wire).
std::string InflatingUpload(std::size_t AInflated) {
  const std::string zeros(AInflated, '\0');
  std::string stream(compressBound(static_cast<uLong>(zeros.size())), '\0');
  uLongf size = static_cast<uLongf>(stream.size());
  if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uLong>(zeros.size()),
                9) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  stream.resize(size);
  // The marshalled form of a real list, with its blob replaced.
  std::string document = MarshalList(*AttendanceList(1, 1, 1));
  const auto blob = document.find("\"FValue\":\"eJ");
  const auto end = document.find('"', blob + 10);
  document.replace(blob + 10, end - (blob + 10), TBase64Encoding::Base64().EncodeLine(stream));
  return "{\"_parameters\":[\"flood.csv\"," + document + "]}";
}

std::string RequestOf(int APort, TFloodKind AKind, std::size_t AMaxBody,
                      const std::string& AUpload) {
  const std::string rest = "/rpc/rest/TQVRServerMethods/";
  switch (AKind) {
    case TFloodKind::Bodies:
      return TRawClient::Request(APort, rest + "%22ActualizarEmpleado%22/", "POST", kCredentials,
                                 std::string(AMaxBody, ' '));
    case TFloodKind::Headers: {
      std::string fields;
      // Just within both limits: 63 fields besides Host, 16 KiB in all.
      for (int i = 0; i < 62; ++i)
        fields += "X-" + std::to_string(i) + ": " + std::string(250, 'v') + "\r\n";
      return TRawClient::Request(APort, rest + "EchoString/x/", "GET", kCredentials + fields);
    }
    case TFloodKind::SlowHeads:
      return "GET " + rest + "EchoString/x/ HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    case TFloodKind::JSONArrays: {
      std::string array = "[";
      while (array.size() + 3 < AMaxBody) array += "0,";
      array += "0]";
      return TRawClient::Request(APort, rest + "%22ActualizarEmpleado%22/", "POST", kCredentials,
                                 array);
    }
    case TFloodKind::InflatingUploads:
      return TRawClient::Request(APort, rest + "%22SubirAsistencia%22/", "POST", kCredentials,
                                 AUpload);
  }
  return {};
}

}  // namespace

const char* FloodName(TFloodKind AKind) {
  switch (AKind) {
    case TFloodKind::Bodies:
      return "maximal bodies";
    case TFloodKind::Headers:
      return "maximal head sets";
    case TFloodKind::SlowHeads:
      return "heads that never end";
    case TFloodKind::JSONArrays:
      return "huge JSON arrays";
    case TFloodKind::InflatingUploads:
      return "uploads that inflate without end";
  }
  return "?";
}

TFlood::TFlood(int APort, TFloodKind AKind, int AConnections, std::size_t AMaxBody,
               const std::string& AFromAddress)
    : FCount(AConnections) {
  const std::string upload = AKind == TFloodKind::InflatingUploads
                                 ? InflatingUpload(std::min(AMaxBody * 512, std::size_t{1} << 30))
                                 : std::string();
  const auto request =
      std::make_shared<const std::string>(RequestOf(APort, AKind, AMaxBody, upload));
  for (int i = 0; i < AConnections; ++i) {
    FThreads.emplace_back([this, APort, AFromAddress, request] {
      try {
        TRawClient client(APort, AFromAddress);
        client.Send(*request);
        // A slow head waits here until the server cuts it off.
        while (!FStop) {
          if (client.Read(200ms)) {
            ++FAnswered;
            break;
          }
          if (client.ClosedWithin(1ms)) break;
        }
      } catch (const std::exception&) {
        // Refused at once (the caps): counts as done.
      }
      ++FDone;
    });
  }
}

TFlood::~TFlood() {
  FStop = true;
  for (auto& thread : FThreads) thread.join();
}

int TFlood::Wait(int ASeconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(ASeconds);
  while (FDone < FCount && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(50ms);
  }
  return FAnswered;
}

}  // namespace qvr::test
