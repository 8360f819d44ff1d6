#include "runtime/ui/deployment_loader.h"

#include <QSettings>
#include <QStringList>

#include "runtime/program_files.h"
#include "runtime/ui/qt_text.h"

namespace pandrel {
namespace {

// QSettings reads an unquoted value holding commas as a list; the value meant is the whole.
void Override(const QSettings& settings, const char* key, Text& value) {
    const QVariant stored = settings.value(QLatin1String(key));
    QString text = stored.typeId() == QMetaType::QStringList
                       ? stored.toStringList().join(QLatin1Char(','))
                       : stored.toString();
    text = text.trimmed();
    if (!text.isEmpty()) {
        value = FromQString(text);
    }
}

} // namespace

Deployment LoadDeployment(const Text& runDir) {
    Deployment deployment;
    QSettings settings(ToQString(DeploymentFilePathOf(runDir)), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("deployment"));
    Override(settings, "parse_service", deployment.parseService);
    Override(settings, "share_host", deployment.shareHost);
    Override(settings, "forum_page", deployment.forumPage);
    Override(settings, "sample_share", deployment.sampleShare);
    Override(settings, "sample_code", deployment.sampleCode);
    settings.endGroup();
    return deployment;
}

} // namespace pandrel
