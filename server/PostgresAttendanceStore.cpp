// The store on PostgreSQL; see PostgresAttendanceStore.h.
#include "server/PostgresAttendanceStore.h"

#include <charconv>

#include "platform/Utf.h"
#include "server/CalendarText.h"
#include "server/PasswordHash.h"
#include "server/PostgresCacheArea.h"
#include "server/PostgresSessions.h"
#include "server/SampleData.h"

namespace qvr::server {

using data::TFieldDef;
using data::TFieldType;
using data::TMemTable;
using rest::TJSONObject;

namespace {

// Any number: the instances of one database take turns at setting it up
// under this advisory lock.
constexpr std::int64_t kSchemaLock = 0x7176722d736368;

// Where a change of the counter version_datos is notified, its new value
// the payload.
constexpr std::string_view kVersionChannel = "qvr_version_datos";

// The counter of changes to the listed data, as the database holds it.
std::uint64_t StoredVersion(TPgConnection& AConnection) {
  return static_cast<std::uint64_t>(
      AConnection.Exec("SELECT valor FROM version_datos").Int64(0, 0));
}

// The tables of the data (as on SQLite, integers 64 bits wide) and those
// the instances share: the counter of changes to the listed data, the
// sessions and the cache area (docs/server.md).
constexpr const char* kSchema = R"sql(
CREATE TABLE esquema (version integer NOT NULL);
CREATE TABLE empresas (
  id_empresa bigint PRIMARY KEY,
  nombre text NOT NULL,
  cif text NOT NULL);
CREATE TABLE relojes (
  id_reloj bigint PRIMARY KEY,
  nombre text NOT NULL,
  ubicacion text NOT NULL,
  id_empresa bigint NOT NULL REFERENCES empresas(id_empresa));
CREATE TABLE estados (
  id_status bigint PRIMARY KEY,
  descripcion text NOT NULL);
CREATE TABLE empleados (
  codigo bigint PRIMARY KEY,
  nombre text NOT NULL,
  apellido1 text NOT NULL,
  apellido2 text NOT NULL,
  dni text NOT NULL,
  tarjeta text NOT NULL,
  email text NOT NULL,
  telefono text NOT NULL,
  id_empresa bigint NOT NULL REFERENCES empresas(id_empresa),
  id_reloj bigint NOT NULL REFERENCES relojes(id_reloj),
  id_status bigint NOT NULL REFERENCES estados(id_status),
  fecha_alta text NOT NULL);
CREATE TABLE asistencia (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  archivo text NOT NULL,
  conjunto text NOT NULL,
  codigo bigint NOT NULL,
  fecha_hora text NOT NULL,
  id_reloj bigint,
  tipo bigint,
  usuario text NOT NULL,
  recibido text NOT NULL);
CREATE INDEX asistencia_codigo ON asistencia(codigo);
CREATE TABLE usuarios (
  uid text PRIMARY KEY,
  clave text NOT NULL DEFAULT '',
  nombre text NOT NULL);
CREATE TABLE opciones (
  id_status_default bigint NOT NULL REFERENCES estados(id_status));
CREATE TABLE version_datos (valor bigint NOT NULL);
CREATE TABLE sesiones (
  id text PRIMARY KEY,
  usuario text NOT NULL,
  ultimo_uso timestamptz NOT NULL);
CREATE INDEX sesiones_ultimo_uso ON sesiones(ultimo_uso, id);
CREATE TABLE cache_comandos (
  numero bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  sesion text NOT NULL,
  metodo text NOT NULL,
  parametros text NOT NULL,
  elementos integer NOT NULL,
  bytes bigint NOT NULL);
CREATE INDEX cache_comandos_sesion ON cache_comandos(sesion, numero);
CREATE TABLE cache_valores (
  numero bigint NOT NULL REFERENCES cache_comandos(numero) ON DELETE CASCADE,
  indice integer NOT NULL,
  valor text NOT NULL,
  PRIMARY KEY (numero, indice));
CREATE TABLE cache_total (bytes bigint NOT NULL);
)sql";

// What a text column of PostgreSQL can hold: UTF-8 without NUL characters
// (SQLite keeps any bytes; PostgreSQL refuses these, and a client must hear
// why rather than get a storage failure).
bool StorableText(std::string_view AText) {
  return AText.find('\0') == std::string_view::npos && IsValidUtf8(AText);
}

std::unique_ptr<rest::TJSONValue> Number(std::int64_t AValue) {
  return std::make_unique<rest::TJSONNumber>(AValue);
}

void Seed(TPgConnection& AConnection, int AEmployees) {
  for (const auto& company : SampleCompanies()) {
    AConnection.Exec(
        "INSERT INTO empresas VALUES ($1, $2, $3)",
        TPgParams().Add(std::int64_t{company.Id}).Add(company.Nombre).Add(company.CIF));
  }
  for (const auto& clock : SampleClocks()) {
    AConnection.Exec("INSERT INTO relojes VALUES ($1, $2, $3, $4)",
                     TPgParams()
                         .Add(std::int64_t{clock.Id})
                         .Add(clock.Nombre)
                         .Add(clock.Ubicacion)
                         .Add(std::int64_t{clock.Empresa}));
  }
  for (const auto& status : SampleStatuses()) {
    AConnection.Exec("INSERT INTO estados VALUES ($1, $2)",
                     TPgParams().Add(std::int64_t{status.Id}).Add(status.Descripcion));
  }
  AConnection.Exec("INSERT INTO opciones VALUES ($1)",
                   TPgParams().Add(std::int64_t{kSampleStatusDefault}));
  for (const auto& user : SampleUsers()) {
    AConnection.Exec("INSERT INTO usuarios (uid, clave, nombre) VALUES ($1, $2, $3)",
                     TPgParams().Add(user.UID).Add(HashPassword("")).Add(user.Nombre));
  }
  std::vector<TSampleEmployee> employees;
  employees.reserve(static_cast<std::size_t>(AEmployees));
  ForEachSampleEmployee(AEmployees,
                        [&](const TSampleEmployee& AEmployee) { employees.push_back(AEmployee); });
  InsertRowsInBatches(AConnection, "INSERT INTO empleados", 12, employees.size(),
                      [&](std::size_t AIndex, TPgParams& AParams) {
                        const auto& e = employees[AIndex];
                        AParams.Add(std::int64_t{e.Codigo})
                            .Add(e.Nombre)
                            .Add(e.Apellido1)
                            .Add(e.Apellido2)
                            .Add(e.DNI)
                            .Add(e.Tarjeta)
                            .Add(e.Email)
                            .Add(e.Telefono)
                            .Add(std::int64_t{e.IDEmpresa})
                            .Add(std::int64_t{e.IDReloj})
                            .Add(std::int64_t{e.IDStatus})
                            .Add(e.FechaAlta);
                      });
}

// Hashes every password of the table kept as text (a value without the
// hash's prefix), inside the caller's transaction, and returns how many.
std::size_t HashTextPasswords(TPgConnection& AConnection) {
  const TPgResult texts =
      AConnection.Exec("SELECT uid, clave FROM usuarios WHERE substr(clave, 1, $1) <> $2",
                       TPgParams()
                           .Add(static_cast<std::int64_t>(kPasswordHashPrefix.size()))
                           .Add(kPasswordHashPrefix));
  for (int row = 0; row < texts.Rows(); ++row) {
    AConnection.Exec("UPDATE usuarios SET clave = $1 WHERE uid = $2",
                     TPgParams().Add(HashPassword(texts.Text(row, 1))).Add(texts.Text(row, 0)));
  }
  return static_cast<std::size_t>(texts.Rows());
}

}  // namespace

