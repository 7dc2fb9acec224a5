// The INI layer against real files: what a read returns for every kind of file
// content, and that a write changes only its own line and replaces the file
// atomically or not at all.
#include "platform/IniFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace qvr {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;
using namespace std::string_literals;

struct TReadCase {
  const char* Note;
  std::string Content;
  const char* Section;
  const char* Key;
  std::string Expected;  // with default "<def>"
};

std::string Repeat(const std::string& s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

const std::string kLongLine = "[rest]\nIP=" + std::string(1 << 20, 'a') + "\nUID=after\n";

// A config.ini as the suite's earlier desktop platform wrote it: CRLF lines in
// Windows-1252, where 0xF1 is U+00F1 and 0xF3 U+00F3.
const std::string kCanada1252 =
    "Ca\xF1"
    "ada";
const std::string kWindows1252File =
    "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=" + kCanada1252 +
    "\r\n[Ventana]\r\nTitulo=Recepci\xF3n\r\n";

// Every byte from 0x80 on, as one value.
std::string HighBytes() {
  std::string bytes;
  for (int b = 0x80; b < 0x100; ++b) bytes += static_cast<char>(b);
  return bytes;
}

const TReadCase kReadCases[] = {
    {"plain", "[rest]\nIP=10.0.0.5\n", "rest", "IP", "10.0.0.5"},
    {"names without case", "[REST]\nip=10.0.0.5\n", "Rest", "Ip", "10.0.0.5"},
    {"blanks around", "[rest]\n  IP  =   host name  \t\n", "rest", "IP", "host name"},
    {"double quotes", "[rest]\nUID=\" caja \"\n", "rest", "UID", " caja "},
    {"single quotes", "[rest]\nUID='caja'\n", "rest", "UID", "caja"},
    {"unmatched quote kept", "[rest]\nUID=\"caja'\n", "rest", "UID", "\"caja'"},
    {"lone quote kept", "[rest]\nUID=\"\n", "rest", "UID", "\""},
    {"empty value", "[rest]\nUID=\n", "rest", "UID", ""},
    {"missing key", "[rest]\nIP=x\n", "rest", "UID", "<def>"},
    {"missing section", "[sync]\nUID=x\n", "rest", "UID", "<def>"},
    {"key of another section", "[rest]\nIP=x\n[sync]\nUID=y\n", "rest", "UID", "<def>"},
    {"key before any section", "UID=x\n[rest]\nIP=y\n", "rest", "UID", "<def>"},
    {"first duplicate section wins", "[rest]\nIP=a\n[rest]\nIP=b\nUID=c\n", "rest", "UID", "<def>"},
    {"first duplicate key wins", "[rest]\nIP=a\nIP=b\n", "rest", "IP", "a"},
    {"CRLF line ends", "[rest]\r\nIP=a\r\nUID=b\r\n", "rest", "UID", "b"},
    {"no final newline", "[rest]\nIP=a", "rest", "IP", "a"},
    {"comment line", "[rest]\n;IP=a\nIP=b\n", "rest", "IP", "b"},
    {"section name with blanks", "[ rest ]\nIP=a\n", "rest", "IP", "a"},
    {"equals inside value", "[rest]\nUID=a=b\n", "rest", "UID", "a=b"},
    {"garbage lines", "junk\n[[[\n]]]\n=x\n[rest]\nnonsense\nIP=a\n", "rest", "IP", "a"},
    // Not UTF-8, so Windows-1252, where every byte is a character.
    {"binary bytes", "\x01\x02\xff\x00[x\n[rest]\nIP=\xff\xfe\n"s, "rest", "IP",
     "\xC3\xBF\xC3\xBE"},
    {"a line of 1 MB", kLongLine, "rest", "UID", "after"},
    {"cut to 2047", "[rest]\nIP=" + std::string(3000, 'x') + "\n", "rest", "IP",
     std::string(2047, 'x')},
    // 2046 units then a character needing two: it does not fit and is left out.
    {"cut never splits a pair", "[rest]\nIP=" + std::string(2046, 'x') + "\xF0\x9F\x98\x80\n",
     "rest", "IP", std::string(2046, 'x')},
    {"cut counts UTF-16 units", "[rest]\nIP=" + Repeat("\xC3\xA9", 2100) + "\n", "rest", "IP",
     Repeat("\xC3\xA9", 2047)},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBF[rest]\nIP=a\n", "rest", "IP", "a"},
    {"UTF-8 byte-order mark, invalid bytes", "\xEF\xBB\xBF[rest]\nUID=" + kCanada1252 + "\n",
     "rest", "UID", "Ca\uFFFDada"},
    {"UTF-16LE byte-order mark", "\xFF\xFE[\0r\0e\0s\0t\0]\0\n\0I\0P\0=\0\xE9\0\n\0"s, "rest", "IP",
     "\xC3\xA9"},
    {"empty file", "", "rest", "IP", "<def>"},
    // Which encoding a file without a byte-order mark is read in: valid UTF-8
    // as a whole, or else Windows-1252.
    {"ASCII", "[rest]\r\nUID=caja 1\r\n", "rest", "UID", "caja 1"},
    {"UTF-8", "[rest]\nUID=Ca\u00F1ada\n", "rest", "UID", "Ca\u00F1ada"},
    {"Windows-1252 with CRLF", kWindows1252File, "rest", "UID", "Ca\u00F1ada"},
    {"Windows-1252, another section", kWindows1252File, "Ventana", "Titulo", "Recepci\u00F3n"},
    {"Windows-1252 names", "[A\xF1o]\nDue\xF1o=1\n", "A\u00F1o", "Due\u00F1o", "1"},
    {"Windows-1252 undefined bytes", "[rest]\nUID=\x81\x8D\x8F\x90\x9D\n", "rest", "UID",
     "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
    {"Windows-1252 euro and quotes", "[rest]\nUID=\x80 \x93x\x94\n", "rest", "UID",
     "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"},
    // One byte that is not UTF-8 makes the whole file Windows-1252, so its
    // UTF-8 lines read as two characters for each of theirs.
    {"mixed file, its UTF-8 line", "[rest]\nIP=Ca\u00F1ada\nUID=" + kCanada1252 + "\n", "rest",
     "IP", "Ca\u00C3\u00B1ada"},
    {"mixed file, its Windows-1252 line", "[rest]\nIP=Ca\u00F1ada\nUID=" + kCanada1252 + "\n",
     "rest", "UID", "Ca\u00F1ada"},
    // Windows-1252 text whose bytes happen to be valid UTF-8 (U+00C3 U+00B1,
    // 0xC3 0xB1) reads as UTF-8 by the rule.
    {"Windows-1252 that is valid UTF-8", "[rest]\nUID=\xC3\xB1\n", "rest", "UID", "\u00F1"},
    {"Windows-1252 cut to 2047", "[rest]\nIP=" + std::string(3000, '\xF1') + "\n", "rest", "IP",
     Repeat("\u00F1", 2047)},
    {"Windows-1252 cut counts characters, not UTF-8 bytes",
     "[rest]\nIP=" + std::string(2046, 'x') + "\x80\x80\n", "rest", "IP",
     std::string(2046, 'x') + "\xE2\x82\xAC"},
};

TEST(IniFileReadTest, ReturnsTheStoredTextOrTheDefault) {
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  for (const auto& c : kReadCases) {
    WriteFileBytes(path, c.Content);
    const TIniFile ini(path);
    EXPECT_EQ(ini.ReadString(c.Section, c.Key, "<def>"), c.Expected) << c.Note;
  }
}

TEST(IniFileReadTest, MissingFileAndDirectoryGiveDefaults) {
  TTempDir dir;
  const TIniFile missing(dir.File("config.ini"));
  EXPECT_EQ(missing.ReadString("rest", "IP", "d"), "d");
  EXPECT_EQ(missing.ReadInteger("rest", "Puerto", 8080), 8080);
  EXPECT_FALSE(test::PathExists(dir.File("config.ini"))) << "reading creates nothing";

  std::filesystem::create_directory(dir.File("config.ini"));
  const TIniFile directory(dir.File("config.ini"));
  EXPECT_EQ(directory.ReadString("rest", "IP", "d"), "d");
}

// Runs ACall on another thread and waits at most a few seconds for it. On a
// time-out it calls AUnblock (which releases one blocked step of ACall) until
// ACall returns, and returns false, so a call that blocks fails the test
// instead of hanging it.
bool ReturnsPromptly(const std::function<void()>& ACall, const std::function<void()>& AUnblock) {
  auto done = std::async(std::launch::async, ACall);
  if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
    done.get();
    return true;
  }
  for (int i = 0;
       i < 1000 && done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready; ++i) {
    AUnblock();
  }
  done.get();
  return false;
}

// A FIFO, a device or anything else that is not a regular file (or a link to
// one) reads as absent, is never opened in a way that can wait for a writer,
// and refuses writes.
TEST(IniFileReadTest, WhatIsNotARegularFileReadsAsAbsentWithoutWaiting) {
  TTempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string fifoLink = dir.File("fifo-link.ini");
  std::filesystem::create_symlink(fifo, fifoLink);
  const std::string deviceLink = dir.File("device-link.ini");
  std::filesystem::create_symlink("/dev/zero", deviceLink);
  // A FIFO that waits for a writer is released by opening its other end.
  const auto openWriter = [&]() {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  };
  for (const std::string& path : {fifo, fifoLink, deviceLink}) {
    SCOPED_TRACE(path);
    TIniFile ini(path);
    const auto reads = [&]() {
      EXPECT_EQ(ini.ReadString("rest", "IP", "d"), "d");
      EXPECT_EQ(ini.ReadInteger("rest", "Puerto", 8080), 8080);
      EXPECT_FALSE(ini.SectionExists("rest"));
      EXPECT_FALSE(ini.ValueExists("rest", "IP"));
    };
    const auto write = [&]() {
      try {
        ini.WriteString("rest", "IP", "x");
        ADD_FAILURE() << "the write was not refused";
      } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + path);
      }
    };
    EXPECT_TRUE(ReturnsPromptly(reads, openWriter)) << "a read waited";
    EXPECT_TRUE(ReturnsPromptly(write, openWriter)) << "a write waited";
  }
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_TRUE(std::filesystem::is_symlink(fifoLink));
  EXPECT_TRUE(std::filesystem::is_symlink(deviceLink));
}

