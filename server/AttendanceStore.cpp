// The server's database and the queries of the remote methods; see
// AttendanceStore.h.
#include "server/AttendanceStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <variant>

#include "platform/StrUtils.h"
#include "rest/json/JSONText.h"
#include "server/CalendarText.h"
#include "server/PasswordHash.h"
#include "server/SampleData.h"
#include "server/ServerErrors.h"
#include "server/UserAccounts.h"

namespace qvr::server {

using data::TFieldDef;
using data::TFieldType;
using data::TMemTable;
using rest::TJSONObject;
using rest::TJSONValue;

namespace {

// Creates AFolder and its missing parents.
void MakeFolders(const std::string& AFolder) {
  for (std::size_t i = 1; i <= AFolder.size(); ++i) {
    if (i != AFolder.size() && AFolder[i] != '/') continue;
    const std::string part = AFolder.substr(0, i);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      throw Exception("Cannot create the data folder " + part + ": " + std::strerror(errno));
    }
  }
}

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

std::string NowText() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

std::unique_ptr<TJSONValue> Number(std::int64_t AValue) {
  return std::make_unique<rest::TJSONNumber>(AValue);
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

TAttendanceStore::TAttendanceStore(const std::string& ADataFolder, int ASeedEmployees,
                                   std::size_t AMaxConnections)
    : FPool((MakeFolders(ADataFolder), ADataFolder + "/" + kFileName), AMaxConnections) {
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  const bool empty =
      connection->QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'esquema'") == 0;
  if (empty) {
    CreateSchema(*connection);
    SeedSampleData(*connection, ASeedEmployees);
  } else {
    FHashedPasswords = UpgradeSchema(*connection, Path());
  }
  transaction.Commit();
  FSeeded = empty;
}

bool TAttendanceStore::UserAllowed(const std::string& AUserName, const std::string& APassword) {
  std::optional<std::string> hash;
  {
    // Read on every request, so that a user changed or removed by another
    // program is seen at once; the connection goes back before hashing.
    auto connection = FPool.Borrow();
    hash = StoredPasswordHash(*connection, AUserName);
  }
  if (!hash) {
    SpendVerificationTime(APassword);
    return false;
  }
  if (FVerified.Holds(AUserName, APassword, *hash)) return true;
  if (!PasswordMatches(*hash, APassword)) return false;
  FVerified.Remember(AUserName, APassword, *hash);
  return true;
}

bool TAttendanceStore::UserExists(const std::string& AUserName) {
  auto connection = FPool.Borrow();
  return qvr::server::UserExists(*connection, AUserName);
}

int TAttendanceStore::IDStatusDefault() {
  auto connection = FPool.Borrow();
  return static_cast<int>(connection->QueryInt("SELECT id_status_default FROM opciones"));
}

std::unique_ptr<TMemTable> TAttendanceStore::Query(const std::string& ASql,
                                                   const std::vector<TFieldDef>& AColumns) {
  auto table = std::make_unique<TMemTable>();
  for (const auto& column : AColumns) {
    table->FieldDefs().Add(column.Name, column.DataType, column.Required);
  }
  table->CreateDataSet();
  auto connection = FPool.Borrow();
  auto query = connection->Prepare(ASql);
  std::vector<data::TValue> row(AColumns.size());
  while (query.Step()) {
    for (std::size_t i = 0; i < AColumns.size(); ++i) {
      const int column = static_cast<int>(i);
      if (query.IsNull(column)) {
        row[i] = nullptr;
        continue;
      }
      switch (AColumns[i].DataType) {
        case TFieldType::ftInteger:
        case TFieldType::ftLargeint:
          row[i] = query.Int64(column);
          break;
        case TFieldType::ftBoolean:
          row[i] = query.Int64(column) != 0;
          break;
        case TFieldType::ftDateTime:
          if (const auto date = ReadDate(query.Text(column))) {
            row[i] = DateSerial(*date);
          } else {
            row[i] = nullptr;
          }
          break;
        case TFieldType::ftFloat:
          row[i] = query.Double(column);
          break;
        default:
          row[i] = query.Text(column);
          break;
      }
    }
    table->AppendRecord(row);
  }
  table->First();
  return table;
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

bool TAttendanceStore::EmployeeExists(std::int32_t ACodigo) {
  auto connection = FPool.Borrow();
  auto query = connection->Prepare("SELECT 1 FROM empleados WHERE codigo = ?");
  query.Bind(1, std::int64_t{ACodigo});
  return query.Step();
}

std::unique_ptr<TJSONObject> TAttendanceStore::EmployeeInfo(std::int32_t ACodigo) {
  auto info = std::make_unique<TJSONObject>();
  auto connection = FPool.Borrow();
  auto query = connection->Prepare(
      "SELECT e.codigo, e.nombre, e.apellido1, e.apellido2, e.dni, e.tarjeta, e.email, "
      "e.telefono, e.id_empresa, c.nombre, e.id_reloj, r.nombre, e.id_status, s.descripcion, "
      "e.fecha_alta FROM empleados e JOIN empresas c ON c.id_empresa = e.id_empresa "
      "JOIN relojes r ON r.id_reloj = e.id_reloj JOIN estados s ON s.id_status = e.id_status "
      "WHERE e.codigo = ?");
  query.Bind(1, std::int64_t{ACodigo});
  if (!query.Step()) return info;
  info->AddPair("Codigo", Number(query.Int64(0)));
  info->AddPair("Nombre", query.Text(1));
  info->AddPair("Apellido1", query.Text(2));
  info->AddPair("Apellido2", query.Text(3));
  info->AddPair("DNI", query.Text(4));
  info->AddPair("Tarjeta", query.Text(5));
  info->AddPair("Email", query.Text(6));
  info->AddPair("Telefono", query.Text(7));
  info->AddPair("IDEmpresa", Number(query.Int64(8)));
  info->AddPair("Empresa", query.Text(9));
  info->AddPair("IDReloj", Number(query.Int64(10)));
  info->AddPair("Reloj", query.Text(11));
  info->AddPair("IDStatus", Number(query.Int64(12)));
  info->AddPair("Status", query.Text(13));
  info->AddPair("FechaAlta", query.Text(14));
  return info;
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

  struct TChange {
    const TColumnRule* Rule;
    std::int64_t Integer = 0;
    std::string Text;
  };
  std::vector<TChange> changes;
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
    TChange change{rule, 0, {}};
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

  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  {
    auto exists = connection->Prepare("SELECT 1 FROM empleados WHERE codigo = ?");
    exists.Bind(1, *codigo);
    if (!exists.Step()) return false;
  }
  for (const auto& change : changes) {
    if (change.Rule->ReferencedTable != nullptr) {
      auto referenced =
          connection->Prepare(std::string("SELECT 1 FROM ") + change.Rule->ReferencedTable +
                              " WHERE " + change.Rule->Column + " = ?");
      referenced.Bind(1, change.Integer);
      if (!referenced.Step()) {
        throw BadRequest("ActualizarEmpleado: " + std::string(change.Rule->Member) + " " +
                         std::to_string(change.Integer) + " does not exist");
      }
    }
    auto update = connection->Prepare(std::string("UPDATE empleados SET ") + change.Rule->Column +
                                      " = ? WHERE codigo = ?");
    if (change.Rule->Integer) {
      update.Bind(1, change.Integer);
    } else {
      update.Bind(1, change.Text);
    }
    update.Bind(2, *codigo);
    update.Step();
  }
  transaction.Commit();
  if (!changes.empty()) ++FDataVersion;
  return true;
}

std::size_t TAttendanceStore::AppendAttendance(const std::string& AArchivo,
                                               const rest::TDataSetList& AList,
                                               const std::string& AUserName) {
  struct TRow {
    const std::string* Set;
    std::int64_t Codigo;
    std::string FechaHora;
    std::optional<std::int64_t> Reloj;
    std::optional<std::int64_t> Tipo;
  };
  std::vector<TRow> rows;
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
        TRow row{&name, integer(*codigo, "Codigo"), {}, std::nullopt, std::nullopt};
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

  const std::string received = NowText();
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  auto insert = connection->Prepare(
      "INSERT INTO asistencia (archivo, conjunto, codigo, fecha_hora, id_reloj, tipo, usuario, "
      "recibido) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  for (const auto& row : rows) {
    insert.Bind(1, AArchivo).Bind(2, *row.Set).Bind(3, row.Codigo).Bind(4, row.FechaHora);
    row.Reloj ? insert.Bind(5, *row.Reloj) : insert.BindNull(5);
    row.Tipo ? insert.Bind(6, *row.Tipo) : insert.BindNull(6);
    insert.Bind(7, AUserName).Bind(8, received);
    insert.Step();
    insert.Reset();
  }
  transaction.Commit();
  return rows.size();
}

std::int64_t TAttendanceStore::AttendanceCount() {
  auto connection = FPool.Borrow();
  return connection->QueryInt("SELECT count(*) FROM asistencia");
}

}  // namespace qvr::server
