// The store on SQLite; see SqliteAttendanceStore.h.
#include "server/SqliteAttendanceStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "server/CalendarText.h"
#include "server/PasswordHash.h"
#include "server/SampleData.h"

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

std::unique_ptr<TJSONValue> Number(std::int64_t AValue) {
  return std::make_unique<rest::TJSONNumber>(AValue);
}

// Creates the tables (the database must be empty), inside the caller's
// transaction.
void CreateSchema(TSqliteConnection& AConnection) {
  AConnection.Exec(R"sql(
CREATE TABLE esquema (version INTEGER NOT NULL);
CREATE TABLE empresas (
  id_empresa INTEGER PRIMARY KEY,
  nombre TEXT NOT NULL,
  cif TEXT NOT NULL);
CREATE TABLE relojes (
  id_reloj INTEGER PRIMARY KEY,
  nombre TEXT NOT NULL,
  ubicacion TEXT NOT NULL,
  id_empresa INTEGER NOT NULL REFERENCES empresas(id_empresa));
CREATE TABLE estados (
  id_status INTEGER PRIMARY KEY,
  descripcion TEXT NOT NULL);
CREATE TABLE empleados (
  codigo INTEGER PRIMARY KEY,
  nombre TEXT NOT NULL,
  apellido1 TEXT NOT NULL,
  apellido2 TEXT NOT NULL,
  dni TEXT NOT NULL,
  tarjeta TEXT NOT NULL,
  email TEXT NOT NULL,
  telefono TEXT NOT NULL,
  id_empresa INTEGER NOT NULL REFERENCES empresas(id_empresa),
  id_reloj INTEGER NOT NULL REFERENCES relojes(id_reloj),
  id_status INTEGER NOT NULL REFERENCES estados(id_status),
  fecha_alta TEXT NOT NULL);
CREATE TABLE asistencia (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  archivo TEXT NOT NULL,
  conjunto TEXT NOT NULL,
  codigo INTEGER NOT NULL,
  fecha_hora TEXT NOT NULL,
  id_reloj INTEGER,
  tipo INTEGER,
  usuario TEXT NOT NULL,
  recibido TEXT NOT NULL);
CREATE INDEX asistencia_codigo ON asistencia(codigo);
CREATE TABLE usuarios (
  uid TEXT PRIMARY KEY,
  clave TEXT NOT NULL DEFAULT '',
  nombre TEXT NOT NULL);
CREATE TABLE opciones (
  id_status_default INTEGER NOT NULL REFERENCES estados(id_status));
)sql");
  auto version = AConnection.Prepare("INSERT INTO esquema VALUES (?)");
  version.Bind(1, std::int64_t{kSchemaVersion});
  version.Step();
}

// Fills the new tables with the sample data, inside the caller's
// transaction.
void SeedSampleData(TSqliteConnection& AConnection, int AEmployees) {
  {
    auto insert = AConnection.Prepare("INSERT INTO empresas VALUES (?, ?, ?)");
    for (const auto& company : SampleCompanies()) {
      insert.Bind(1, std::int64_t{company.Id}).Bind(2, company.Nombre).Bind(3, company.CIF);
      insert.Step();
      insert.Reset();
    }
  }
  {
    auto insert = AConnection.Prepare("INSERT INTO relojes VALUES (?, ?, ?, ?)");
    for (const auto& clock : SampleClocks()) {
      insert.Bind(1, std::int64_t{clock.Id})
          .Bind(2, clock.Nombre)
          .Bind(3, clock.Ubicacion)
          .Bind(4, std::int64_t{clock.Empresa});
      insert.Step();
      insert.Reset();
    }
  }
  {
    auto insert = AConnection.Prepare("INSERT INTO estados VALUES (?, ?)");
    for (const auto& status : SampleStatuses()) {
      insert.Bind(1, std::int64_t{status.Id}).Bind(2, status.Descripcion);
      insert.Step();
      insert.Reset();
    }
  }
  {
    auto insert = AConnection.Prepare("INSERT INTO opciones VALUES (?)");
    insert.Bind(1, std::int64_t{kSampleStatusDefault});
    insert.Step();
  }
  {
    auto insert = AConnection.Prepare("INSERT INTO usuarios (uid, clave, nombre) VALUES (?, ?, ?)");
    for (const auto& user : SampleUsers()) {
      insert.Bind(1, user.UID).Bind(2, HashPassword("")).Bind(3, user.Nombre);
      insert.Step();
      insert.Reset();
    }
  }
  auto insert =
      AConnection.Prepare("INSERT INTO empleados VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  ForEachSampleEmployee(AEmployees, [&](const TSampleEmployee& AEmployee) {
    insert.Bind(1, std::int64_t{AEmployee.Codigo})
        .Bind(2, AEmployee.Nombre)
        .Bind(3, AEmployee.Apellido1)
        .Bind(4, AEmployee.Apellido2)
        .Bind(5, AEmployee.DNI)
        .Bind(6, AEmployee.Tarjeta)
        .Bind(7, AEmployee.Email)
        .Bind(8, AEmployee.Telefono)
        .Bind(9, std::int64_t{AEmployee.IDEmpresa})
        .Bind(10, std::int64_t{AEmployee.IDReloj})
        .Bind(11, std::int64_t{AEmployee.IDStatus})
        .Bind(12, AEmployee.FechaAlta);
    insert.Step();
    insert.Reset();
  });
}

