// The sample data a new database is seeded with, whichever store holds it:
// companies, time clocks, statuses, the users allowed to call (caja1 and
// kiosco, empty passwords), the default status of the options row and
// AEmployees employees with Spanish names, DNI numbers with their check
// letter, badge numbers, e-mail addresses and phone numbers. The data is the
// same on every machine and in every store for a given count (a fixed
// pseudo-random sequence); the password hashes are not (each has its salt).
#pragma once

#include <array>
#include <functional>
#include <string>

namespace qvr::server {

// The schema version a new database gets. 1 kept passwords as text; 2 keeps
// them as Argon2id hashes.
inline constexpr int kSchemaVersion = 2;

struct TSampleCompany {
  int Id;
  const char* Nombre;
  const char* CIF;
};

struct TSampleClock {
  int Id;
  const char* Nombre;
  const char* Ubicacion;
  int Empresa;
};

struct TSampleStatus {
  int Id;
  const char* Descripcion;
};

struct TSampleUser {
  const char* UID;
  const char* Nombre;
};

struct TSampleEmployee {
  int Codigo = 0;
  std::string Nombre;
  std::string Apellido1;
  std::string Apellido2;
  std::string DNI;
  std::string Tarjeta;
  std::string Email;
  std::string Telefono;
  int IDEmpresa = 0;
  int IDReloj = 0;
  int IDStatus = 0;
  // YYYY-MM-DD
  std::string FechaAlta;
};

const std::array<TSampleCompany, 4>& SampleCompanies();
const std::array<TSampleClock, 7>& SampleClocks();
const std::array<TSampleStatus, 5>& SampleStatuses();
// The suite's programs send these UIDs with an empty password.
const std::array<TSampleUser, 2>& SampleUsers();
// IDStatusDefault of the options row.
inline constexpr int kSampleStatusDefault = 1;

// Calls AEach with the employees of a database seeded with AEmployees, in
// the order of their codes (1001 on).
void ForEachSampleEmployee(int AEmployees,
                           const std::function<void(const TSampleEmployee&)>& AEach);

}  // namespace qvr::server