void InsertRowsInBatches(TPgConnection& AConnection, std::string_view AInsert, int AColumns,
                         std::size_t ARows,
                         const std::function<void(std::size_t, TPgParams&)>& AAddRow) {
  // Batch sizes from the largest down: at most 3 of each smaller size.
  static constexpr std::size_t kSizes[] = {256, 64, 16, 4, 1};
  std::size_t done = 0;
  for (const std::size_t size : kSizes) {
    if (ARows - done < size) continue;
    std::string sql(AInsert);
    sql += " VALUES ";
    int parameter = 0;
    for (std::size_t row = 0; row < size; ++row) {
      sql += row == 0 ? "(" : ", (";
      for (int column = 0; column < AColumns; ++column) {
        if (column > 0) sql += ", ";
        sql += '$';
        sql += std::to_string(++parameter);
      }
      sql += ")";
    }
    while (ARows - done >= size) {
      TPgParams params;
      for (std::size_t row = 0; row < size; ++row) AAddRow(done + row, params);
      AConnection.Exec(sql, params);
      done += size;
    }
  }
}

TPostgresAttendanceStore::TPostgresAttendanceStore(const TStoreSettings& ASettings)
    : FPool(ASettings.Database, ASettings.MaxConnections) {
  Prepare(ASettings);
}