TEST(IniFileReadTest, ReadsTheFileAgainEveryTime) {
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  const TIniFile ini(path);
  WriteFileBytes(path, "[rest]\nIP=first\n");
  EXPECT_EQ(ini.ReadString("rest", "IP", ""), "first");
  WriteFileBytes(path, "[rest]\nIP=second\n");
  EXPECT_EQ(ini.ReadString("rest", "IP", ""), "second");
}

struct TWriteCase {
  const char* Note;
  std::string Before;
  const char* Section;
  const char* Key;
  const char* Value;
  std::string After;
};

const TWriteCase kWriteCases[] = {
    {"new file", "", "rest", "IP", "192.168.1.20", "[rest]\nIP=192.168.1.20\n"},
    {"replace in place keeps the rest byte for byte",
     "; suite settings\n[other]\nx = 1 ; note\n\n[REST]\n  ip = old  \nUID=a\n\n[sync]\nz=2\n",
     "rest", "IP", "new",
     "; suite settings\n[other]\nx = 1 ; note\n\n[REST]\nip=new\nUID=a\n\n[sync]\nz=2\n"},
    {"new key after the last line of its section, before blank lines",
     "[rest]\nIP=a\n\n\n[sync]\nz=2\n", "rest", "UID", "u",
     "[rest]\nIP=a\nUID=u\n\n\n[sync]\nz=2\n"},
    {"new key into a last section without final newline", "[rest]\nIP=a", "rest", "UID", "u",
     "[rest]\nIP=a\nUID=u\n"},
    {"new section at the end", "[rest]\nIP=a\n", "sync", "Reloj Web Sobreescribir", "1",
     "[rest]\nIP=a\n[sync]\nReloj Web Sobreescribir=1\n"},
    {"new section after a text without final newline", "# note", "rest", "IP", "a",
     "# note\n[rest]\nIP=a\n"},
    {"CRLF files get CRLF lines", "[rest]\r\nIP=a\r\n", "rest", "UID", "u",
     "[rest]\r\nIP=a\r\nUID=u\r\n"},
    {"CRLF kept on a replaced line", "[rest]\r\nIP=a\r\nUID=b\r\n", "rest", "IP", "z",
     "[rest]\r\nIP=z\r\nUID=b\r\n"},
    {"first duplicate key is the one written", "[rest]\nIP=a\nIP=b\n", "rest", "IP", "c",
     "[rest]\nIP=c\nIP=b\n"},
    {"empty value keeps the key", "[rest]\nUID=x\n", "rest", "UID", "", "[rest]\nUID=\n"},
    {"line breaks in a value become blanks", "", "rest", "UID", "a\r\nb\nc",
     "[rest]\nUID=a  b c\n"},
    {"UTF-8 byte-order mark kept", "\xEF\xBB\xBF[rest]\nIP=a\n", "rest", "IP", "b",
     "\xEF\xBB\xBF[rest]\nIP=b\n"},
    {"UTF-16LE file stays UTF-16LE", "\xFF\xFE[\0r\0e\0s\0t\0]\0\n\0"s, "rest", "IP", "\xC3\xA9",
     "\xFF\xFE[\0r\0e\0s\0t\0]\0\n\0I\0P\0=\0\xE9\0\n\0"s},
    {"invalid UTF-8 in a value is written as U+FFFD", "[rest]\nIP=Ca\u00F1ada\n", "rest", "UID",
     "a\xFF", "[rest]\nIP=Ca\u00F1ada\nUID=a\xEF\xBF\xBD\n"},
    // A Windows-1252 file keeps its encoding and every other byte.
    {"Windows-1252 value", kWindows1252File, "rest", "UID", "Pe\u00F1\u00F3n",
     "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=Pe\xF1\xF3n\r\n"
     "[Ventana]\r\nTitulo=Recepci\xF3n\r\n"},
    {"Windows-1252 new key and section", kWindows1252File, "A\u00F1o", "Due\u00F1o", "\xE2\x82\xAC",
     kWindows1252File + "[A\xF1o]\r\nDue\xF1o=\x80\r\n"},
    {"Windows-1252 keeps every byte", "[x]\nall=" + HighBytes() + "\n[rest]\nIP=\xF1\n", "rest",
     "IP", "\u00F3", "[x]\nall=" + HighBytes() + "\n[rest]\nIP=\xF3\n"},
    // What Windows-1252 cannot hold makes the whole file UTF-8, which holds all.
    {"Windows-1252 file, a value it lacks", kWindows1252File, "rest", "UID", "\u0141\u00F3d\u017A",
     "[rest]\r\nIP=192.168.1.10\r\nPuerto=8080\r\nUID=\u0141\u00F3d\u017A\r\n[Ventana]\r\nTitulo="
     "Recepci\u00F3n\r\n"},
    {"Windows-1252 file, an emoji", "[x]\nk=\x81\x80\n", "rest", "UID", "\xF0\x9F\x98\x80",
     "[x]\nk=\xC2\x81\xE2\x82\xAC\n[rest]\nUID=\xF0\x9F\x98\x80\n"},
    // Its bytes would read as UTF-8 once the line with the only others is
    // replaced, and IP would change from U+00C3 U+00B1 to U+00F1.
    {"Windows-1252 file that would turn into UTF-8", "[rest]\nIP=\xC3\xB1\nUID=\xF1\n", "rest",
     "UID", "x", "[rest]\nIP=\xC3\x83\xC2\xB1\nUID=x\n"},
    {"Windows-1252 file that turns into ASCII", "[rest]\r\nUID=\xF1\r\n", "rest", "UID", "x",
     "[rest]\r\nUID=x\r\n"},
};

