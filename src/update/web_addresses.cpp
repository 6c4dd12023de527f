#include "update/web_addresses.h"

#include <QUrl>

#include <cstdlib>

#ifndef VISTREL_DEFAULT_WEB_BASE
#define VISTREL_DEFAULT_WEB_BASE "http://vistrel.example.org"
#endif
#ifndef VISTREL_DONATION_URL
#define VISTREL_DONATION_URL ""
#endif
#ifndef VISTREL_CONTACT_TEXT
#define VISTREL_CONTACT_TEXT "vistrel.example.org"
#endif

namespace vistrel {

QString Web_Base() {
    QString base = QString::fromLocal8Bit(std::getenv("VISTREL_WEB_BASE"));
    if (base.isEmpty())
        base = QStringLiteral(VISTREL_DEFAULT_WEB_BASE);
    while (base.endsWith('/'))
        base.chop(1);
    return base;
}

Web_Addresses Current_Web_Addresses() {
    const QString base = Web_Base();
    return {base + "/kesto-soft/Vistrel/Vistrel.ver", base + "/vistrel/",
            base + "/software/index.html", QStringLiteral(VISTREL_DONATION_URL),
            QStringLiteral(VISTREL_CONTACT_TEXT)};
}

bool Is_Placeholder_Web_Base(const QString& base) {
    const QString host = QUrl(base).host().toLower();
    if (host.isEmpty())
        return false;
    for (const char* domain : {"example.org", "example.com", "example.net"})
        if (host == QLatin1String(domain) || host.endsWith('.' + QLatin1String(domain)))
            return true;
    for (const char* top : {".example", ".invalid"})
        if (host.endsWith(QLatin1String(top)) || '.' + host == QLatin1String(top))
            return true;
    return false;
}

bool Update_Check_Wanted(bool built_with_check, const QString& base) {
    return built_with_check && !Is_Placeholder_Web_Base(base);
}

} // namespace vistrel