// Hashes every password of the table kept as text (a value without the
// hash's prefix), inside the caller's transaction, and returns how many.
std::size_t HashTextPasswords(TSqliteConnection& AConnection) {
  std::vector<std::pair<std::string, std::string>> texts;
  {
    auto query =
        AConnection.Prepare("SELECT uid, clave FROM usuarios WHERE substr(clave, 1, ?) <> ?");
    query.Bind(1, static_cast<std::int64_t>(kPasswordHashPrefix.size()))
        .Bind(2, kPasswordHashPrefix);
    while (query.Step()) texts.emplace_back(query.Text(0), query.Text(1));
  }
  auto update = AConnection.Prepare("UPDATE usuarios SET clave = ? WHERE uid = ?");
  for (const auto& [uid, text] : texts) {
    update.Bind(1, HashPassword(text)).Bind(2, uid);
    update.Step();
    update.Reset();
  }
  return texts.size();
}

// Brings the existing database APath to kSchemaVersion inside the caller's
// transaction: hashes every password kept as text (all of them in a version
// 1 database; in a version 2 one, rows added by hand since) and records the
// version. Returns the number of passwords hashed. Raises ESqliteError for a
// database that is no qvr-server's or has a schema this server does not know.
std::size_t UpgradeSchema(TSqliteConnection& AConnection, const std::string& APath) {
  if (AConnection.QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'esquema'") == 0) {
    throw ESqliteError("The database " + APath + " is not a qvr-server database");
  }
  const std::int64_t version = AConnection.QueryInt("SELECT version FROM esquema");
  if (version < 1 || version > kSchemaVersion) {
    throw ESqliteError("The database " + APath + " has a schema this server does not know (" +
                       std::to_string(version) + ")");
  }
  const std::size_t hashed = HashTextPasswords(AConnection);
  if (version != kSchemaVersion) {
    auto update = AConnection.Prepare("UPDATE esquema SET version = ?");
    update.Bind(1, std::int64_t{kSchemaVersion});
    update.Step();
  }
  return hashed;
}

}  // namespace

TSqliteAttendanceStore::TSqliteAttendanceStore(const TStoreSettings& ASettings)
    : FPool((ASettings.Mode == TStoreSettings::TOpenMode::CreateWhenMissing
                 ? MakeFolders(ASettings.DataFolder)
                 : void(),
             ASettings.DataFolder + "/" + kFileName),
            ASettings.MaxConnections) {
  const bool mayCreate = ASettings.Mode == TStoreSettings::TOpenMode::CreateWhenMissing;
  // A missing file stays missing: the pool would create it.
  if (!mayCreate) TSqliteConnection(Location(), TSqliteConnection::TOpenMode::ExistingOnly);
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  const bool empty =
      connection->QueryInt("SELECT count(*) FROM sqlite_master WHERE name = 'esquema'") == 0;
  if (empty && mayCreate) {
    CreateSchema(*connection);
    SeedSampleData(*connection, ASettings.SeedEmployees);
  } else {
    FHashedPasswords = UpgradeSchema(*connection, Location());
  }
  transaction.Commit();
  FSeeded = empty && mayCreate;
}

void TSqliteAttendanceStore::CheckReachable() {
  auto connection = FPool.Borrow();
  connection->QueryInt("SELECT 1");
}

std::optional<std::string> TSqliteAttendanceStore::StoredPasswordHash(const std::string& AUID) {
  auto connection = FPool.Borrow();
  auto query = connection->Prepare("SELECT clave FROM usuarios WHERE uid = ?");
  query.Bind(1, AUID);
  if (!query.Step()) return std::nullopt;
  return std::string(query.Text(0));
}

int TSqliteAttendanceStore::IDStatusDefault() {
  auto connection = FPool.Borrow();
  return static_cast<int>(connection->QueryInt("SELECT id_status_default FROM opciones"));
}

