#include "bench/statements.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <stdexcept>

namespace bench {
namespace {

// The keys the benchmarks filter by: a category and a media type that the demo
// catalogues hold.
constexpr double kCategory = 3;
constexpr double kMediaType = 2;

}  // namespace

ListStatement diskListLayout() {
    QFile file(QStringLiteral(KORVALEN_LAYOUT_QUERIES));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + file.fileName().toStdString());
    const QJsonArray lines =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("Query5")).toArray();
    ListStatement statement;
    for (const auto& line : lines) statement.lines.push_back(line.toString().toStdString());
    if (statement.lines.empty())
        throw std::runtime_error("no Query5 in " + file.fileName().toStdString());
    return statement;
}

ListStatement filterAll(const diskfilter::Switches& switches, std::string_view fragment) {
    return filter(diskfilter::Availability::All, switches, fragment);
}

ListStatement filter(diskfilter::Availability availability, const diskfilter::Switches& switches,
                     std::string_view fragment) {
    diskfilter::Statement built = diskfilter::build(availability, switches, fragment);
    ListStatement statement{std::move(built.lines), {}, std::move(built.narrowed)};
    for (diskfilter::Key key : built.parameters)
        statement.floats.emplace_back(diskfilter::parameterName(key),
                                      key == diskfilter::Key::Category ? kCategory : kMediaType);
    return statement;
}

}  // namespace bench
