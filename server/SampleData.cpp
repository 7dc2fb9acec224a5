// The sample data of a new database; see SampleData.h.
#include "server/SampleData.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

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

}  // namespace

const std::array<TSampleCompany, 4>& SampleCompanies() {
  static constexpr std::array<TSampleCompany, 4> kEmpresas = {{
      {1, "Distribuciones Levante S.L.", "B46123457"},
      {2, "Talleres Hermanos Ortega S.A.", "A28765432"},
      {3, "Hostelería del Cantábrico S.L.", "B39246813"},
      {4, "Servicios Integrales Guadalquivir S.Coop.", "F41357911"},
  }};
  return kEmpresas;
}

const std::array<TSampleClock, 7>& SampleClocks() {
  static constexpr std::array<TSampleClock, 7> kRelojes = {{
      {1, "Reloj Entrada Principal", "Valencia - Polígono Fuente del Jarro, nave 12", 1},
      {2, "Reloj Almacén", "Valencia - Polígono Fuente del Jarro, nave 14", 1},
      {3, "Reloj Taller", "Getafe - Calle de la Forja, 8", 2},
      {4, "Reloj Oficinas", "Getafe - Calle de la Forja, 10", 2},
      {5, "Reloj Cocina", "Santander - Paseo de Pereda, 21", 3},
      {6, "Kiosco Recepción", "Santander - Paseo de Pereda, 21", 3},
      {7, "Reloj Sede", "Sevilla - Avenida de la Innovación, 3", 4},
  }};
  return kRelojes;
}

const std::array<TSampleStatus, 5>& SampleStatuses() {
  static constexpr std::array<TSampleStatus, 5> kEstados = {{
      {1, "Activo"},
      {2, "Baja"},
      {3, "Vacaciones"},
      {4, "Excedencia"},
      {5, "Incapacidad temporal"},
  }};
  return kEstados;
}

const std::array<TSampleUser, 2>& SampleUsers() {
  static constexpr std::array<TSampleUser, 2> kUsers = {{
      {"caja1", "Caja 1"},
      {"kiosco", "Kiosco de fichaje"},
  }};
  return kUsers;
}

void ForEachSampleEmployee(int AEmployees,
                           const std::function<void(const TSampleEmployee&)>& AEach) {
  const auto& relojes = SampleClocks();
  TSequence sequence;
  TSampleEmployee employee;
  for (int i = 0; i < AEmployees; ++i) {
    const std::string nombre = kNombres[sequence.Below(kNombres.size())];
    const std::string apellido1 = kApellidos[sequence.Below(kApellidos.size())];
    const std::string apellido2 = kApellidos[sequence.Below(kApellidos.size())];
    const auto& clock = relojes[sequence.Below(relojes.size())];
    // Mostly active staff, a few on leave, holidays or gone.
    const std::uint32_t roll = sequence.Below(100);
    const int status = roll < 85 ? 1 : roll < 90 ? 3 : roll < 94 ? 2 : roll < 97 ? 5 : 4;
    const int codigo = 1001 + i;
    char tarjeta[16], telefono[16], alta[16];
    std::snprintf(tarjeta, sizeof tarjeta, "%010u", 4000000000u - sequence.Below(1000000000u));
    std::snprintf(telefono, sizeof telefono, "6%08u", sequence.Below(100000000u));
    // The same expression as ever: the order in which the compiler draws
    // the three numbers is part of the data every database holds.
    std::snprintf(alta, sizeof alta, "%04u-%02u-%02u", 2005 + sequence.Below(20),
                  1 + sequence.Below(12), 1 + sequence.Below(28));
    const std::string email = Ascii(nombre) + "." + Ascii(apellido1) + std::to_string(codigo) +
                              "@empresa" + std::to_string(clock.Empresa) + ".es";
    // Drawn last, as when the row was bound column by column.
    employee.DNI = Dni(10000000u + sequence.Below(89999999u));
    employee.Codigo = codigo;
    employee.Nombre = nombre;
    employee.Apellido1 = apellido1;
    employee.Apellido2 = apellido2;
    employee.Tarjeta = tarjeta;
    employee.Email = email;
    employee.Telefono = telefono;
    employee.IDEmpresa = clock.Empresa;
    employee.IDReloj = clock.Id;
    employee.IDStatus = status;
    employee.FechaAlta = alta;
    AEach(employee);
  }
}

}  // namespace qvr::server
