// The client's settings in config.ini, each read from or written to the file
// at the moment it is used, with no copy kept in between.
#pragma once

#include <cstdint>
#include <string>

#include "config/uConfig.h"

namespace qvr::config {

// What the configuration needs of a window to remember its place: its
// component name (the section) and its geometry in screen pixels. The
// windowing code adapts its windows to this, so that the configuration does
// not depend on a toolkit.
class IWindowGeometry {
 public:
  virtual ~IWindowGeometry() = default;
  virtual std::string Name() const = 0;
  virtual std::int32_t Left() const = 0;
  virtual void SetLeft(std::int32_t AValue) = 0;
  virtual std::int32_t Top() const = 0;
  virtual void SetTop(std::int32_t AValue) = 0;
  virtual std::int32_t Width() const = 0;
  virtual void SetWidth(std::int32_t AValue) = 0;
  virtual std::int32_t Height() const = 0;
  virtual void SetHeight(std::int32_t AValue) = 0;
};

class TConfigClient : public TBaseConfig {
 public:
  using TBaseConfig::TBaseConfig;

  // Section "rest", key "IP"; read default "127.0.0.1".
  std::string IP() const;
  void SetIP(const std::string& AValue);
  // Section "rest", key "Puerto"; read default 8080; written in decimal.
  std::int32_t Puerto() const;
  void SetPuerto(std::int32_t AValue);
  // Section "rest", key "UID"; read default empty.
  std::string UID() const;
  void SetUID(const std::string& AValue);
  // Section "sync", key "Reloj Web Sobreescribir"; read default false;
  // written as "1" or "0".
  bool RelojWebSobreEscribir() const;
  void SetRelojWebSobreEscribir(bool AValue);

  // Writes the window's left, top, width and height, in that order, under the
  // section named after the window. Raises as the setters do.
  void GuardarPosicion(const IWindowGeometry& AForma);
  // Sets left, top, width and height in that order from the stored values;
  // each missing value defaults to the window's current one, taken just
  // before its own read.
  void RestaurarPosicion(IWindowGeometry& AForma) const;
};

}  // namespace qvr::config
