#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/contentsstore.h"

namespace store {
class Database;
}

namespace contents {

// A size as a person reads it: "512 байт", "1,5 КБ", "700 МБ", "4,4 ГБ".
QString readableSize(int64_t bytes);
// A count as Russian writes it: "12 345".
QString count(int64_t n);
// When a disk was read ("YYYY-MM-DD HH:MM:SS" as stored) as the catalogue shows a moment.
QString readMoment(const std::string& stored);
// What an entry's marks say, "" for an ordinary one.
QString marksText(unsigned marks);

// A disk's tree of folders and files, read from the catalogue a folder at a time as the
// view opens it: columns name, size (a folder's summed; the bytes in the tooltip),
// modification time and marks. Names that are not UTF-8 show replacement characters.
class ContentsModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { Name, Size, Modified, Marks, ColumnCount };

    explicit ContentsModel(QObject* parent = nullptr);
    ~ContentsModel() override;

    // Shows the disk's tree from db (nothing for no disk); the folders read before are
    // forgotten.
    void show(std::shared_ptr<store::Database> db, std::optional<int64_t> disk);
    bool empty() const;
    // The entry at path from the disk's root ("a/b/c", names' bytes as read), its folders
    // read on the way; invalid when the disk has none there.
    QModelIndex indexOfPath(const std::string& path);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Node;
    Node* nodeOf(const QModelIndex& index) const;
    void fetch(Node& node) const;

    std::shared_ptr<store::Database> db_;
    std::optional<int64_t> disk_;
    std::unique_ptr<Node> root_;
};

}  // namespace contents