void TPostgresAttendanceStore::Prepare(const TStoreSettings& ASettings) {
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  // Instances starting at once: the first sets up, the others then find
  // the schema made.
  connection->Exec("SELECT pg_advisory_xact_lock($1)", TPgParams().Add(kSchemaLock));
  const bool hasSchema =
      connection->Exec("SELECT to_regclass($1) IS NOT NULL", TPgParams().Add("esquema")).Bool(0, 0);
  if (!hasSchema) {
    if (ASettings.Mode == TStoreSettings::TOpenMode::ExistingOnly) {
      throw Exception("There is no qvr-server database at " + Location() +
                      " (qvr-server --database URL creates it when it first starts)");
    }
    const std::int64_t tables =
        connection->Exec("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()")
            .Int64(0, 0);
    if (tables > 0) {
      throw Exception("The database " + Location() +
                      " holds tables but is not a qvr-server database");
    }
    connection->Run(kSchema);
    connection->Exec("INSERT INTO esquema VALUES ($1)",
                     TPgParams().Add(std::int64_t{kSchemaVersion}));
    connection->Exec("INSERT INTO version_datos VALUES ($1)", TPgParams().Add(std::int64_t{1}));
    connection->Exec("INSERT INTO cache_total VALUES ($1)", TPgParams().Add(std::int64_t{0}));
    Seed(*connection, ASettings.SeedEmployees);
    FSeeded = true;
  } else {
    const std::int64_t version = connection->Exec("SELECT version FROM esquema").Int64(0, 0);
    if (version < 1 || version > kSchemaVersion) {
      throw Exception("The database " + Location() + " has a schema this server does not know (" +
                      std::to_string(version) + ")");
    }
    // Rows added by hand since, or every row of a version 1 database.
    FHashedPasswords = HashTextPasswords(*connection);
    if (version != kSchemaVersion) {
      connection->Exec("UPDATE esquema SET version = $1",
                       TPgParams().Add(std::int64_t{kSchemaVersion}));
    }
  }
  transaction.Commit();
}

std::uint64_t TPostgresAttendanceStore::DataVersion() {
  std::call_once(FListenerStarted, [this] {
    TPgListener::TEvents events;
    events.OnSynchronise = [this](TPgConnection& AConnection) {
      KnowVersion(StoredVersion(AConnection));
      FVersionTrusted = true;
    };
    events.OnNotification = [this](const std::string& APayload) {
      std::int64_t version = 0;
      const char* end = APayload.data() + APayload.size();
      const auto [stop, error] = std::from_chars(APayload.data(), end, version);
      if (error == std::errc() && stop == end && version > 0) {
        KnowVersion(static_cast<std::uint64_t>(version));
      } else {
        // Not a counter of ours: trust nothing until the next reading.
        FVersionTrusted = false;
      }
    };
    events.OnUnsure = [this] { FVersionTrusted = false; };
    FVersionListener =
        std::make_unique<TPgListener>(FPool.URL(), std::string(kVersionChannel), std::move(events));
  });
  if (FVersionTrusted) return FKnownVersion.load();
  const std::uint64_t version = StoredVersion(*FPool.Borrow());
  KnowVersion(version);
  return version;
}

void TPostgresAttendanceStore::KnowVersion(std::uint64_t AVersion) {
  std::uint64_t known = FKnownVersion.load();
  while (known < AVersion && !FKnownVersion.compare_exchange_weak(known, AVersion)) {
  }
}

void TPostgresAttendanceStore::CheckReachable() {
  auto connection = FPool.Borrow();
  connection->Exec("SELECT 1");
}

std::optional<std::string> TPostgresAttendanceStore::StoredPasswordHash(const std::string& AUID) {
  // No user has such a name (UserAccounts.h), and PostgreSQL would refuse
  // to compare it.
  if (!StorableText(AUID)) return std::nullopt;
  auto connection = FPool.Borrow();
  const TPgResult result =
      connection->Exec("SELECT clave FROM usuarios WHERE uid = $1", TPgParams().Add(AUID));
  if (result.Rows() == 0) return std::nullopt;
  return std::string(result.Text(0, 0));
}

int TPostgresAttendanceStore::IDStatusDefault() {
  auto connection = FPool.Borrow();
  return static_cast<int>(connection->Exec("SELECT id_status_default FROM opciones").Int64(0, 0));
}

