#include "Base/System/ConfigurationLocations.h"

#include <cstdlib>

#include "Base/BaseTypes/VString.h"
#include "Base/System/Registry.h"

namespace tvan {

namespace {

// A registry value directly under `root`; a value that exists wins even when
// its text is empty.
bool registryValue(const char* name, RootType root, std::string& out) {
  VString value;
  if (!Registry::read(value, VString(name), VString(), root)) return false;
  out = value.narrow();
  return true;
}

bool environmentValue(const char* name, std::string& out) {
  const char* value = std::getenv(name);
  if (value == nullptr) return false;
  out = value;
  return true;
}

// The QuentaHome rows: <QuentaHome>/config/<file>, else <$variable>/<file>,
// else the bare file name.
std::string& quentaFile(std::string& out, const std::string& file, const char* variable) {
  out.clear();
  if (registryValue("QuentaHome", kQuentaKey, out)) return out += "/config/" + file;
  if (environmentValue(variable, out)) return out += "/" + file;
  return out = file;
}

}  // namespace

std::string& getKEFConfigurationFileName(std::string& out) {
  out.clear();
  if (registryValue("KEFConfiguration", kKEFKey, out)) return out;
  if (registryValue("ConfigPath", kKEFKey, out)) return out += "/KEFConfiguration.xml";
  if (environmentValue("KEF_CONFIGURATION", out)) return out += "/KEFConfiguration.xml";
  return out;
}

std::string& getViewerConfigurationFileName(std::string& out) {
  static const std::string file = "ViewerConfiguration.xml";
  return quentaFile(out, file, "QUENTA_CONFIGURATION");
}

std::string& getQuentaConfigurationFileName(std::string& out) {
  static const std::string file = "QuentaConfiguration.xml";
  return quentaFile(out, file, "QUENTA_CONFIGURATION");
}

std::string& getAnnotationListFileName(std::string& out) {
  static const std::string file = "AllAnnotationList.xml";
  return quentaFile(out, file, "QUENTA_CONFIGURATION");
}

std::string& getOrmixConfigurationFileName(std::string& out) {
  static const std::string file = "OrmixConfiguration.xml";
  return quentaFile(out, file, "ORMIX_CONFIGURATION");
}

std::string& getConfigurationDirectoryName(std::string& out) {
  out.clear();
  if (registryValue("QuentaHome", kQuentaKey, out)) return out += "/config/";
  if (environmentValue("QUENTA_CONFIGURATION", out)) return out += "/";
  return out;
}

std::string& getPrintConfigurationFileName(std::string& out) {
  out.clear();
  if (registryValue("ConfigPath", kKEFKey, out)) return out += "/PrintDefaults.xml";
  if (environmentValue("KEF_CONFIGURATION", out)) return out += "/PrintDefaults.xml";
  return out;
}

std::string& getAuditLogDirName(std::string& out) {
  out.clear();
  if (registryValue("QuentaDataTop", kQuentaKey, out)) return out += "/AuditLog";
  return out;
}

std::string& getQuentaTempRootDirName(std::string& out) {
  out.clear();
  registryValue("QuentaTmpRoot", kQuentaKey, out);
  return out;
}

std::string& getCORBAIORFullyQualifiedFile(std::string& out) {
  getQuentaTempRootDirName(out);
  return out += "/KEF.ior";
}

}  // namespace tvan
