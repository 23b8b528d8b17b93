#include "layoutqueries.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void initResources() {
    // The resources live in a static library: name them so the linker keeps them.
    Q_INIT_RESOURCE(layouts);
    Q_INIT_RESOURCE(pictures);
}

QStringList layoutQueryLines(const QString& window, const QString& query) {
    QFile file(QStringLiteral(":/layouts/%1.queries.json").arg(window));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QJsonArray lines = QJsonDocument::fromJson(file.readAll()).object().value(query).toArray();
    QStringList out;
    for (const auto& line : lines) out << line.toString();
    return out;
}
