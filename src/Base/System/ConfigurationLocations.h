#pragma once

#include <string>

// Where the product's configuration files and working directories are.
// Every function empties `out`, fills it and returns it. Each consults, in
// this order, a registry value (Registry::read with an empty sub-key), an
// environment variable, then a built-in fallback; the first source that
// exists wins, even when its text is empty. Nothing is checked for
// existence on disk and nothing is cached between calls. Paths are joined
// with `/`.

namespace tvan {

// Registry kKEFKey "KEFConfiguration" (the full path), else kKEFKey
// "ConfigPath" + "/KEFConfiguration.xml", else $KEF_CONFIGURATION +
// "/KEFConfiguration.xml", else empty.
std::string& getKEFConfigurationFileName(std::string& out);

// kQuentaKey "QuentaHome" + "/config/" + file, else $QUENTA_CONFIGURATION +
// "/" + file, else the bare file name "ViewerConfiguration.xml".
std::string& getViewerConfigurationFileName(std::string& out);

// As above with "QuentaConfiguration.xml".
std::string& getQuentaConfigurationFileName(std::string& out);

// As above with "AllAnnotationList.xml".
std::string& getAnnotationListFileName(std::string& out);

// kQuentaKey "QuentaHome" + "/config/OrmixConfiguration.xml", else
// $ORMIX_CONFIGURATION + "/OrmixConfiguration.xml", else
// "OrmixConfiguration.xml".
std::string& getOrmixConfigurationFileName(std::string& out);

// kQuentaKey "QuentaHome" + "/config/", else $QUENTA_CONFIGURATION + "/",
// else empty.
std::string& getConfigurationDirectoryName(std::string& out);

// kKEFKey "ConfigPath" + "/PrintDefaults.xml", else $KEF_CONFIGURATION +
// "/PrintDefaults.xml", else empty.
std::string& getPrintConfigurationFileName(std::string& out);

// kQuentaKey "QuentaDataTop" + "/AuditLog", else empty.
std::string& getAuditLogDirName(std::string& out);

// kQuentaKey "QuentaTmpRoot" itself, else empty.
std::string& getQuentaTempRootDirName(std::string& out);

// getQuentaTempRootDirName + "/KEF.ior" ("/KEF.ior" alone when unset).
std::string& getCORBAIORFullyQualifiedFile(std::string& out);

}  // namespace tvan
