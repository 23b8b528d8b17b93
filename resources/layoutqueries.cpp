#include "resources/layoutqueries.h"

#include <QFile>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include "widgets/listquery.h"

void initResources() {
    // The resources live in a static library: name them so the linker keeps them.
    Q_INIT_RESOURCE(layouts);
    Q_INIT_RESOURCE(pictures);
    // The layouts' fonts are Windows ones; where they are missing, faces of the same
    // widths stand in rather than the wider default.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                QStringLiteral("Nimbus Sans")});
    QFont::insertSubstitutions(
        QStringLiteral("Times New Roman"),
        {QStringLiteral("Liberation Serif"), QStringLiteral("Nimbus Roman")});
}

namespace {

QJsonObject layoutQueries(const QString& window) {
    QFile file(QStringLiteral(":/layouts/%1.queries.json").arg(window));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

}  // namespace

QStringList layoutQueryLines(const QString& window, const QString& query) {
    const QJsonArray lines = layoutQueries(window).value(query).toArray();
    QStringList out;
    for (const auto& line : lines) out << line.toString();
    return out;
}

void applyLayoutFonts(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);  // parents come before their children
    for (QWidget* w : widgets) {
        const QVariant pixels = w->property("fontPixelSize");
        if (!pixels.isValid()) continue;
        QFont font = w->font();
        font.setPixelSize(pixels.toInt());
        w->setFont(font);
    }
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 72, 128})
        icon.addFile(QStringLiteral(":/pictures/korvalen-%1.png").arg(size), QSize(size, size));
    return icon;
}

ListQuery* createLayoutListQuery(const QString& window, const QString& query, QObject* owner) {
    auto* list = new ListQuery(owner);
    list->setObjectName(query);
    list->setLines(layoutQueryLines(window, query));
    list->setKeyField(
        layoutQueries(window).value(QStringLiteral("keys")).toObject().value(query).toString());
    return list;
}
