// Saving and loading the binary storage format; see BinStorage.h and
// docs/dataset-format.md for the layout.
#include "data/BinStorage.h"

#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "data/FieldDefs.h"
#include "data/FieldValues.h"
#include "data/Fields.h"
#include "data/ResourceOptions.h"
#include "platform/Utf.h"

namespace qvr::data {

namespace {

constexpr char kMagic[4] = {'B', 'T', 'B', 'L'};
constexpr std::uint32_t kNoName = 0xFFFFFFFFu;
constexpr std::uint8_t kFlagRequired = 0x01;

std::size_t ValueSize(TFieldType AType) {
  switch (AType) {
    case TFieldType::ftInteger:
      return 4;
    case TFieldType::ftLargeint:
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      return 8;
    case TFieldType::ftBoolean:
      return 1;
    case TFieldType::ftString:
    case TFieldType::ftBytes:
      return 4;  // the length prefix
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Writing: the exact size is computed first, then every byte is written once
// into a buffer of that size.

class TWriter {
 public:
  explicit TWriter(char* AOut) : FOut(AOut) {}
  void U8(std::uint8_t AValue) { *FOut++ = static_cast<char>(AValue); }
  void U16(std::uint16_t AValue) {
    U8(static_cast<std::uint8_t>(AValue));
    U8(static_cast<std::uint8_t>(AValue >> 8));
  }
  void U32(std::uint32_t AValue) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(AValue >> (8 * i)));
  }
  void U64(std::uint64_t AValue) {
    for (int i = 0; i < 8; ++i) U8(static_cast<std::uint8_t>(AValue >> (8 * i)));
  }
  void Bytes(const void* AData, std::size_t ACount) {
    if (ACount != 0) std::memcpy(FOut, AData, ACount);
    FOut += ACount;
  }
  char* Position() const { return FOut; }

 private:
  char* FOut;
};

std::u16string DictionaryText(const std::string& AName) {
  std::u16string text = Utf8ToUtf16(AName);
  if (text.size() * 2 > 0xFFFF) {
    throw EDataSetError(Format("Name '%s' is too long for the binary storage format", AName));
  }
  return text;
}

void WriteColumn(TWriter& AOut, const TColumn& AColumn) {
  const std::size_t rows = AColumn.Size();
  const auto& nulls = AColumn.Nulls();
  AOut.Bytes(nulls.data(), rows);
  switch (AColumn.DataType()) {
    case TFieldType::ftInteger: {
      const auto& v = AColumn.Int32s();
      for (std::size_t r = 0; r < rows; ++r) {
        if (nulls[r] == 0) AOut.U32(static_cast<std::uint32_t>(v[r]));
      }
      break;
    }
    case TFieldType::ftLargeint: {
      const auto& v = AColumn.Int64s();
      for (std::size_t r = 0; r < rows; ++r) {
        if (nulls[r] == 0) AOut.U64(static_cast<std::uint64_t>(v[r]));
      }
      break;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime: {
      const auto& v = AColumn.Doubles();
      for (std::size_t r = 0; r < rows; ++r) {
        if (nulls[r] != 0) continue;
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v[r], 8);
        AOut.U64(bits);
      }
      break;
    }
    case TFieldType::ftBoolean: {
      const auto& v = AColumn.Booleans();
      for (std::size_t r = 0; r < rows; ++r) {
        if (nulls[r] == 0) AOut.U8(v[r] != 0 ? 1 : 0);
      }
      break;
    }
    case TFieldType::ftString:
    case TFieldType::ftBytes: {
      for (std::size_t r = 0; r < rows; ++r) {
        if (nulls[r] != 0) continue;
        const std::string_view t = AColumn.Text(r);
        AOut.U32(static_cast<std::uint32_t>(t.size()));
        AOut.Bytes(t.data(), t.size());
      }
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Reading: a cursor over [begin, end) that raises the storage error for every
// read past the end, so no length read from the bytes is trusted unchecked.

class TReader {
 public:
  TReader(const unsigned char* AData, std::size_t ABegin, std::size_t AEnd)
      : FData(AData), FPos(ABegin), FEnd(AEnd) {}

  std::size_t Remaining() const { return FEnd - FPos; }
  bool AtEnd() const { return FPos == FEnd; }
  // Raises the storage error unless ACount bytes remain.
  void Need(std::size_t ACount) const {
    if (ACount > Remaining()) throw EStorageError();
  }
  const unsigned char* Take(std::size_t ACount) {
    Need(ACount);
    const unsigned char* p = FData + FPos;
    FPos += ACount;
    return p;
  }
  std::uint8_t U8() { return *Take(1); }
  std::uint16_t U16() {
    const unsigned char* p = Take(2);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint32_t U32() { return Le32(Take(4)); }

  static std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  static std::uint64_t Le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
  }

 private:
  const unsigned char* FData;
  std::size_t FPos;
  std::size_t FEnd;
};

std::vector<std::string> ReadDictionary(TReader& AIn) {
  std::vector<std::string> entries;
  while (!AIn.AtEnd()) {
    const std::uint16_t bytes = AIn.U16();
    if (bytes % 2 != 0) throw EStorageError();
    const unsigned char* p = AIn.Take(bytes);
    std::u16string text(bytes / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    entries.push_back(Utf16ToUtf8(text));
  }
  return entries;
}

const std::string& DictionaryEntry(const std::vector<std::string>& ADictionary,
                                   std::uint32_t AIndex) {
  if (AIndex >= ADictionary.size()) throw EStorageError();
  return ADictionary[AIndex];
}

// Each row of a text column on its own is valid UTF-8 exactly when the whole
// buffer is and no non-empty row starts in the middle of a character (the
// rows of a valid buffer that all start on a character are whole characters).
bool RowsAreValidUtf8(const std::string& ABuffer, const std::vector<std::size_t>& AEnds) {
  if (!IsValidUtf8(ABuffer)) return false;
  const auto* s = reinterpret_cast<const unsigned char*>(ABuffer.data());
  std::size_t begin = 0;
  for (const std::size_t end : AEnds) {
    if (end > begin && (s[begin] & 0xC0) == 0x80) return false;
    begin = end;
  }
  return true;
}

// Fills AValues (one entry per row) from the packed values of the non-null
// rows at AData, which the caller has checked are all there. A column without
// nulls is the packed values as they stand on a little-endian machine.
template <typename T, typename TDecode>
void ReadFixed(std::vector<T>& AValues, const unsigned char* AFlags, std::size_t ARows,
               std::size_t APresent, const unsigned char* AData, TDecode ADecode) {
  AValues.resize(ARows);
  if (APresent == ARows && std::endian::native == std::endian::little) {
    if (ARows != 0) std::memcpy(AValues.data(), AData, ARows * sizeof(T));
    return;
  }
  for (std::size_t r = 0; r < ARows; ++r) {
    if (AFlags[r] != 0) continue;
    AValues[r] = ADecode(AData);
    AData += sizeof(T);
  }
}

// Reads the text or bytes of ARows rows (their null flags at AFlags) into
// AColumn.
void ReadTextColumn(TReader& AIn, TColumn& AColumn, const unsigned char* AFlags,
                    std::size_t ARows) {
  // First pass: check every length against the bytes and note where each
  // row ends, so the text buffer is allocated once and never beyond what the
  // stream holds. Every row costs at least its flag byte in the stream, so
  // the offsets allocate no more than a small multiple of the bytes read.
  std::vector<std::size_t> ends(ARows);
  const unsigned char* const first = AIn.Take(0);
  const unsigned char* const limit = first + AIn.Remaining();
  const unsigned char* p = first;
  std::size_t total = 0;
  for (std::size_t r = 0; r < ARows; ++r) {
    if (AFlags[r] == 0) {
      // Each length is found only by the one before it, so the bytes ahead
      // are fetched early rather than waited for.
      __builtin_prefetch(p + 512);
      if (limit - p < 4) throw EStorageError();
      const std::uint32_t len = TReader::Le32(p);
      p += 4;
      if (len > static_cast<std::size_t>(limit - p)) throw EStorageError();
      p += len;
      total += len;
    }
    ends[r] = total;
  }
  // Second pass: the rows' bytes, whose places the first pass has fixed, so
  // no copy waits for a length to be read.
  std::string buffer(total, '\0');
  const unsigned char* in = AIn.Take(static_cast<std::size_t>(p - first));
  std::size_t begin = 0;
  for (std::size_t r = 0; r < ARows; ++r) {
    if (AFlags[r] != 0) continue;
    in += 4;
    const std::size_t len = ends[r] - begin;
    if (len != 0) std::memcpy(buffer.data() + begin, in, len);
    in += len;
    begin = ends[r];
  }
  if (AColumn.DataType() == TFieldType::ftString && !RowsAreValidUtf8(buffer, ends)) {
    // Rare path: rebuild the column with every invalid sequence replaced.
    TColumn fixed(TFieldType::ftString);
    fixed.Reserve(ARows);
    begin = 0;
    for (std::size_t r = 0; r < ARows; ++r) {
      if (AFlags[r] != 0) {
        fixed.AppendNull();
      } else {
        fixed.AppendText(SanitizeUtf8(std::string_view(buffer).substr(begin, ends[r] - begin)));
      }
      begin = ends[r];
    }
    AColumn = std::move(fixed);
    return;
  }
  AColumn.AssignText(std::vector<std::uint8_t>(AFlags, AFlags + ARows), std::move(buffer),
                     std::move(ends));
}

// Reads one column block of ARows rows into AColumn.
void ReadColumn(TReader& AIn, TColumn& AColumn, std::size_t ARows) {
  const unsigned char* flags = AIn.Take(ARows);
  std::size_t present = 0;
  unsigned char bad = 0;
  for (std::size_t r = 0; r < ARows; ++r) {
    bad |= flags[r] & 0xFE;
    present += flags[r] == 0 ? 1 : 0;
  }
  if (bad != 0) throw EStorageError();
  const TFieldType type = AColumn.DataType();
  if (type == TFieldType::ftString || type == TFieldType::ftBytes) {
    ReadTextColumn(AIn, AColumn, flags, ARows);
    return;
  }
  AColumn.Nulls().assign(flags, flags + ARows);
  const std::size_t size = ValueSize(type);
  const unsigned char* p = AIn.Take(present * size);
  switch (type) {
    case TFieldType::ftInteger:
      ReadFixed(AColumn.Int32s(), flags, ARows, present, p,
                [](const unsigned char* q) { return static_cast<std::int32_t>(TReader::Le32(q)); });
      break;
    case TFieldType::ftLargeint:
      ReadFixed(AColumn.Int64s(), flags, ARows, present, p,
                [](const unsigned char* q) { return static_cast<std::int64_t>(TReader::Le64(q)); });
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftDateTime:
      ReadFixed(AColumn.Doubles(), flags, ARows, present, p,
                [](const unsigned char* q) { return std::bit_cast<double>(TReader::Le64(q)); });
      break;
    case TFieldType::ftBoolean: {
      unsigned char badValue = 0;
      for (std::size_t k = 0; k < present; ++k) badValue |= p[k] & 0xFE;
      if (badValue != 0) throw EStorageError();
      ReadFixed(AColumn.Booleans(), flags, ARows, present, p,
                [](const unsigned char* q) { return *q; });
      break;
    }
    default:
      break;
  }
}

}  // namespace

std::string TBinStorage::SaveToBytes(const TAdaptedDataSet& ADataSet) {
  // RecordCount checks that the dataset is open.
  const std::size_t rows = static_cast<std::size_t>(ADataSet.RecordCount());
  const auto& defs = ADataSet.ColumnDefs();

  // Dictionary: the table name (when there is one), then the column names.
  std::vector<std::u16string> dictionary;
  std::uint32_t tableName = kNoName;
  if (!ADataSet.Name().empty()) {
    tableName = 0;
    dictionary.push_back(DictionaryText(ADataSet.Name()));
  }
  for (const auto& def : defs) dictionary.push_back(DictionaryText(def.Name));

  std::uint64_t content = 4 + 4 + 6 * std::uint64_t{defs.size()} + 4;
  for (std::size_t c = 0; c < defs.size(); ++c) {
    const TColumn& column = ADataSet.Column(static_cast<int>(c));
    std::uint64_t present = 0;
    for (std::uint8_t n : column.Nulls()) present += n == 0 ? 1 : 0;
    content += rows + present * ValueSize(defs[c].DataType);
    if (defs[c].DataType == TFieldType::ftString || defs[c].DataType == TFieldType::ftBytes) {
      // Text of null rows is empty, so the buffer holds exactly the text written.
      content += column.TextBuffer().size();
      for (std::size_t r = 0; r < rows; ++r) {
        if (column.Text(r).size() > 0xFFFFFFFFu) {
          throw EDataSetError("Value too long for the binary storage format");
        }
      }
    }
  }
  std::uint64_t dictionaryBytes = 0;
  for (const auto& e : dictionary) dictionaryBytes += 2 + 2 * std::uint64_t{e.size()};
  const std::uint64_t dictionaryOffset = kHeaderSize + content;
  if (dictionaryOffset > 0xFFFFFFFFu || rows > 0xFFFFFFFFu) {
    throw EDataSetError("Dataset too large for the binary storage format");
  }

  std::string out(static_cast<std::size_t>(dictionaryOffset + dictionaryBytes), '\0');
  TWriter w(out.data());
  w.Bytes(kMagic, 4);
  const int storeVersion = ADataSet.ResourceOptions().StoreVersion();
  w.U16(storeVersion == -1 ? kVersion : static_cast<std::uint16_t>(storeVersion));
  w.U16(0);  // reserved
  w.U32(static_cast<std::uint32_t>(dictionaryOffset));

  w.U32(tableName);
  w.U32(static_cast<std::uint32_t>(defs.size()));
  const std::uint32_t firstColumnName = tableName == kNoName ? 0 : 1;
  for (std::size_t c = 0; c < defs.size(); ++c) {
    w.U32(firstColumnName + static_cast<std::uint32_t>(c));
    w.U8(static_cast<std::uint8_t>(defs[c].DataType));
    w.U8(defs[c].Required ? kFlagRequired : 0);
  }
  w.U32(static_cast<std::uint32_t>(rows));
  for (std::size_t c = 0; c < defs.size(); ++c)
    WriteColumn(w, ADataSet.Column(static_cast<int>(c)));

  for (const auto& e : dictionary) {
    w.U16(static_cast<std::uint16_t>(e.size() * 2));
    for (char16_t u : e) w.U16(static_cast<std::uint16_t>(u));
  }
  return out;
}

void TBinStorage::Save(const TAdaptedDataSet& ADataSet, TStream& AStream) {
  const std::string bytes = SaveToBytes(ADataSet);
  AStream.Write(bytes);
}

void TBinStorage::Load(TAdaptedDataSet& ADataSet, std::string_view ABytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(ABytes.data());
  const std::size_t size = ABytes.size();
  if (size < kHeaderSize || std::memcmp(data, kMagic, 4) != 0) throw EStorageError();
  // The version is not checked: every version this library writes has this layout.
  const std::uint32_t dictionaryOffset = TReader::Le32(data + 8);
  if (dictionaryOffset < kHeaderSize || dictionaryOffset > size) throw EStorageError();

  TReader dictionaryReader(data, dictionaryOffset, size);
  const std::vector<std::string> dictionary = ReadDictionary(dictionaryReader);

  TReader in(data, kHeaderSize, dictionaryOffset);
  const std::uint32_t tableName = in.U32();
  std::string name;
  if (tableName != kNoName) name = DictionaryEntry(dictionary, tableName);

  const std::uint32_t columnCount = in.U32();
  in.Need(std::size_t{columnCount} * 6);
  std::vector<TFieldDef> defs;
  defs.reserve(columnCount);
  TFieldDefs seen;
  for (std::uint32_t c = 0; c < columnCount; ++c) {
    const std::string& columnName = DictionaryEntry(dictionary, in.U32());
    const std::uint8_t type = in.U8();
    const std::uint8_t flags = in.U8();
    if (!IsValidFieldType(type) || (flags & ~kFlagRequired) != 0) throw EStorageError();
    // Empty and duplicate names are as invalid here as they are in FieldDefs.
    if (columnName.empty() || seen.IndexOf(columnName) >= 0) throw EStorageError();
    seen.Add(columnName, static_cast<TFieldType>(type));
    defs.push_back(
        TFieldDef{columnName, static_cast<TFieldType>(type), (flags & kFlagRequired) != 0});
  }
  const std::uint32_t rows = in.U32();
  // Rows without columns would cost nothing in the stream; they describe nothing.
  if (columnCount == 0 && rows != 0) throw EStorageError();
  if (rows > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) throw EStorageError();

  std::vector<TColumn> columns;
  columns.reserve(columnCount);
  for (std::uint32_t c = 0; c < columnCount; ++c) {
    columns.emplace_back(defs[c].DataType);
    ReadColumn(in, columns.back(), rows);
    if (defs[c].Required) {
      for (std::uint8_t n : columns.back().Nulls()) {
        if (n != 0) throw EStorageError();
      }
    }
  }
  if (!in.AtEnd()) throw EStorageError();

  ADataSet.Close();
  ADataSet.SetName(name);
  ADataSet.LoadData(std::move(defs), std::move(columns));
}

void TBinStorage::Load(TAdaptedDataSet& ADataSet, TStream& AStream) {
  Load(ADataSet, ReadToEnd(AStream));
}

}  // namespace qvr::data
