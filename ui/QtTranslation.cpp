#include "ui/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace gm {

QTranslator *installQtTranslation(QCoreApplication &app, const QString &dataFolder)
{
    auto *translator = new QTranslator(&app);
    const QString name = QStringLiteral("qtbase_zh_CN");
    if (!translator->load(name, dataFolder + QStringLiteral("translations"))
        && !translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

} // namespace gm
