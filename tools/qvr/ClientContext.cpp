// The client data module of one run of qvr; see ClientContext.h.
#include "tools/qvr/ClientContext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "client/uGuardarConexion.h"
#include "platform/SysUtils.h"

namespace qvr::cli {

namespace {

// The longest session id a session file may hold; the server's are 32 hex
// digits.
constexpr std::size_t kMaxSessionId = 256;

std::string ConfigPath(const std::string& AFile) {
  if (AFile.empty()) return {};
  std::error_code error;
  const auto absolute = std::filesystem::absolute(AFile, error);
  return error ? AFile : absolute.string();
}

// False, with errno set, when a write failed.
bool WriteAll(int AFile, const std::string& AText) {
  std::size_t done = 0;
  while (done < AText.size()) {
    const ssize_t n = ::write(AFile, AText.data() + done, AText.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string IsALink(const std::string& AFile) {
  return AFile + " is a symbolic link; a session file must be a file of its own";
}

// The session id kept in AFile: empty when the file does not exist.
std::string ReadSessionId(const std::string& AFile) {
  // A link is not followed: whoever could put one in the file's place would
  // have qvr send the file it names to the server, or write over it later.
  struct stat st {};
  if (::lstat(AFile.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) throw EUsageError(IsALink(AFile));
  const int file = ::open(AFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (file < 0) {
    if (errno == ENOENT) return {};
    throw EUsageError("Cannot read " + AFile + ": " + std::strerror(errno));
  }
  char buffer[kMaxSessionId + 2];
  std::size_t size = 0;
  for (;;) {
    const ssize_t n = ::read(file, buffer + size, sizeof buffer - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
    if (size == sizeof buffer) break;
  }
  ::close(file);
  std::string id(buffer, size);
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
  // The id goes into a header: only the characters of a token.
  bool usable = id.size() <= kMaxSessionId;
  for (const char c : id) {
    usable = usable && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == '.' || c == '~');
  }
  if (!usable) throw EUsageError(AFile + " holds no session id");
  return id;
}

void WriteSessionId(const std::string& AFile, const std::string& AId) {
  const int file = ::open(AFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (file < 0) {
    if (errno == ELOOP) throw Exception(IsALink(AFile));
    throw Exception("Cannot write " + AFile + ": " + std::strerror(errno));
  }
  const auto fail = [&](const std::string& AMessage) {
    const int error = errno;
    ::close(file);
    return Exception(AMessage + ": " + std::strerror(error));
  };
  // Private to the user, whatever mode a file that was there had: the id
  // lets its holder act in the session. Made so before it holds the id.
  struct stat st {};
  if (::fstat(file, &st) != 0) throw fail("Cannot write " + AFile);
  if (!S_ISREG(st.st_mode)) {
    ::close(file);
    throw Exception("Cannot write " + AFile + ": a session file must be a regular file");
  }
  if ((st.st_mode & 07777) != 0600 && ::fchmod(file, 0600) != 0) {
    throw fail("Cannot make " + AFile + " private to its user");
  }
  if (::ftruncate(file, 0) != 0) throw fail("Cannot write " + AFile);
  if (!WriteAll(file, AId.empty() ? std::string() : AId + "\n")) {
    throw fail("Cannot write " + AFile);
  }
  ::close(file);
}

}  // namespace

TClientContext::TClientContext(const TArguments& AArgs)
    : FArgs(AArgs), Fdm(std::make_unique<client::TdmBaseCliente>(ConfigPath(AArgs.ConfigFile))) {}

TClientContext::~TClientContext() = default;

void TClientContext::BeginCall() {
  auto& connection = Fdm->rest();
  if (FArgs.Host) connection.SetHost(*FArgs.Host);
  if (FArgs.Port) {
    std::int32_t port = 0;
    if (!TryStrToInt(*FArgs.Port, port)) throw EUsageError(client::kPuertoNoNumerico);
    connection.SetPort(port);
  }
  if (FArgs.Uid) connection.SetUserName(*FArgs.Uid);
  if (!FArgs.SessionFile.empty()) connection.SetSessionID(ReadSessionId(FArgs.SessionFile));
  if (::isatty(STDERR_FILENO) == 1) {
    FProgress = std::make_unique<TProgressLine>(
        [](const std::string& AText) { WriteAll(STDERR_FILENO, AText); });
    connection.HTTP().SetOnProgress(
        [this](rest::TTransferDirection ADirection, std::int64_t ADone, std::int64_t ATotal) {
          FProgress->Update(ADirection, ADone, ATotal);
        });
  }
}

void TClientContext::EndCall(bool AQuiet) {
  if (FProgress) FProgress->Finish();
  if (FArgs.SessionFile.empty()) return;
  try {
    WriteSessionId(FArgs.SessionFile, Fdm->rest().SessionID());
  } catch (const Exception&) {
    if (!AQuiet) throw;
  }
}

}  // namespace qvr::cli