std::unique_ptr<TMemTable> TSqliteAttendanceStore::Query(const std::string& ASql,
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

bool TSqliteAttendanceStore::EmployeeExists(std::int32_t ACodigo) {
  auto connection = FPool.Borrow();
  auto query = connection->Prepare("SELECT 1 FROM empleados WHERE codigo = ?");
  query.Bind(1, std::int64_t{ACodigo});
  return query.Step();
}

std::unique_ptr<TJSONObject> TSqliteAttendanceStore::EmployeeInfo(std::int32_t ACodigo) {
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

bool TSqliteAttendanceStore::ChangeEmployee(std::int64_t ACodigo,
                                            const std::vector<TEmployeeChange>& AChanges) {
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  {
    auto exists = connection->Prepare("SELECT 1 FROM empleados WHERE codigo = ?");
    exists.Bind(1, ACodigo);
    if (!exists.Step()) return false;
  }
  for (const auto& change : AChanges) {
    // Table and column names come from the store's own table of columns,
    // never from the request; the values are bound.
    if (change.ReferencedTable != nullptr) {
      auto referenced = connection->Prepare(std::string("SELECT 1 FROM ") + change.ReferencedTable +
                                            " WHERE " + change.ReferencedColumn + " = ?");
      referenced.Bind(1, change.Integer);
      if (!referenced.Step()) throw MissingReference(change);
    }
    auto update = connection->Prepare(std::string("UPDATE empleados SET ") + change.Column +
                                      " = ? WHERE codigo = ?");
    if (change.IsInteger) {
      update.Bind(1, change.Integer);
    } else {
      update.Bind(1, change.Text);
    }
    update.Bind(2, ACodigo);
    update.Step();
  }
  transaction.Commit();
  if (!AChanges.empty()) ++FDataVersion;
  return true;
}

void TSqliteAttendanceStore::InsertAttendance(const std::string& AArchivo,
                                              const std::vector<TAttendanceRow>& ARows,
                                              const std::string& AUserName,
                                              const std::string& AReceived) {
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  auto insert = connection->Prepare(
      "INSERT INTO asistencia (archivo, conjunto, codigo, fecha_hora, id_reloj, tipo, usuario, "
      "recibido) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  for (const auto& row : ARows) {
    insert.Bind(1, AArchivo).Bind(2, *row.Set).Bind(3, row.Codigo).Bind(4, row.FechaHora);
    row.Reloj ? insert.Bind(5, *row.Reloj) : insert.BindNull(5);
    row.Tipo ? insert.Bind(6, *row.Tipo) : insert.BindNull(6);
    insert.Bind(7, AUserName).Bind(8, AReceived);
    insert.Step();
    insert.Reset();
  }
  transaction.Commit();
}

std::int64_t TSqliteAttendanceStore::AttendanceCount() {
  auto connection = FPool.Borrow();
  return connection->QueryInt("SELECT count(*) FROM asistencia");
}

bool TSqliteAttendanceStore::InsertUser(const std::string& AUID, const std::string& AHash,
                                        const std::string& ANombre) {
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  {
    auto exists = connection->Prepare("SELECT 1 FROM usuarios WHERE uid = ?");
    exists.Bind(1, AUID);
    if (exists.Step()) return false;
  }
  auto insert = connection->Prepare("INSERT INTO usuarios (uid, clave, nombre) VALUES (?, ?, ?)");
  insert.Bind(1, AUID).Bind(2, AHash).Bind(3, ANombre);
  insert.Step();
  transaction.Commit();
  return true;
}

bool TSqliteAttendanceStore::ChangeUserHash(const std::string& AUID, const std::string& AHash) {
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  auto update = connection->Prepare("UPDATE usuarios SET clave = ? WHERE uid = ?");
  update.Bind(1, AHash).Bind(2, AUID);
  update.Step();
  if (connection->Changes() == 0) return false;
  transaction.Commit();
  return true;
}

bool TSqliteAttendanceStore::DeleteUser(const std::string& AUID) {
  auto connection = FPool.Borrow();
  TTransaction transaction(*connection);
  auto remove = connection->Prepare("DELETE FROM usuarios WHERE uid = ?");
  remove.Bind(1, AUID);
  remove.Step();
  if (connection->Changes() == 0) return false;
  transaction.Commit();
  return true;
}

std::vector<TAttendanceStore::TUserRow> TSqliteAttendanceStore::UserRows() {
  std::vector<TUserRow> rows;
  auto connection = FPool.Borrow();
  auto query = connection->Prepare("SELECT uid, nombre, clave FROM usuarios ORDER BY uid");
  while (query.Step()) {
    rows.push_back(
        {std::string(query.Text(0)), std::string(query.Text(1)), std::string(query.Text(2))});
  }
  return rows;
}

}  // namespace qvr::server