TEST(IniFileWriteTest, ChangesOnlyItsOwnLine) {
  for (const auto& c : kWriteCases) {
    TTempDir dir;
    const std::string path = dir.File("config.ini");
    if (!c.Before.empty()) WriteFileBytes(path, c.Before);
    TIniFile ini(path);
    ini.WriteString(c.Section, c.Key, c.Value);
    EXPECT_EQ(ReadFileBytes(path), c.After) << c.Note;
  }
}

// What a read returns, written back, leaves the file as it was: the same bytes
// and the same file, in every encoding.
TEST(IniFileWriteTest, WritingBackWhatWasReadChangesNothing) {
  const struct {
    const char* Note;
    std::string Content;
  } cases[] = {
      {"UTF-8", "[rest]\nIP=192.168.1.10\nPuerto=8080\nUID=Ca\u00F1ada\n"},
      {"Windows-1252", kWindows1252File},
      {"Windows-1252 undefined bytes", "[rest]\r\nUID=\x81\x8D\x8F\x90\x9D\r\n"},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF[rest]\nUID=Ca\u00F1ada\n"},
      {"UTF-16LE", "\xFF\xFE[\0r\0e\0s\0t\0]\0\n\0U\0I\0D\0=\0\xF1\0\n\0"s},
  };
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Note);
    WriteFileBytes(path, c.Content);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    TIniFile ini(path);
    for (const char* key : {"IP", "Puerto", "UID"}) {
      if (ini.ValueExists("rest", key))
        ini.WriteString("rest", key, ini.ReadString("rest", key, ""));
    }
    if (ini.ValueExists("Ventana", "Titulo")) {
      ini.WriteString("Ventana", "Titulo", ini.ReadString("Ventana", "Titulo", ""));
    }
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(ReadFileBytes(path), c.Content);
  }
}

