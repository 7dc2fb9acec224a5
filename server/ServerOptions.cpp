// Parsing the command line of qvr-server; see ServerOptions.h.
#include "server/ServerOptions.h"

#include <cmath>
#include <cstdlib>
#include <optional>

#include "platform/ComputerInfo.h"

namespace qvr::server {

namespace {

long long ParseCount(const std::string& AOption, const std::string& AText, long long AMin,
                     long long AMax) {
  if (AText.empty() || AText.size() > 18 ||
      AText.find_first_not_of("0123456789") != std::string::npos) {
    throw EServerOptionsError(AOption + " needs a whole number, not '" + AText + "'");
  }
  const long long value = std::stoll(AText);
  if (value < AMin || value > AMax) {
    throw EServerOptionsError(AOption + " must be between " + std::to_string(AMin) + " and " +
                              std::to_string(AMax));
  }
  return value;
}

// A size in bytes, with an optional K, M or G suffix (binary multiples).
std::size_t ParseSize(const std::string& AOption, const std::string& AText) {
  std::string digits = AText;
  long long factor = 1;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 'K':
      case 'k':
        factor = 1LL << 10;
        digits.pop_back();
        break;
      case 'M':
      case 'm':
        factor = 1LL << 20;
        digits.pop_back();
        break;
      case 'G':
      case 'g':
        factor = 1LL << 30;
        digits.pop_back();
        break;
      default:
        break;
    }
  }
  return static_cast<std::size_t>(ParseCount(AOption, digits, 1, (64LL << 30) / factor) * factor);
}

void ParseListen(const std::string& AText, TServerOptions& AOptions) {
  const auto colon = AText.rfind(':');
  if (colon == std::string::npos) {
    throw EServerOptionsError("--listen needs ADDRESS:PORT, not '" + AText + "'");
  }
  std::string host = AText.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  AOptions.ListenHost = host.empty() ? "127.0.0.1" : host;
  AOptions.ListenPort = static_cast<int>(ParseCount("--listen", AText.substr(colon + 1), 0, 65535));
}

long long ParseSeconds(const std::string& AOption, const std::string& AText) {
  char* end = nullptr;
  const double seconds = std::strtod(AText.c_str(), &end);
  if (AText.empty() || end != AText.c_str() + AText.size() || !std::isfinite(seconds) ||
      seconds <= 0 || seconds > 365.0 * 24 * 3600) {
    throw EServerOptionsError(AOption + " needs a positive number of seconds, not '" + AText + "'");
  }
  return std::max<long long>(1, std::llround(seconds * 1000));
}

}  // namespace

