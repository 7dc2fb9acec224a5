// The user commands of qvr-server; see UserCommand.h.
#include "server/UserCommand.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "server/AttendanceStore.h"
#include "server/UserAccounts.h"

namespace qvr::server {

namespace {

// A file descriptor closed when it goes.
class TFileHandle {
 public:
  explicit TFileHandle(int AFd) : FFd(AFd) {}
  ~TFileHandle() {
    if (FFd >= 0) ::close(FFd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  int Fd() const { return FFd; }

 private:
  int FFd;
};

// Reads AFd to its end, but no more than a password line can be: a longer
// input is refused without being read to its end.
std::string ReadBounded(int AFd, const std::string& ASource) {
  std::string bytes;
  char buffer[512];
  for (;;) {
    const ssize_t count = ::read(AFd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw Exception("Cannot read " + ASource + ": " + std::strerror(errno));
    if (count == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(count));
    // The longest password and its line end "\r\n".
    if (bytes.size() > kMaxPasswordBytes + 2) {
      throw Exception("A password has at most " + std::to_string(kMaxPasswordBytes) +
                      " bytes, and " + ASource + " holds more");
    }
  }
}

// The one line of ABytes, without its line end ("\n" or "\r\n").
std::string OneLine(std::string ABytes, const std::string& ASource) {
  const auto end = ABytes.find('\n');
  if (end != std::string::npos) {
    if (end + 1 != ABytes.size()) {
      throw Exception("A password is one line, and " + ASource + " holds more than one line");
    }
    ABytes.resize(end);
    if (!ABytes.empty() && ABytes.back() == '\r') ABytes.pop_back();
  }
  if (ABytes.size() > kMaxPasswordBytes) {
    throw Exception("A password has at most " + std::to_string(kMaxPasswordBytes) + " bytes");
  }
  if (ABytes.find('\0') != std::string::npos) {
    throw Exception("A password cannot hold a NUL byte");
  }
  return ABytes;
}

// Echo off on the terminal of standard input while the object lives, and
// back on should a signal end the program meanwhile.
class TNoEcho {
 public:
  TNoEcho() {
    if (::tcgetattr(STDIN_FILENO, &GSaved) != 0) {
      throw Exception(std::string("Cannot set up the terminal: ") + std::strerror(errno));
    }
    struct sigaction restore {};
    restore.sa_handler = &RestoreAndRaise;
    sigemptyset(&restore.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
      ::sigaction(kSignals[i], &restore, &FPrevious[i]);
    }
    termios quiet = GSaved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~TNoEcho() {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &GSaved);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
      ::sigaction(kSignals[i], &FPrevious[i], nullptr);
    }
  }
  TNoEcho(const TNoEcho&) = delete;
  TNoEcho& operator=(const TNoEcho&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  static void RestoreAndRaise(int ASignal) {
    // tcsetattr, signal and raise are async-signal-safe.
    ::tcsetattr(STDIN_FILENO, TCSANOW, &GSaved);
    ::signal(ASignal, SIG_DFL);
    ::raise(ASignal);
  }
  static inline termios GSaved{};
  struct sigaction FPrevious[std::size(kSignals)]{};
};

// One line typed on the terminal of standard input, after APrompt on
// standard error.
std::string AskLine(const std::string& APrompt) {
  std::fputs(APrompt.c_str(), stderr);
  std::fflush(stderr);
  std::string line;
  bool tooLong = false;
  for (;;) {
    char c;
    const ssize_t count = ::read(STDIN_FILENO, &c, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0)
      throw Exception(std::string("Cannot read the terminal: ") + std::strerror(errno));
    if (count == 0 || c == '\n') break;
    // Read to the end of the line anyway, so that nothing of it is left for
    // the shell.
    if (line.size() > kMaxPasswordBytes) tooLong = true;
    if (!tooLong) line += c;
  }
  if (tooLong) {
    throw Exception("A password has at most " + std::to_string(kMaxPasswordBytes) + " bytes");
  }
  return OneLine(std::move(line), "the terminal");
}

// The new password of AUserName: the one line of AFile, or of standard
// input when AFile is empty (asked twice, without echo, on a terminal).
std::string ReadNewPassword(const std::string& AFile, const std::string& AUserName) {
  if (!AFile.empty()) {
    const TFileHandle file(::open(AFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Fd() < 0) {
      throw Exception("Cannot open the password file " + AFile + ": " + std::strerror(errno));
    }
    const std::string source = "the password file " + AFile;
    return OneLine(ReadBounded(file.Fd(), source), source);
  }
  if (::isatty(STDIN_FILENO) == 0) {
    return OneLine(ReadBounded(STDIN_FILENO, "standard input"), "standard input");
  }
  const TNoEcho quiet;
  const std::string first = AskLine("Password for " + AUserName + ": ");
  const std::string second = AskLine("The same password again: ");
  if (first != second) throw Exception("The two passwords differ; nothing changed");
  return first;
}

// Raises unless APath exists and belongs to the user running the command:
// SQLite makes files beside the database (the WAL and its index) that the
// server must be able to write, so root working on the service's database
// would leave files the service cannot open.
void CheckDatabaseOwner(const std::string& AFolder, const std::string& APath) {
  struct stat status {};
  if (::stat(APath.c_str(), &status) != 0) {
    if (errno == ENOENT) {
      throw Exception("There is no database in " + AFolder + " (qvr-server --data " + AFolder +
                      " creates it when it first starts)");
    }
    throw Exception("Cannot reach " + APath + ": " + std::strerror(errno));
  }
  if (status.st_uid == ::geteuid()) return;
  const passwd* owner = ::getpwuid(status.st_uid);
  const std::string name = owner != nullptr ? owner->pw_name : std::to_string(status.st_uid);
  throw Exception(APath + " belongs to the user " + name +
                  ": run the command as that user (sudo -u " + name + " qvr-server user ...)");
}

// An empty password is allowed (the suite's programs send none) but said.
void NoteEmptyPassword(const std::string& AUserName, const std::string& APassword) {
  if (!APassword.empty()) return;
  std::fprintf(stderr,
               "qvr-server: %s has an empty password: anyone who knows the name can call as %s\n",
               AUserName.c_str(), AUserName.c_str());
}

void Run(const TUserCommand& ACommand) {
  using TAction = TUserCommand::TAction;
  TStoreSettings settings;
  settings.Database = ACommand.Database;
  settings.DataFolder = ACommand.DataFolder;
  settings.MaxConnections = 1;
  settings.Mode = TStoreSettings::TOpenMode::ExistingOnly;
  if (settings.Database.empty()) {
    CheckDatabaseOwner(ACommand.DataFolder,
                       ACommand.DataFolder + "/" + TAttendanceStore::kFileName);
  }
  // Upgrades the database first, as the server does.
  const auto store = OpenAttendanceStore(settings);
  if (store->HashedPasswords() > 0) {
    std::fprintf(stderr, "qvr-server: hashed %zu password(s) kept as text\n",
                 store->HashedPasswords());
  }
  const std::string& name = ACommand.UserName;
  switch (ACommand.Action) {
    case TAction::Add: {
      // Checked before the password is asked for, so that nobody types one
      // in vain; AddUser checks again inside its transaction.
      CheckUserName(name);
      const std::string nombre = ACommand.NombreGiven ? ACommand.Nombre : name;
      CheckUserNombre(nombre);
      if (store->UserExists(name)) {
        throw EUserError("The user " + name + " exists already (user passwd changes its password)");
      }
      const std::string password = ReadNewPassword(ACommand.PasswordFile, name);
      store->AddUser(name, nombre, password);
      std::printf("Added the user %s\n", name.c_str());
      NoteEmptyPassword(name, password);
      break;
    }
    case TAction::Passwd: {
      if (!store->UserExists(name)) throw EUserError("There is no user " + name);
      const std::string password = ReadNewPassword(ACommand.PasswordFile, name);
      store->SetUserPassword(name, password);
      std::printf("Changed the password of %s\n", name.c_str());
      NoteEmptyPassword(name, password);
      break;
    }
    case TAction::Remove:
      store->RemoveUser(name);
      std::printf("Removed the user %s\n", name.c_str());
      break;
    case TAction::List:
      for (const auto& user : store->ListUsers()) {
        std::printf("%s\t%s\t%s\n", user.UID.c_str(), user.Nombre.c_str(),
                    user.EmptyPassword ? "empty password" : "password");
      }
      break;
  }
}

}  // namespace

int RunUserCommand(const TUserCommand& ACommand) {
  try {
    Run(ACommand);
    return std::fflush(stdout) == 0 ? kUserCommandDone : kUserCommandRefused;
  } catch (const std::exception& AError) {
    std::fprintf(stderr, "qvr-server: %s\n", AError.what());
    return kUserCommandRefused;
  }
}

}  // namespace qvr::server
