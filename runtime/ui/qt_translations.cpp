#include "runtime/ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "runtime/ui/ui_thread.h"

namespace pandrel {

bool LoadQtChineseTranslations(const QString& folder) {
    AssertUiThread();
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    // The translator is the application's child; its name tells a second call it is there.
    const QString name = QStringLiteral("pandrel-qt-zh_CN");
    if (app->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly) != nullptr) {
        return true;
    }
    auto* translator = new QTranslator(app);
    translator->setObjectName(name);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

bool LoadQtChineseTranslations() {
    return LoadQtChineseTranslations(QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

} // namespace pandrel
