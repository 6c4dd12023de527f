// The program's name, version and web addresses.
#pragma once

#include <QString>

namespace vistrel {

inline const QString kApp_Name = QStringLiteral("Vistrel");
inline const QString kVersion_Local = QStringLiteral("V3.2");

// Scheme and host of the maker's web server: VISTREL_WEB_BASE when set (for
// example "http://127.0.0.1:8099"), otherwise the address chosen at build time.
QString Web_Base();

struct Web_Addresses {
    QString version;  // the version file
    QString download; // the download page
    QString site;     // the maker's page of programs
    QString donation; // empty: no donation button
    QString contact;  // shown in the status bar
};

Web_Addresses Current_Web_Addresses();

} // namespace vistrel