TServerOptions ParseServerOptions(const std::vector<std::string>& AArgs) {
  TServerOptions options;
  for (std::size_t i = 0; i < AArgs.size(); ++i) {
    std::string name = AArgs[i];
    std::optional<std::string> inlineValue;
    if (const auto equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != std::string::npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    const auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= AArgs.size()) throw EServerOptionsError(name + " needs a value");
      return AArgs[++i];
    };
    const auto flag = [&] {
      if (inlineValue) throw EServerOptionsError(name + " takes no value");
    };
    if (name == "--help" || name == "-h") {
      flag();
      options.Help = true;
    } else if (name == "--anonymous") {
      flag();
      options.Anonymous = true;
    } else if (name == "--listen") {
      ParseListen(value(), options);
    } else if (name == "--data") {
      options.DataFolder = value();
      if (options.DataFolder.empty()) throw EServerOptionsError("--data needs a folder");
    } else if (name == "--seed-employees") {
      options.SeedEmployees = static_cast<int>(ParseCount(name, value(), 0, 200000));
      options.SeedEmployeesGiven = true;
    } else if (name == "--session-timeout") {
      options.SessionTimeoutMs = ParseSeconds(name, value());
    } else if (name == "--max-sessions") {
      options.MaxSessions = static_cast<std::size_t>(ParseCount(name, value(), 1, 10000000));
    } else if (name == "--threads") {
      options.Threads = static_cast<int>(ParseCount(name, value(), 1, 1024));
    } else if (name == "--io-threads") {
      options.IoThreads = static_cast<int>(ParseCount(name, value(), 1, 64));
    } else if (name == "--max-body") {
      options.Limits.MaxBodyBytes = ParseSize(name, value());
    } else if (name == "--request-timeout") {
      options.Limits.HeadTimeout = std::chrono::milliseconds(ParseSeconds(name, value()));
      options.Limits.BodyGrace = options.Limits.HeadTimeout;
    } else if (name == "--idle-timeout") {
      options.Limits.IdleTimeout = std::chrono::milliseconds(ParseSeconds(name, value()));
    } else if (name == "--max-memory") {
      options.Limits.MaxMemoryBytes = ParseSize(name, value());
    } else if (name == "--max-connections") {
      options.Limits.MaxConnections =
          static_cast<std::size_t>(ParseCount(name, value(), 1, 1000000));
    } else if (name == "--max-connections-per-client") {
      options.Limits.MaxConnectionsPerClient =
          static_cast<std::size_t>(ParseCount(name, value(), 1, 1000000));
    } else if (name == "--tls-cert") {
      options.TlsCertFile = value();
      if (options.TlsCertFile.empty()) throw EServerOptionsError("--tls-cert needs a file");
    } else if (name == "--tls-key") {
      options.TlsKeyFile = value();
      if (options.TlsKeyFile.empty()) throw EServerOptionsError("--tls-key needs a file");
    } else if (name == "--allow-host") {
      const std::string hosts = value();
      std::size_t start = 0;
      while (start <= hosts.size()) {
        const auto comma = std::min(hosts.find(',', start), hosts.size());
        const std::string host = hosts.substr(start, comma - start);
        if (host.empty() || host.find_first_of(" /:@[]") != std::string::npos) {
          throw EServerOptionsError("--allow-host needs host names, not '" + hosts + "'");
        }
        options.AllowedHosts.push_back(host);
        start = comma + 1;
      }
    } else if (name == "--max-upload-inflated") {
      options.MaxInflatedUploadBytes = ParseSize(name, value());
    } else if (name == "--cache-commands") {
      options.CacheCommandsPerSession =
          static_cast<std::size_t>(ParseCount(name, value(), 1, 100000));
    } else if (name == "--cache-size") {
      options.CacheBytes = ParseSize(name, value());
    } else {
      throw EServerOptionsError("Unknown option '" + AArgs[i] + "'");
    }
  }
  if (options.TlsCertFile.empty() != options.TlsKeyFile.empty()) {
    throw EServerOptionsError("--tls-cert and --tls-key go together");
  }
  return options;
}

std::string ServerUsage() {
  return R"(Usage: qvr-server [options]
The reference attendance server: the remote methods of TQVRServerMethods over
REST at /rpc/rest/ and its cache area at /rpc/cache/, with SQLite storage.

  --listen ADDRESS:PORT    where to listen (default 127.0.0.1:8080; port 0 takes
                           any free port; the address listened on is printed)
  --data FOLDER            data folder (default $XDG_DATA_HOME/qvr-server or
                           ~/.local/share/qvr-server); created and seeded when new
  --seed-employees N       employees of a new database (default 300, at most 200000)
  --anonymous              also accept requests without credentials
  --session-timeout SECS   idle time after which a session expires (default 1200)
  --max-sessions N         sessions kept at most (default 10000)
  --threads N              worker threads for the methods and the database
                           (default 32)
  --io-threads N           threads serving the connections (default 2)
  --tls-cert FILE          serve https with this certificate (PEM, with its chain)
  --tls-key FILE           and this private key (PEM); both or neither
  --allow-host NAME[,NAME] host names clients reach the server by (IP addresses
                           and localhost are always taken; any other Host is 421)
  --max-body SIZE          largest request body (default 32M; K, M, G suffixes)
  --request-timeout SECS   a request's head must arrive within SECS, its body
                           within SECS more at 16K a second (default 10; 408)
  --idle-timeout SECS      a kept-alive connection may wait this long for its
                           next request (default 15)
  --max-memory SIZE        bytes of requests in flight in all (default 768M)
  --max-connections N      open connections in all (default 2048)
  --max-connections-per-client N
                           open connections from one address (default 64)
  --max-upload-inflated SIZE
                           what one upload's datasets may inflate to (default 512M)
  --cache-commands N       cached commands per session (default 64)
  --cache-size SIZE        bytes of cached values in all (default 256M)
  --help                   this text
)";
}

std::string DefaultDataFolder() {
  const std::string home = TComputerInfo().SpecialFolder(TComputerInfo::sfAppData);
  if (home.empty()) throw EServerOptionsError("No data home folder: give --data");
  return home + "/qvr-server";
}

}  // namespace qvr::server
