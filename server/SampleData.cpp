// Schema and sample data of a new database; see SampleData.h.
#include "server/SampleData.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "server/PasswordHash.h"
#include "server/UserAccounts.h"

namespace qvr::server {

namespace {

constexpr std::array kNombres = {
    "Antonio", "Manuel",     "José",      "Francisco", "David",  "Juan",   "Javier", "Daniel",
    "Carlos",  "Jesús",      "Alejandro", "Miguel",    "Rafael", "Pablo",  "Sergio", "Fernando",
    "Jorge",   "Luis",       "Alberto",   "Álvaro",    "Adrián", "Diego",  "Raúl",   "Iván",
    "Rubén",   "Óscar",      "Andrés",    "Joaquín",   "María",  "Carmen", "Ana",    "Isabel",
    "Laura",   "Cristina",   "Marta",     "Lucía",     "Pilar",  "Elena",  "Sara",   "Paula",
    "Raquel",  "Rocío",      "Beatriz",   "Patricia",  "Nuria",  "Silvia", "Irene",  "Inmaculada",
    "Begoña",  "Montserrat", "Ainhoa",    "Nerea",     "Iñaki",  "Íñigo",  "Alba",   "Sofía"};

constexpr std::array kApellidos = {
    "García",  "Rodríguez", "González",   "Fernández",   "López",   "Martínez",  "Sánchez",
    "Pérez",   "Gómez",     "Martín",     "Jiménez",     "Ruiz",    "Hernández", "Díaz",
    "Moreno",  "Muñoz",     "Álvarez",    "Romero",      "Alonso",  "Gutiérrez", "Navarro",
    "Torres",  "Domínguez", "Vázquez",    "Ramos",       "Gil",     "Ramírez",   "Serrano",
    "Blanco",  "Molina",    "Morales",    "Suárez",      "Ortega",  "Delgado",   "Castro",
    "Ortiz",   "Rubio",     "Marín",      "Sanz",        "Núñez",   "Iglesias",  "Medina",
    "Garrido", "Cortés",    "Castillo",   "Santos",      "Lozano",  "Guerrero",  "Cano",
    "Prieto",  "Méndez",    "Cruz",       "Calvo",       "Gallego", "Vidal",     "León",
    "Peña",    "Cabrera",   "Campos",     "Vega",        "Fuentes", "Carrasco",  "Diez",
    "Aguilar", "Ibáñez",    "Echeverría", "Zubizarreta", "Goñi",    "Arrieta",   "Ordóñez"};

// Plain-ASCII forms for e-mail addresses.
std::string Ascii(std::string_view AText) {
  static const std::array<std::pair<std::string_view, char>, 14> kFolds = {{
      {"á", 'a'},
      {"é", 'e'},
      {"í", 'i'},
      {"ó", 'o'},
      {"ú", 'u'},
      {"ñ", 'n'},
      {"ü", 'u'},
      {"Á", 'a'},
      {"É", 'e'},
      {"Í", 'i'},
      {"Ó", 'o'},
      {"Ú", 'u'},
      {"Ñ", 'n'},
      {"Ü", 'u'},
  }};
  std::string out;
  for (std::size_t i = 0; i < AText.size();) {
    bool folded = false;
    for (const auto& [from, to] : kFolds) {
      if (AText.substr(i, from.size()) == from) {
        out += to;
        i += from.size();
        folded = true;
        break;
      }
    }
    if (folded) continue;
    const char c = AText[i++];
    if (c == ' ') continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  }
  return out;
}

// A fixed sequence (64-bit linear congruential generator, Knuth's MMIX
// constants): the same sample data on every machine and every library.
class TSequence {
 public:
  std::uint32_t Next() {
    FState = FState * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(FState >> 33);
  }
  std::uint32_t Below(std::uint32_t ALimit) { return Next() % ALimit; }

