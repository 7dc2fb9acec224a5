// The server's remote methods, described once for everyone who speaks them:
// for each, its class and name, the verb and command text the client sends,
// and its parameter table (the in-parameters in order, then the return
// value), with names, directions, type codes and type names as the server
// declares them. The client's proxy prepares its commands from these rows,
// the server dispatches by them and the tests form their requests from them,
// so a new remote method is added here first (docs/architecture.md).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rest/wire/WireTypes.h"

namespace qvr::rest {

struct TRemoteMethod {
  std::string_view ClassName;
  std::string_view MethodName;
  std::string_view Verb;
  // The class, a dot and the method; POST methods put the method's name in
  // double quotes (TQVRServerMethods."SubirAsistencia"), which keeps the
  // client from prefixing it with "Update".
  std::string_view CommandText;
  std::span<const TWireParameter> Parameters;

  // "Class.Method", as messages and the cache area name a method.
  std::string QualifiedName() const;
  // The in-parameters (all rows before the first that is not "in").
  std::span<const TWireParameter> InParameters() const;
  // The return row, or null for a method without a result.
  const TWireParameter* Result() const;
};

// The rows, one constant per method.
namespace remote {

using D = TParameterDirections;
using V = TValueTypes;

inline constexpr std::string_view kServerClass = "TQVRServerMethods";
inline constexpr std::string_view kAdminClass = "Admin";

inline constexpr TWireParameter kTextInTextOut[] = {{"Value", D::In, V::WideString, "string"},
                                                    {"", D::Return, V::WideString, "string"}};
inline constexpr TWireParameter kObjectOut[] = {{"", D::Return, V::JSON, "TJSONObject"}};
inline constexpr TWireParameter kDataSetListOut[] = {{"", D::Return, V::JSON, "TDataSetList"}};
inline constexpr TWireParameter kCodeInBooleanOut[] = {{"ACodigo", D::In, V::INT32, "Integer"},
                                                       {"", D::Return, V::BOOL, "Boolean"}};
inline constexpr TWireParameter kCodeInObjectOut[] = {{"ACodigo", D::In, V::INT32, "Integer"},
                                                      {"", D::Return, V::JSON, "TJSONObject"}};
inline constexpr TWireParameter kObjectInBooleanOut[] = {{"ADatos", D::In, V::JSON, "TJSONObject"},
                                                         {"", D::Return, V::BOOL, "Boolean"}};
inline constexpr TWireParameter kUploadParameters[] = {{"AArchivo", D::In, V::WideString, "string"},
                                                       {"ALista", D::In, V::JSON, "TDataSetList"},
                                                       {"", D::Return, V::BOOL, "Boolean"}};
inline constexpr TWireParameter kTextOut[] = {{"", D::Return, V::WideString, "string"}};
inline constexpr TWireParameter kCatalogueOut[] = {{"", D::Return, V::JSON, "TJSONArray"}};

inline constexpr TRemoteMethod EchoString{kServerClass, "EchoString", "GET",
                                          "TQVRServerMethods.EchoString", kTextInTextOut};
inline constexpr TRemoteMethod ReverseString{kServerClass, "ReverseString", "GET",
                                             "TQVRServerMethods.ReverseString", kTextInTextOut};
inline constexpr TRemoteMethod Opciones{kServerClass, "Opciones", "GET",
                                        "TQVRServerMethods.Opciones", kObjectOut};
inline constexpr TRemoteMethod ListaRelojes{kServerClass, "ListaRelojes", "GET",
                                            "TQVRServerMethods.ListaRelojes", kDataSetListOut};
inline constexpr TRemoteMethod ListaEmpresas{kServerClass, "ListaEmpresas", "GET",
                                             "TQVRServerMethods.ListaEmpresas", kDataSetListOut};
inline constexpr TRemoteMethod ListaPersonalParcial{kServerClass, "ListaPersonalParcial", "GET",
                                                    "TQVRServerMethods.ListaPersonalParcial",
                                                    kDataSetListOut};
inline constexpr TRemoteMethod ListaPersonalCompleta{kServerClass, "ListaPersonalCompleta", "GET",
                                                     "TQVRServerMethods.ListaPersonalCompleta",
                                                     kDataSetListOut};
inline constexpr TRemoteMethod ExisteEmpleado{
    kServerClass, "ExisteEmpleado", "GET", "TQVRServerMethods.ExisteEmpleado", kCodeInBooleanOut};
inline constexpr TRemoteMethod InfoEmpleado{kServerClass, "InfoEmpleado", "GET",
                                            "TQVRServerMethods.InfoEmpleado", kCodeInObjectOut};
inline constexpr TRemoteMethod ActualizarEmpleado{kServerClass, "ActualizarEmpleado", "POST",
                                                  "TQVRServerMethods.\"ActualizarEmpleado\"",
                                                  kObjectInBooleanOut};
inline constexpr TRemoteMethod SubirAsistencia{kServerClass, "SubirAsistencia", "POST",
                                               "TQVRServerMethods.\"SubirAsistencia\"",
                                               kUploadParameters};
inline constexpr TRemoteMethod GetPlatformName{kAdminClass, "GetPlatformName", "GET",
                                               "Admin.GetPlatformName", kTextOut};
// The catalogue of every class, method and parameter the server answers, in
// the JSON form below.
inline constexpr TRemoteMethod GetServerMethodParameters{kAdminClass, "GetServerMethodParameters",
                                                         "GET", "Admin.GetServerMethodParameters",
                                                         kCatalogueOut};
// Ends the caller's session: its id reads as expired from then on, and
// what the cache area kept for it goes. No parameters, no result.
inline constexpr TRemoteMethod ClearSession{
    kAdminClass, "ClearSession", "GET", "Admin.ClearSession", {}};

// Every method, in the order of the catalogue: the server's class first, then
// the administrative one.
inline constexpr const TRemoteMethod* kAll[] = {&EchoString,
                                                &ReverseString,
                                                &Opciones,
                                                &ListaRelojes,
                                                &ListaEmpresas,
                                                &ListaPersonalParcial,
                                                &ListaPersonalCompleta,
                                                &ExisteEmpleado,
                                                &InfoEmpleado,
                                                &ActualizarEmpleado,
                                                &SubirAsistencia,
                                                &GetPlatformName,
                                                &GetServerMethodParameters,
                                                &ClearSession};

// The member names of the catalogue that GetServerMethodParameters answers:
// an array of classes in the order of kAll (a class where its first method
// stands), each {"name":"Admin","methods":[...]}; each method
// {"name":"EchoString","parameters":[...]}; each parameter, in the order of
// its table, {"name":"Value","direction":1,"type":26,"typeName":"string"}
// (the return value unnamed; "type" the type code, "typeName" the type the
// server declares).
namespace catalogue {
inline constexpr std::string_view kName = "name";
inline constexpr std::string_view kMethods = "methods";
inline constexpr std::string_view kParameters = "parameters";
inline constexpr std::string_view kDirection = "direction";
inline constexpr std::string_view kType = "type";
inline constexpr std::string_view kTypeName = "typeName";
}  // namespace catalogue

}  // namespace remote

// Every remote method, in catalogue order.
std::span<const TRemoteMethod* const> RemoteMethods();

// The method AMethod of the class AClass, both compared without regard to
// letter case; AMethod may stand in double quotes, as a POST method's path
// segment does. Null when there is none.
const TRemoteMethod* FindRemoteMethod(std::string_view AClass, std::string_view AMethod);

// The parameter table of a method's cached variant: the method's
// in-parameters, then a text return that carries the item path under which
// the server keeps the result (type name "String").
std::vector<TWireParameter> CachedResultParameters(const TRemoteMethod& AMethod);

}  // namespace qvr::rest
