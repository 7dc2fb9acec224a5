// The INI profile service; see IniFile.h.
#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/StrUtils.h"
#include "platform/SysUtils.h"
#include "platform/Utf.h"
#include "platform/detail/FileReplacement.h"

namespace qvr {

namespace {

// The read buffer of the profile service holds 2048 characters with the
// terminator, so a longer value comes back cut.
constexpr std::size_t kMaxValueUnits = 2047;

// Windows-1252: a file without a byte-order mark that is not valid UTF-8 as a
// whole, as the suite's earlier desktop platform wrote them (its ANSI code
// page).
enum class TEncoding { Utf8, Utf8Bom, Utf16LeBom, Windows1252 };

struct TLine {
  std::string Content;  // without the line ending
  std::string Ending;   // "\n", "\r\n" or "" for a last line without one
};

struct TDocument {
  TEncoding Encoding = TEncoding::Utf8;
  std::vector<TLine> Lines;
};

// Blanks around a line's parts; a line's own CR (of CRLF files) goes at its end.
std::string_view TrimLine(std::string_view s) { return TrimRight(TrimLeft(s, " \t"), " \t\r"); }

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view ALine) {
  const std::string_view t = TrimLine(ALine);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimLine(t.substr(1, close - 1));
}

// The key and raw value of a "key=value" line (not a comment or section).
bool SplitKey(std::string_view ALine, std::string_view& AKey, std::string_view& AValue) {
  const std::string_view t = TrimLine(ALine);
  if (t.empty() || t.front() == ';' || t.front() == '[') return false;
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  AKey = TrimLine(t.substr(0, eq));
  AValue = t.substr(eq + 1);
  return !AKey.empty();
}

std::string CleanValue(std::string_view ARaw) {
  std::string_view v = TrimLine(ARaw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return Utf8Prefix(v, kMaxValueUnits);
}

std::string Utf16LeBytesToUtf8(std::string_view ABytes) {
  std::u16string units;
  units.reserve(ABytes.size() / 2);
  for (std::size_t i = 0; i + 1 < ABytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(ABytes[i]) |
                                   (static_cast<unsigned char>(ABytes[i + 1]) << 8));
  }
  return Utf16ToUtf8(units);
}

std::string Utf8ToUtf16LeBytes(std::string_view AText) {
  const std::u16string units = Utf8ToUtf16(AText);
  std::string out;
  out.reserve(units.size() * 2);
  for (const char16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

TDocument Parse(std::string_view ABytes) {
  TDocument doc;
  std::string decoded;
  std::string_view text = ABytes;
  if (text.starts_with("\xEF\xBB\xBF")) {
    doc.Encoding = TEncoding::Utf8Bom;
    text.remove_prefix(3);
  } else if (text.starts_with("\xFF\xFE")) {
    doc.Encoding = TEncoding::Utf16LeBom;
    decoded = Utf16LeBytesToUtf8(text.substr(2));
    text = decoded;
  } else if (!IsValidUtf8(text)) {
    // The whole file, not line by line: one file has one encoding, and a
    // write must put back exactly the bytes it read.
    doc.Encoding = TEncoding::Windows1252;
    decoded = Windows1252ToUtf8(text);
    text = decoded;
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto nl = text.find('\n', pos);
    TLine line;
    if (nl == std::string_view::npos) {
      line.Content.assign(text.substr(pos));
      pos = text.size();
    } else {
      std::size_t end = nl;
      if (end > pos && text[end - 1] == '\r') {
        --end;
        line.Ending = "\r\n";
      } else {
        line.Ending = "\n";
      }
      line.Content.assign(text.substr(pos, end - pos));
      pos = nl + 1;
    }
    doc.Lines.push_back(std::move(line));
  }
  return doc;
}

std::string Serialize(const TDocument& ADoc) {
  std::string text;
  std::size_t size = 0;
  for (const auto& l : ADoc.Lines) size += l.Content.size() + l.Ending.size();
  text.reserve(size);
  for (const auto& l : ADoc.Lines) {
    text += l.Content;
    text += l.Ending;
  }
  switch (ADoc.Encoding) {
    case TEncoding::Utf8:
      return text;
    case TEncoding::Utf8Bom:
      return "\xEF\xBB\xBF" + text;
    case TEncoding::Utf16LeBom:
      return "\xFF\xFE" + Utf8ToUtf16LeBytes(text);
    case TEncoding::Windows1252:
      // A text that Windows-1252 cannot hold is written whole as UTF-8, which
      // holds any. So is one whose Windows-1252 bytes would be valid UTF-8
      // with more than ASCII in them (its only other bytes were on the line
      // replaced): read again, it would mean other characters.
      if (auto bytes = Utf8ToWindows1252(text);
          bytes && (!IsValidUtf8(*bytes) || AsciiPrefixLength(*bytes) == bytes->size())) {
        return std::move(*bytes);
      }
      return text;
  }
  return text;
}

// Reads the whole file at APath (relative to AFolder, a folder descriptor or
// AT_FDCWD); AFlags are added to the open. Nothing for a missing file;
// std::nullopt when the file exists but cannot be read or is not a regular
// file (so a write must not replace it). O_NONBLOCK: opening a FIFO must not
// wait for a writer; the kind of file is checked before the first read. When
// AExpected is given, the file read must be that one.
std::optional<std::string> ReadAll(int AFolder, const char* APath, int AFlags,
                                   const struct stat* AExpected = nullptr) {
  const int fd = ::openat(AFolder, APath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | AFlags);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::string();
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      (AExpected != nullptr &&
       (st.st_dev != AExpected->st_dev || st.st_ino != AExpected->st_ino))) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

// A read of the file as a reader sees it: through links, whoever made them.
std::optional<std::string> ReadAll(const std::string& APath) {
  return ReadAll(AT_FDCWD, APath.c_str(), 0);
}

// Index of the first line of the first section named ASection, if any.
std::optional<std::size_t> FindSection(const TDocument& ADoc, std::string_view ASection) {
  for (std::size_t i = 0; i < ADoc.Lines.size(); ++i) {
    const auto name = SectionName(ADoc.Lines[i].Content);
    if (name && SameText(*name, ASection)) return i;
  }
  return std::nullopt;
}

// The line of the first key AIdent within the section starting at ASection.
std::optional<std::size_t> FindKey(const TDocument& ADoc, std::size_t ASection,
                                   std::string_view AIdent, std::size_t& ASectionEnd) {
  std::size_t i = ASection + 1;
  std::optional<std::size_t> found;
  for (; i < ADoc.Lines.size(); ++i) {
    const std::string& content = ADoc.Lines[i].Content;
    if (SectionName(content)) break;
    std::string_view key, value;
    if (!found && SplitKey(content, key, value) && SameText(key, AIdent)) found = i;
  }
  ASectionEnd = i;
  return found;
}

std::optional<std::string> Lookup(const std::string& AFileName, const std::string& ASection,
                                  const std::string& AIdent) {
  const auto bytes = ReadAll(AFileName);
  if (!bytes || bytes->empty()) return std::nullopt;
  const TDocument doc = Parse(*bytes);
  const auto section = FindSection(doc, ASection);
  if (!section) return std::nullopt;
  std::size_t end = 0;
  const auto line = FindKey(doc, *section, AIdent, end);
  if (!line) return std::nullopt;
  std::string_view key, value;
  SplitKey(doc.Lines[*line].Content, key, value);
  return CleanValue(value);
}

// AText as one line of valid UTF-8. An invalid sequence would otherwise turn
// a UTF-8 file into one that reads as Windows-1252, changing its every other
// character.
std::string OneLine(const std::string& AText) {
  std::string v = SanitizeUtf8(AText);
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

}  // namespace

TIniFile::TIniFile(std::string AFileName) : FFileName(std::move(AFileName)) {}

std::string TIniFile::ReadString(const std::string& ASection, const std::string& AIdent,
                                 const std::string& ADefault) const {
  auto value = Lookup(FFileName, ASection, AIdent);
  return value ? std::move(*value) : ADefault;
}

std::int32_t TIniFile::ReadInteger(const std::string& ASection, const std::string& AIdent,
                                   std::int32_t ADefault) const {
  std::string text = ReadString(ASection, AIdent, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.replace(0, 2, "$");
  }
  std::int32_t value = ADefault;
  return TryStrToInt(text, value) ? value : ADefault;
}

bool TIniFile::ReadBool(const std::string& ASection, const std::string& AIdent,
                        bool ADefault) const {
  return ReadInteger(ASection, AIdent, ADefault ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& ASection) const {
  const auto bytes = ReadAll(FFileName);
  return bytes && FindSection(Parse(*bytes), ASection).has_value();
}

bool TIniFile::ValueExists(const std::string& ASection, const std::string& AIdent) const {
  return Lookup(FFileName, ASection, AIdent).has_value();
}

void TIniFile::WriteString(const std::string& ASection, const std::string& AIdent,
                           const std::string& AValue) {
  const auto fail = [this]() {
    throw EIniFileException(Format("Unable to write to %s", FFileName));
  };
  // Nothing is touched before the target is known to be one this writer may
  // replace: a link it may not follow refuses the write here.
  const auto target = detail::WriteTarget(FFileName);
  if (!target) fail();
  const auto lock = detail::TWriteLock::Acquire(*target);
  if (!lock) fail();
  const int folder = lock->Folder();
  const char* name = target->Name.c_str();

  // Under the lock: the folder and the file as the last writer left them.
  struct stat dir {};
  if (::fstat(folder, &dir) != 0 || (dir.st_mode & 0222) == 0) fail();
  struct stat old {};
  const bool hadFile = ::fstatat(folder, name, &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!hadFile && errno != ENOENT) fail();
  if (hadFile) {
    // A link put here since WriteTarget looked is not followed either.
    if (!S_ISREG(old.st_mode)) fail();
    // The write bits work as a read-only attribute, for root too; anyone
    // else must be allowed to write the file itself, not only to replace it.
    if ((old.st_mode & 0222) == 0) fail();
    if (::geteuid() != 0 && ::faccessat(folder, name, W_OK, AT_EACCESS) != 0) fail();
  }
  detail::RemoveLeftovers(*lock, target->Name);
  const auto bytes = hadFile ? ReadAll(folder, name, O_NOFOLLOW, &old) : std::string();
  if (!bytes) fail();

  TDocument doc = Parse(*bytes);
  std::string newline = "\n";
  for (const auto& l : doc.Lines) {
    if (!l.Ending.empty()) {
      newline = l.Ending;
      break;
    }
  }
  const std::string value = OneLine(AValue);
  const std::string sectionName = OneLine(ASection);
  const std::string ident = OneLine(AIdent);
  const auto section = FindSection(doc, sectionName);
  if (section) {
    std::size_t end = 0;
    const auto line = FindKey(doc, *section, ident, end);
    if (line) {
      std::string_view key, oldValue;
      SplitKey(doc.Lines[*line].Content, key, oldValue);
      doc.Lines[*line].Content = std::string(key) + "=" + value;
    } else {
      std::size_t last = *section;
      for (std::size_t i = *section + 1; i < end; ++i)
        if (!TrimLine(doc.Lines[i].Content).empty()) last = i;
      if (doc.Lines[last].Ending.empty()) doc.Lines[last].Ending = newline;
      doc.Lines.insert(doc.Lines.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                       TLine{ident + "=" + value, newline});
    }
  } else {
    if (!doc.Lines.empty() && doc.Lines.back().Ending.empty()) {
      if (doc.Lines.back().Content.empty()) {
        doc.Lines.pop_back();
      } else {
        doc.Lines.back().Ending = newline;
      }
    }
    doc.Lines.push_back(TLine{"[" + sectionName + "]", newline});
    doc.Lines.push_back(TLine{ident + "=" + value, newline});
  }

  const std::string updated = Serialize(doc);
  if (hadFile && updated == *bytes) return;  // same content: nothing to replace
  if (!detail::ReplaceFile(*lock, target->Name, updated, hadFile ? &old : nullptr)) fail();
}

void TIniFile::WriteInteger(const std::string& ASection, const std::string& AIdent,
                            std::int32_t AValue) {
  WriteString(ASection, AIdent, std::to_string(AValue));
}

void TIniFile::WriteBool(const std::string& ASection, const std::string& AIdent, bool AValue) {
  WriteString(ASection, AIdent, AValue ? "1" : "0");
}

}  // namespace qvr
