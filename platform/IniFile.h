// The INI profile service: typed reads and immediate writes of one INI file.
//
// Reads go to the file every time (nothing is cached), so an edit made by
// another program is seen at the next read. Section and key names match
// without regard to letter case; blanks around a value and one pair of
// enclosing single or double quotes are removed; a value is cut to 2047
// characters (UTF-16 code units). Of duplicated sections or keys the first
// wins. Lines starting with ";" are comments.
//
// A write changes only the line of its key (a new key goes after the last
// non-blank line of its section, a new section at the end of the file) and
// keeps every other byte: comments, unknown sections, blank lines, order, line
// endings and a byte-order mark. The file is replaced atomically (temporary
// file in the same folder, flushed, renamed over it), so it is never left half
// written, and the read-modify-replace of a write holds an advisory lock on
// the file's folder so that writes of several programs never lose each
// other's keys, without leaving a file of its own; reads take no lock (see
// platform/detail/FileReplacement.h). New files
// are UTF-8 without a byte-order mark; UTF-8 and UTF-16LE files with a
// byte-order mark are read and written back in their encoding. A file without
// a mark that is not valid UTF-8 as a whole was written in the ANSI code page
// of the suite's earlier desktop platform: it reads as Windows-1252 and is
// written back in it, unless the new text cannot be (a character Windows-1252
// lacks): then the whole file is converted to UTF-8 in the same replacement,
// so that nothing is lost. Anything that is not a regular file (or a link to
// one) reads as absent and is never opened in a way that can wait.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SysUtils.h"

namespace qvr {

// A write that could not complete; the message is "Unable to write to <path>".
class EIniFileException : public Exception {
  using Exception::Exception;
};

class TIniFile {
 public:
  // Opening does not touch the disk: a missing file simply yields defaults.
  explicit TIniFile(std::string AFileName);

  const std::string& FileName() const { return FFileName; }

  // The stored text, or ADefault when the file, section or key is missing.
  std::string ReadString(const std::string& ASection, const std::string& AIdent,
                         const std::string& ADefault) const;
  // The stored value by the integer rule (see TryStrToInt; a leading "0x" of
  // a value longer than two characters counts as "$"); ADefault when missing
  // or malformed.
  std::int32_t ReadInteger(const std::string& ASection, const std::string& AIdent,
                           std::int32_t ADefault) const;
  // An integer read with default 1 or 0; any non-zero value is true.
  bool ReadBool(const std::string& ASection, const std::string& AIdent, bool ADefault) const;

  bool SectionExists(const std::string& ASection) const;
  bool ValueExists(const std::string& ASection, const std::string& AIdent) const;

  // Writes at once; through a symbolic link, the link's target is written (and
  // created when missing). A link that lies in a folder its group or others
  // may write is followed only when it belongs to root or to the writing
  // user (reads follow any link). Raises EIniFileException "Unable to write
  // to %s" and leaves the file exactly as it was when such a link belongs to
  // someone else, when the file has no write permission bit (also for root,
  // as a read-only file), when the process may not write it (not root), when
  // it is not a regular file, when its folder has no write permission bit,
  // cannot be opened or does not exist, when another writer holds the lock
  // longer than 10 seconds, when the new file could not keep the group's
  // rights, or when any step of the replacement fails. Line breaks inside
  // AValue are written as blanks so that a value can never add lines to the
  // file.
  void WriteString(const std::string& ASection, const std::string& AIdent,
                   const std::string& AValue);
  void WriteInteger(const std::string& ASection, const std::string& AIdent, std::int32_t AValue);
  void WriteBool(const std::string& ASection, const std::string& AIdent, bool AValue);

  // Writes are immediate; kept for callers that flush before releasing.
  void UpdateFile() {}

 private:
  std::string FFileName;
};

}  // namespace qvr