TEST(IniFileWriteTest, KeepsPermissionsAndLeavesNoOtherFile) {
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  WriteFileBytes(path, "[rest]\nIP=a\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  TIniFile ini(path);
  ini.WriteString("rest", "IP", "b");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"config.ini"})) << "no temporary or lock file";
}

TEST(IniFileWriteTest, WritesThroughASymbolicLink) {
  TTempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("config.ini");
  WriteFileBytes(real, "[rest]\nIP=a\n");
  std::filesystem::create_symlink(real, link);
  TIniFile ini(link);
  ini.WriteString("rest", "IP", "b");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(real), "[rest]\nIP=b\n");
}

// A link whose target does not exist yet reads as absent; a write creates the
// target (when its folder exists) and keeps the link, as the administrator
// who made the link expects.
TEST(IniFileWriteTest, DanglingLinkGetsItsTargetCreated) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("etc"));
  struct TCase {
    const char* Note;
    std::vector<std::pair<std::string, std::string>> Links;  // link -> target
    std::string Target;                                      // the file a write creates
  };
  const TCase cases[] = {
      {"relative target", {{"config.ini", "etc/real.ini"}}, "etc/real.ini"},
      {"absolute target", {{"config.ini", dir.File("etc/abs.ini")}}, "etc/abs.ini"},
      {"chain of links", {{"config.ini", "second"}, {"second", "etc/chain.ini"}}, "etc/chain.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Note);
    for (const auto& [link, target] : c.Links) {
      std::filesystem::remove(dir.File(link));
      std::filesystem::create_symlink(target, dir.File(link));
    }
    TIniFile ini(dir.File("config.ini"));
    EXPECT_EQ(ini.ReadString("rest", "IP", "d"), "d");
    EXPECT_FALSE(test::PathExists(dir.File(c.Target))) << "reading creates nothing";
    ini.WriteString("rest", "IP", "b");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("config.ini")));
    EXPECT_EQ(ReadFileBytes(dir.File(c.Target)), "[rest]\nIP=b\n");
    EXPECT_EQ(ini.ReadString("rest", "IP", "d"), "b");
  }
}

