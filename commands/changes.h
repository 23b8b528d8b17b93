#pragma once

#include <QObject>
#include <set>

#include "store/catalogue.h"

namespace command {

using Tables = std::set<store::Table>;

// Where the program's writes are announced: once a write is committed, the tables it
// wrote, so that a window showing them reads them anew whoever wrote them. A unit that
// is rolled back announces nothing.
class Changes : public QObject {
    Q_OBJECT
public:
    static Changes& instance();

signals:
    void written(const command::Tables& tables);
    // A disk's contents were read anew and committed (they live in a file of their own,
    // beside the tables).
    void contentsWritten(qint64 disk);
};

}  // namespace command