std::unique_ptr<TMemTable> TPostgresAttendanceStore::Query(const std::string& ASql,
                                                           const std::vector<TFieldDef>& AColumns) {
  auto table = std::make_unique<TMemTable>();
  for (const auto& column : AColumns) {
    table->FieldDefs().Add(column.Name, column.DataType, column.Required);
  }
  table->CreateDataSet();
  const TPgResult result = [&] {
    auto connection = FPool.Borrow();
    return connection->Exec(ASql);
  }();
  std::vector<data::TValue> row(AColumns.size());
  for (int r = 0; r < result.Rows(); ++r) {
    for (std::size_t i = 0; i < AColumns.size(); ++i) {
      const int column = static_cast<int>(i);
      if (result.IsNull(r, column)) {
        row[i] = nullptr;
        continue;
      }
      switch (AColumns[i].DataType) {
        case TFieldType::ftInteger:
        case TFieldType::ftLargeint:
          row[i] = result.Int64(r, column);
          break;
        case TFieldType::ftBoolean:
          row[i] = result.Bool(r, column);
          break;
        case TFieldType::ftDateTime:
          if (const auto date = ReadDate(result.Text(r, column))) {
            row[i] = DateSerial(*date);
          } else {
            row[i] = nullptr;
          }
          break;
        default:
          row[i] = result.Text(r, column);
          break;
      }
    }
    table->AppendRecord(row);
  }
  table->First();
  return table;
}

bool TPostgresAttendanceStore::EmployeeExists(std::int32_t ACodigo) {
  auto connection = FPool.Borrow();
  return connection
             ->Exec("SELECT 1 FROM empleados WHERE codigo = $1",
                    TPgParams().Add(std::int64_t{ACodigo}))
             .Rows() > 0;
}

std::unique_ptr<TJSONObject> TPostgresAttendanceStore::EmployeeInfo(std::int32_t ACodigo) {
  auto info = std::make_unique<TJSONObject>();
  const TPgResult query = [&] {
    auto connection = FPool.Borrow();
    return connection->Exec(
        "SELECT e.codigo, e.nombre, e.apellido1, e.apellido2, e.dni, e.tarjeta, e.email, "
        "e.telefono, e.id_empresa, c.nombre, e.id_reloj, r.nombre, e.id_status, s.descripcion, "
        "e.fecha_alta FROM empleados e JOIN empresas c ON c.id_empresa = e.id_empresa "
        "JOIN relojes r ON r.id_reloj = e.id_reloj JOIN estados s ON s.id_status = e.id_status "
        "WHERE e.codigo = $1",
        TPgParams().Add(std::int64_t{ACodigo}));
  }();
  if (query.Rows() == 0) return info;
  info->AddPair("Codigo", Number(query.Int64(0, 0)));
  info->AddPair("Nombre", query.Text(0, 1));
  info->AddPair("Apellido1", query.Text(0, 2));
  info->AddPair("Apellido2", query.Text(0, 3));
  info->AddPair("DNI", query.Text(0, 4));
  info->AddPair("Tarjeta", query.Text(0, 5));
  info->AddPair("Email", query.Text(0, 6));
  info->AddPair("Telefono", query.Text(0, 7));
  info->AddPair("IDEmpresa", Number(query.Int64(0, 8)));
  info->AddPair("Empresa", query.Text(0, 9));
  info->AddPair("IDReloj", Number(query.Int64(0, 10)));
  info->AddPair("Reloj", query.Text(0, 11));
  info->AddPair("IDStatus", Number(query.Int64(0, 12)));
  info->AddPair("Status", query.Text(0, 13));
  info->AddPair("FechaAlta", query.Text(0, 14));
  return info;
}

bool TPostgresAttendanceStore::ChangeEmployee(std::int64_t ACodigo,
                                              const std::vector<TEmployeeChange>& AChanges) {
  for (const auto& change : AChanges) {
    if (!change.IsInteger && !StorableText(change.Text)) {
      throw BadRequest("ActualizarEmpleado: " + std::string(change.Member) +
                       " is not UTF-8 text without NUL characters");
    }
  }
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  // The row stays locked to the end: another instance's change of the same
  // employee waits rather than interleaves.
  if (connection
          ->Exec("SELECT 1 FROM empleados WHERE codigo = $1 FOR UPDATE", TPgParams().Add(ACodigo))
          .Rows() == 0) {
    return false;
  }
  for (const auto& change : AChanges) {
    // Table and column names come from the store's own table of columns,
    // never from the request; the values are bound.
    if (change.ReferencedTable != nullptr) {
      const auto referenced =
          connection->Exec(std::string("SELECT 1 FROM ") + change.ReferencedTable + " WHERE " +
                               change.ReferencedColumn + " = $1",
                           TPgParams().Add(change.Integer));
      if (referenced.Rows() == 0) throw MissingReference(change);
    }
    TPgParams params;
    if (change.IsInteger) {
      params.Add(change.Integer);
    } else {
      params.Add(change.Text);
    }
    connection->Exec(
        std::string("UPDATE empleados SET ") + change.Column + " = $1 WHERE codigo = $2",
        params.Add(ACodigo));
  }
  // Every instance's list answers follow: they compare this counter, which
  // the other instances hear of when the change commits.
  std::int64_t version = 0;
  if (!AChanges.empty()) {
    version =
        connection->Exec("UPDATE version_datos SET valor = valor + 1 RETURNING valor").Int64(0, 0);
    connection->Exec("SELECT pg_notify($1, $2)",
                     TPgParams().Add(kVersionChannel).Add(std::to_string(version)));
  }
  transaction.Commit();
  if (version > 0) KnowVersion(static_cast<std::uint64_t>(version));
  return true;
}

