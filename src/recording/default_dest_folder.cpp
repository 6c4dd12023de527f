// Apart from the naming rules, which are plain C++: where the user's pictures
// go is the desktop's business, read through Qt.
#include "recording/storage_layout.h"

#include <QDir>
#include <QStandardPaths>

namespace vistrel {

std::string Default_Dest_Folder() {
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty())
        pictures = QDir::homePath();
    return (pictures + "/Vistrel").toStdString();
}

} // namespace vistrel