// Every refusal raises "Unable to write to <path>" and leaves the file as it
// was, also when running as root.
class IniFileRefusalTest : public ::testing::Test {
 protected:
  void ExpectRefused(const std::string& APath) {
    TIniFile ini(APath);
    try {
      ini.WriteString("rest", "IP", "changed");
      FAIL() << "the write was not refused";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(e.Message(), "Unable to write to " + APath);
    }
  }
  TTempDir FDir;
};

TEST_F(IniFileRefusalTest, ReadOnlyFile) {
  const std::string path = FDir.File("config.ini");
  const std::string before = "; keep me\n[rest]\nIP=a\n";
  WriteFileBytes(path, before);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ExpectRefused(path);
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST_F(IniFileRefusalTest, ReadOnlyFolder) {
  const std::string folder = FDir.File("ro");
  std::filesystem::create_directory(folder);
  const std::string path = folder + "/config.ini";
  const std::string before = "[rest]\nIP=a\n";
  WriteFileBytes(path, before);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  ExpectRefused(path);
  EXPECT_EQ(ReadFileBytes(path), before);
  ExpectRefused(folder + "/new.ini");
  EXPECT_FALSE(test::PathExists(folder + "/new.ini"));
}

TEST_F(IniFileRefusalTest, DirectoryInTheWay) {
  const std::string path = FDir.File("config.ini");
  std::filesystem::create_directory(path);
  ExpectRefused(path);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(IniFileRefusalTest, MissingFolder) { ExpectRefused(FDir.File("absent/config.ini")); }

TEST_F(IniFileRefusalTest, LinkIntoAMissingFolderOrALoop) {
  const std::string path = FDir.File("config.ini");
  std::filesystem::create_symlink("absent/real.ini", path);
  ExpectRefused(path);
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_FALSE(test::PathExists(FDir.File("absent")));

  const std::string loop = FDir.File("loop.ini");
  std::filesystem::create_symlink("loop.ini", loop);
  EXPECT_EQ(TIniFile(loop).ReadString("rest", "IP", "d"), "d");
  ExpectRefused(loop);
  EXPECT_TRUE(std::filesystem::is_symlink(loop));
}

TEST_F(IniFileRefusalTest, UnreadableFileIsNotReplaced) {
  if (test::RunningAsRoot()) GTEST_SKIP() << "root reads any file";
  const std::string path = FDir.File("config.ini");
  WriteFileBytes(path, "[rest]\nIP=a\n");
  ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
  ExpectRefused(path);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(ReadFileBytes(path), "[rest]\nIP=a\n");
}

TEST(IniFileTypedTest, IntegersAndBooleans) {
  TTempDir dir;
  const std::string path = dir.File("config.ini");
  WriteFileBytes(path, "[s]\nhex=0x1F90\nbad=12ab\nneg=-7\nt=2\nf=0\nword=abc\n");
  const TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("s", "hex", 1), 8080);
  EXPECT_EQ(ini.ReadInteger("s", "bad", 1), 1);
  EXPECT_EQ(ini.ReadInteger("s", "neg", 1), -7);
  EXPECT_TRUE(ini.ReadBool("s", "t", false));
  EXPECT_FALSE(ini.ReadBool("s", "f", true));
  EXPECT_FALSE(ini.ReadBool("s", "word", false));
  EXPECT_TRUE(ini.ReadBool("s", "word", true));
}

}  // namespace
}  // namespace qvr