void TPostgresAttendanceStore::InsertAttendance(const std::string& AArchivo,
                                                const std::vector<TAttendanceRow>& ARows,
                                                const std::string& AUserName,
                                                const std::string& AReceived) {
  if (!StorableText(AArchivo)) {
    throw BadRequest("SubirAsistencia: AArchivo is not UTF-8 text without NUL characters");
  }
  for (const auto& row : ARows) {
    if (!StorableText(*row.Set)) {
      throw BadRequest(
          "SubirAsistencia: a dataset's name is not UTF-8 text without NUL characters");
    }
  }
  auto connection = FPool.Borrow();
  TPgTransaction transaction(*connection);
  InsertRowsInBatches(
      *connection,
      "INSERT INTO asistencia (archivo, conjunto, codigo, fecha_hora, id_reloj, tipo, usuario, "
      "recibido)",
      8, ARows.size(), [&](std::size_t AIndex, TPgParams& AParams) {
        const auto& row = ARows[AIndex];
        AParams.Add(AArchivo)
            .Add(*row.Set)
            .Add(row.Codigo)
            .Add(row.FechaHora)
            .Add(row.Reloj)
            .Add(row.Tipo)
            .Add(AUserName)
            .Add(AReceived);
      });
  transaction.Commit();
}

std::int64_t TPostgresAttendanceStore::AttendanceCount() {
  auto connection = FPool.Borrow();
  return connection->Exec("SELECT count(*) FROM asistencia").Int64(0, 0);
}

bool TPostgresAttendanceStore::InsertUser(const std::string& AUID, const std::string& AHash,
                                          const std::string& ANombre) {
  auto connection = FPool.Borrow();
  return connection
             ->Exec(
                 "INSERT INTO usuarios (uid, clave, nombre) VALUES ($1, $2, $3) "
                 "ON CONFLICT (uid) DO NOTHING",
                 TPgParams().Add(AUID).Add(AHash).Add(ANombre))
             .Changed() == 1;
}

bool TPostgresAttendanceStore::ChangeUserHash(const std::string& AUID, const std::string& AHash) {
  if (!StorableText(AUID)) return false;
  auto connection = FPool.Borrow();
  return connection
             ->Exec("UPDATE usuarios SET clave = $1 WHERE uid = $2",
                    TPgParams().Add(AHash).Add(AUID))
             .Changed() > 0;
}

bool TPostgresAttendanceStore::DeleteUser(const std::string& AUID) {
  if (!StorableText(AUID)) return false;
  auto connection = FPool.Borrow();
  return connection->Exec("DELETE FROM usuarios WHERE uid = $1", TPgParams().Add(AUID)).Changed() >
         0;
}

std::vector<TAttendanceStore::TUserRow> TPostgresAttendanceStore::UserRows() {
  auto connection = FPool.Borrow();
  // Ordered by bytes, as SQLite orders text, whatever the database's
  // collation.
  const TPgResult result =
      connection->Exec("SELECT uid, nombre, clave FROM usuarios ORDER BY uid COLLATE \"C\"");
  std::vector<TUserRow> rows;
  for (int row = 0; row < result.Rows(); ++row) {
    rows.push_back({std::string(result.Text(row, 0)), std::string(result.Text(row, 1)),
                    std::string(result.Text(row, 2))});
  }
  return rows;
}

std::unique_ptr<TSessionStore> TPostgresAttendanceStore::MakeSessionStore(
    std::chrono::milliseconds AIdleTimeout, std::size_t AMaxSessions,
    TSessionStore::TDropEvent AOnDrop) {
  return std::make_unique<TPostgresSessionStore>(FPool, AIdleTimeout, AMaxSessions,
                                                 std::move(AOnDrop));
}

std::unique_ptr<TCacheArea> TPostgresAttendanceStore::MakeCacheArea(
    std::size_t AMaxCommandsPerSession, std::size_t AMaxBytes) {
  return std::make_unique<TPostgresCacheArea>(FPool, AMaxCommandsPerSession, AMaxBytes);
}

}  // namespace qvr::server
