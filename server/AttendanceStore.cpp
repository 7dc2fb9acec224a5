// What both stores share: credentials, the checks of employee changes and
// uploads, the rules of user changes, and the choice of store; see
// AttendanceStore.h.
#include "server/AttendanceStore.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <variant>

#include "platform/StrUtils.h"
#include "server/CalendarText.h"
#include "server/PasswordHash.h"
#include "server/PostgresAttendanceStore.h"
#include "server/SqliteAttendanceStore.h"

namespace qvr::server {

using data::TFieldType;
using data::TMemTable;
using rest::TJSONObject;
using rest::TJSONValue;

namespace {

// The integer in AField at the current row: the value of an Integer or
// Largeint column, or the decimal text of a String column (an optional "-"
// and digits, nothing else, within 64 bits). Nothing for anything else: a
// fraction, a Boolean or a date is no code a clock sends.
std::optional<std::int64_t> IntegerIn(const data::TField& AField) {
  const data::TValue value = AField.Value();
  switch (AField.DataType()) {
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint:
      if (const auto* number = std::get_if<std::int64_t>(&value.Data())) return *number;
      return std::nullopt;
    case TFieldType::ftString: {
      const auto* text = std::get_if<std::string>(&value.Data());
      if (text == nullptr || text->empty()) return std::nullopt;
      std::int64_t number = 0;
      // from_chars takes no "+", no blanks and no base prefix.
      const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
      if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
      return number;
    }
    default:
      return std::nullopt;
  }
}

// The time of an upload as stored: UTC, YYYY-MM-DD HH:MM:SS.
std::string NowText() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

// The integer a JSON member holds: a number or a string with an integer text.
std::optional<std::int64_t> IntegerOf(const TJSONValue& AValue) {
  const auto* text = AValue.AsString();
  if (text == nullptr || text->IsNullString()) return std::nullopt;
  std::int32_t value = 0;
  if (!TryDecimalToInt(text->Value(), value)) return std::nullopt;
  return value;
}

constexpr std::size_t kMaxTextMember = 200;

}  // namespace

bool TAttendanceStore::UserAllowed(const std::string& AUserName, const std::string& APassword) {
  // Read on every request, so that a user changed or removed by another
  // program is seen at once; the store's connection goes back before
  // hashing.
  const std::optional<std::string> hash = StoredPasswordHash(AUserName);
  if (!hash) {
    SpendVerificationTime(APassword);
    return false;
  }
  if (FVerified.Holds(AUserName, APassword, *hash)) return true;
  if (!PasswordMatches(*hash, APassword)) return false;
  FVerified.Remember(AUserName, APassword, *hash);
  return true;
}

bool TAttendanceStore::UserRecentlyAllowed(const std::string& AUserName,
                                           const std::string& APassword) {
  return FVerified.HoldsConfirmedWithin(AUserName, APassword, std::chrono::seconds(1));
}

std::unique_ptr<TMemTable> TAttendanceStore::Relojes() {
  return Query("SELECT id_reloj, nombre, ubicacion, id_empresa FROM relojes ORDER BY id_reloj",
               {{"IDReloj", TFieldType::ftInteger, true},
                {"Nombre", TFieldType::ftString},
                {"Ubicacion", TFieldType::ftString},
                {"IDEmpresa", TFieldType::ftInteger}});
}

std::unique_ptr<TMemTable> TAttendanceStore::Empresas() {
  return Query("SELECT id_empresa, nombre, cif FROM empresas ORDER BY id_empresa",
               {{"IDEmpresa", TFieldType::ftInteger, true},
                {"Nombre", TFieldType::ftString},
                {"CIF", TFieldType::ftString}});
}

std::unique_ptr<TMemTable> TAttendanceStore::PersonalParcial() {
  return Query(
      "SELECT codigo, nombre, apellido1 || ' ' || apellido2, tarjeta, id_reloj, id_status "
      "FROM empleados ORDER BY codigo",
      {{"Codigo", TFieldType::ftInteger, true},
       {"Nombre", TFieldType::ftString},
       {"Apellidos", TFieldType::ftString},
       {"Tarjeta", TFieldType::ftString},
       {"IDReloj", TFieldType::ftInteger},
       {"IDStatus", TFieldType::ftInteger}});
}

std::unique_ptr<TMemTable> TAttendanceStore::PersonalCompleta() {
  return Query(
      "SELECT codigo, nombre, apellido1, apellido2, dni, tarjeta, email, telefono, id_empresa, "
      "id_reloj, id_status, fecha_alta, id_status <> 2 FROM empleados ORDER BY codigo",
      {{"Codigo", TFieldType::ftInteger, true},
       {"Nombre", TFieldType::ftString},
       {"Apellido1", TFieldType::ftString},
       {"Apellido2", TFieldType::ftString},
       {"DNI", TFieldType::ftString},
       {"Tarjeta", TFieldType::ftString},
       {"Email", TFieldType::ftString},
       {"Telefono", TFieldType::ftString},
       {"IDEmpresa", TFieldType::ftInteger},
       {"IDReloj", TFieldType::ftInteger},
       {"IDStatus", TFieldType::ftInteger},
       {"FechaAlta", TFieldType::ftDateTime},
       {"Activo", TFieldType::ftBoolean}});
}

std::unique_ptr<TMemTable> TAttendanceStore::Status() {
  return Query("SELECT id_status, descripcion FROM estados ORDER BY id_status",
               {{"IDStatus", TFieldType::ftInteger, true}, {"Descripcion", TFieldType::ftString}});
}

EHttpError TAttendanceStore::MissingReference(const TEmployeeChange& AChange) {
  return BadRequest("ActualizarEmpleado: " + std::string(AChange.Member) + " " +
                    std::to_string(AChange.Integer) + " does not exist");
}

bool TAttendanceStore::UpdateEmployee(const TJSONObject& ADatos) {
  struct TColumnRule {
    const char* Member;
    const char* Column;
    bool Integer;
    const char* ReferencedTable;  // integers that name a row of another table
  };
  static constexpr TColumnRule kRules[] = {
      {"Nombre", "nombre", false, nullptr},          {"Apellido1", "apellido1", false, nullptr},
      {"Apellido2", "apellido2", false, nullptr},    {"DNI", "dni", false, nullptr},
      {"Tarjeta", "tarjeta", false, nullptr},        {"Email", "email", false, nullptr},
      {"Telefono", "telefono", false, nullptr},      {"FechaAlta", "fecha_alta", false, nullptr},
      {"IDEmpresa", "id_empresa", true, "empresas"}, {"IDReloj", "id_reloj", true, "relojes"},
      {"IDStatus", "id_status", true, "estados"},
  };
  // Members InfoEmpleado answers that follow from others; sending an
  // InfoEmpleado answer back changed is allowed, so they are ignored.
  static constexpr const char* kDerived[] = {"Empresa", "Reloj", "Status"};

  const TJSONValue* code = ADatos.GetValue("Codigo");
  if (code == nullptr) throw BadRequest("ActualizarEmpleado: the member Codigo is missing");
  const auto codigo = IntegerOf(*code);
  if (!codigo) throw BadRequest("ActualizarEmpleado: Codigo must be an integer");

  std::vector<TEmployeeChange> changes;
  for (const auto& pair : ADatos.Members()) {
    const std::string& name = pair.Name();
    if (name == "Codigo") continue;
    if (std::find_if(std::begin(kDerived), std::end(kDerived),
                     [&](const char* ADerived) { return name == ADerived; }) != std::end(kDerived))
      continue;
    const auto* rule = std::find_if(std::begin(kRules), std::end(kRules),
                                    [&](const TColumnRule& ARule) { return name == ARule.Member; });
    if (rule == std::end(kRules)) {
      throw BadRequest("ActualizarEmpleado: unknown member " + name);
    }
    const TJSONValue& value = *pair.JsonValue();
    // The referenced key column has the changed column's name.
    TEmployeeChange change{
        rule->Member, rule->Column, rule->Integer, rule->ReferencedTable, rule->Column, 0, {}};
    if (rule->Integer) {
      const auto number = IntegerOf(value);
      if (!number) throw BadRequest("ActualizarEmpleado: " + name + " must be an integer");
      change.Integer = *number;
    } else {
      const auto* text = value.AsString();
      if (text == nullptr || text->IsNullString() || value.Kind() != TJSONValue::TKind::String) {
        throw BadRequest("ActualizarEmpleado: " + name + " must be a string");
      }
      if (text->Value().size() > kMaxTextMember) {
        throw BadRequest("ActualizarEmpleado: " + name + " is longer than " +
                         std::to_string(kMaxTextMember) + " bytes");
      }
      if (name == "FechaAlta" && !ReadDate(text->Value())) {
        throw BadRequest("ActualizarEmpleado: FechaAlta must be a date YYYY-MM-DD");
      }
      change.Text = text->Value();
    }
    changes.push_back(std::move(change));
  }
  return ChangeEmployee(*codigo, changes);
}

std::size_t TAttendanceStore::AppendAttendance(const std::string& AArchivo,
                                               const rest::TDataSetList& AList,
                                               const std::string& AUserName) {
  std::vector<TAttendanceRow> rows;
  const auto names = AList.Names();
  for (int d = 0; d < AList.Count(); ++d) {
    auto& dataset = AList.DataSet(d);
    const std::string& name = names[static_cast<std::size_t>(d)];
    const std::string where = "SubirAsistencia: dataset '" + name + "'";
    if (!dataset.Active()) dataset.Open();
    auto codigo = dataset.FindField("Codigo");
    auto fecha = dataset.FindField("FechaHora");
    if (!codigo || !fecha) throw BadRequest(where + " needs the columns Codigo and FechaHora");
    auto reloj = dataset.FindField("IDReloj");
    auto tipo = dataset.FindField("Tipo");
    int number = 0;
    for (dataset.First(); !dataset.Eof(); dataset.Next()) {
      ++number;
      const std::string at = where + ", row " + std::to_string(number) + ": ";
      // A value of the wrong kind is the client's fault: 400 naming the
      // column, never a conversion failure surfacing as 500.
      const auto integer = [&](const data::TField& AField, const char* AColumn) {
        const auto value = IntegerIn(AField);
        if (!value) throw BadRequest(at + AColumn + " is not an integer");
        return *value;
      };
      try {
        if (codigo->IsNull()) throw BadRequest(at + "Codigo is empty");
        TAttendanceRow row{&names[static_cast<std::size_t>(d)],
                           integer(*codigo, "Codigo"),
                           {},
                           std::nullopt,
                           std::nullopt};
        if (fecha->IsNull()) throw BadRequest(at + "FechaHora is empty");
        const auto stamp = ReadDateTime(fecha->AsString());
        if (!stamp) {
          throw BadRequest(at + "FechaHora is not a date and time YYYY-MM-DD HH:MM:SS");
        }
        row.FechaHora = DateTimeText(*stamp);
        if (reloj && !reloj->IsNull()) row.Reloj = integer(*reloj, "IDReloj");
        if (tipo && !tipo->IsNull()) row.Tipo = integer(*tipo, "Tipo");
        rows.push_back(std::move(row));
      } catch (const data::EDataSetError& AError) {
        throw BadRequest(at + AError.Message());
      }
    }
  }
  InsertAttendance(AArchivo, rows, AUserName, NowText());
  return rows.size();
}

void TAttendanceStore::AddUser(const std::string& AUID, const std::string& ANombre,
                               std::string_view APassword) {
  CheckUserName(AUID);
  CheckUserNombre(ANombre);
  const std::string hash = HashPassword(APassword);
  if (!InsertUser(AUID, hash, ANombre)) throw EUserError("The user " + AUID + " exists already");
}

void TAttendanceStore::SetUserPassword(const std::string& AUID, std::string_view APassword) {
  const std::string hash = HashPassword(APassword);
  if (!ChangeUserHash(AUID, hash)) throw EUserError("There is no user " + AUID);
}

void TAttendanceStore::RemoveUser(const std::string& AUID) {
  if (!DeleteUser(AUID)) throw EUserError("There is no user " + AUID);
}

std::vector<TUserAccount> TAttendanceStore::ListUsers() {
  // Verified after the query is done, so that no read stays open during
  // the hashes.
  std::vector<TUserAccount> users;
  for (auto& row : UserRows()) {
    users.push_back({std::move(row.UID), std::move(row.Nombre), PasswordMatches(row.Hash, "")});
  }
  return users;
}

std::unique_ptr<TSessionStore> TAttendanceStore::MakeSessionStore(
    std::chrono::milliseconds AIdleTimeout, std::size_t AMaxSessions,
    TSessionStore::TDropEvent AOnDrop) {
  return std::make_unique<TMemorySessionStore>(AIdleTimeout, AMaxSessions, std::move(AOnDrop));
}

std::unique_ptr<TCacheArea> TAttendanceStore::MakeCacheArea(std::size_t AMaxCommandsPerSession,
                                                            std::size_t AMaxBytes) {
  return std::make_unique<TMemoryCacheArea>(AMaxCommandsPerSession, AMaxBytes);
}

bool IsPostgresUrl(std::string_view ADatabase) {
  return ADatabase.starts_with("postgresql://") || ADatabase.starts_with("postgres://");
}

std::unique_ptr<TAttendanceStore> OpenAttendanceStore(const TStoreSettings& ASettings) {
  if (ASettings.Database.empty()) return std::make_unique<TSqliteAttendanceStore>(ASettings);
  if (!IsPostgresUrl(ASettings.Database)) {
    throw Exception("A database is a PostgreSQL URL, postgresql://...");
  }
  return std::make_unique<TPostgresAttendanceStore>(ASettings);
}

}  // namespace qvr::server