 private:
  std::uint64_t FState = 20240611;
};

std::string Dni(std::uint32_t ANumber) {
  static constexpr const char* kLetters = "TRWAGMYFPDXBNJZSQVHLCKE";
  char text[16];
  std::snprintf(text, sizeof text, "%08u%c", ANumber, kLetters[ANumber % 23]);
  return text;
}

struct TCompany {
  int Id;
  const char* Nombre;
  const char* CIF;
};
constexpr std::array<TCompany, 4> kEmpresas = {{
    {1, "Distribuciones Levante S.L.", "B46123457"},
    {2, "Talleres Hermanos Ortega S.A.", "A28765432"},
    {3, "Hostelería del Cantábrico S.L.", "B39246813"},
    {4, "Servicios Integrales Guadalquivir S.Coop.", "F41357911"},
}};

struct TClock {
  int Id;
  const char* Nombre;
  const char* Ubicacion;
  int Empresa;
};
constexpr std::array<TClock, 7> kRelojes = {{
    {1, "Reloj Entrada Principal", "Valencia - Polígono Fuente del Jarro, nave 12", 1},
    {2, "Reloj Almacén", "Valencia - Polígono Fuente del Jarro, nave 14", 1},
    {3, "Reloj Taller", "Getafe - Calle de la Forja, 8", 2},
    {4, "Reloj Oficinas", "Getafe - Calle de la Forja, 10", 2},
    {5, "Reloj Cocina", "Santander - Paseo de Pereda, 21", 3},
    {6, "Kiosco Recepción", "Santander - Paseo de Pereda, 21", 3},
    {7, "Reloj Sede", "Sevilla - Avenida de la Innovación, 3", 4},
}};

}  // namespace

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

void SeedSampleData(TSqliteConnection& AConnection, int AEmployees) {
  {
    auto insert = AConnection.Prepare("INSERT INTO empresas VALUES (?, ?, ?)");
    for (const auto& company : kEmpresas) {
      insert.Bind(1, std::int64_t{company.Id}).Bind(2, company.Nombre).Bind(3, company.CIF);
      insert.Step();
      insert.Reset();
    }
  }
  {
    auto insert = AConnection.Prepare("INSERT INTO relojes VALUES (?, ?, ?, ?)");
    for (const auto& clock : kRelojes) {
      insert.Bind(1, std::int64_t{clock.Id})
          .Bind(2, clock.Nombre)
          .Bind(3, clock.Ubicacion)
          .Bind(4, std::int64_t{clock.Empresa});
      insert.Step();
      insert.Reset();
    }
  }
  AConnection.Exec(R"sql(
INSERT INTO estados VALUES (1, 'Activo'), (2, 'Baja'), (3, 'Vacaciones'),
                           (4, 'Excedencia'), (5, 'Incapacidad temporal');
INSERT INTO opciones VALUES (1);
)sql");
  {
    // The suite's programs send the UID with an empty password.
    auto insert = AConnection.Prepare("INSERT INTO usuarios (uid, clave, nombre) VALUES (?, ?, ?)");
    for (const auto& [uid, nombre] :
         {std::pair{"caja1", "Caja 1"}, {"kiosco", "Kiosco de fichaje"}}) {
      insert.Bind(1, uid).Bind(2, HashPassword("")).Bind(3, nombre);
      insert.Step();
      insert.Reset();
    }
  }

  TSequence sequence;
  auto insert =
      AConnection.Prepare("INSERT INTO empleados VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (int i = 0; i < AEmployees; ++i) {
    const std::string nombre = kNombres[sequence.Below(kNombres.size())];
    const std::string apellido1 = kApellidos[sequence.Below(kApellidos.size())];
    const std::string apellido2 = kApellidos[sequence.Below(kApellidos.size())];
    const auto& clock = kRelojes[sequence.Below(kRelojes.size())];
    // Mostly active staff, a few on leave, holidays or gone.
    const std::uint32_t roll = sequence.Below(100);
    const int status = roll < 85 ? 1 : roll < 90 ? 3 : roll < 94 ? 2 : roll < 97 ? 5 : 4;
    const int codigo = 1001 + i;
    char tarjeta[16], telefono[16], alta[16];
    std::snprintf(tarjeta, sizeof tarjeta, "%010u", 4000000000u - sequence.Below(1000000000u));
    std::snprintf(telefono, sizeof telefono, "6%08u", sequence.Below(100000000u));
    std::snprintf(alta, sizeof alta, "%04u-%02u-%02u", 2005 + sequence.Below(20),
                  1 + sequence.Below(12), 1 + sequence.Below(28));
    const std::string email = Ascii(nombre) + "." + Ascii(apellido1) + std::to_string(codigo) +
                              "@empresa" + std::to_string(clock.Empresa) + ".es";
    insert.Bind(1, std::int64_t{codigo})
        .Bind(2, nombre)
        .Bind(3, apellido1)
        .Bind(4, apellido2)
        .Bind(5, Dni(10000000u + sequence.Below(89999999u)))
        .Bind(6, std::string_view(tarjeta))
        .Bind(7, email)
        .Bind(8, std::string_view(telefono))
        .Bind(9, std::int64_t{clock.Empresa})
        .Bind(10, std::int64_t{clock.Id})
        .Bind(11, std::int64_t{status})
        .Bind(12, std::string_view(alta));
    insert.Step();
    insert.Reset();
  }
}

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

}  // namespace qvr::server
