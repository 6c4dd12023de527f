// The addresses of the maker's web server: the version file, the download
// page, the site and the donation page.
#pragma once

#include <QString>

namespace vistrel {

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

// Whether the web base names a host reserved for examples (example.org,
// example.com, example.net and their subdomains, or the .example and
// .invalid top-level names): nothing real answers there.
bool Is_Placeholder_Web_Base(const QString& base);

// Whether the program checks for a newer version ten seconds after start:
// not when built without the check (a distribution's package, whose updates
// come from the package manager), nor while the web base is a placeholder,
// where the user's browser would only open a dead page at every start.
bool Update_Check_Wanted(bool built_with_check, const QString& base);

} // namespace vistrel
