#include "contents/contentsmodel.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QPalette>
#include <QStyle>
#include <algorithm>

#include "store/database.h"

namespace contents {

struct ContentsModel::Node {
    store::StoredEntry entry;
    Node* parent = nullptr;
    int row = 0;
    bool fetched = false;
    std::vector<std::unique_ptr<Node>> children;
};

QString readableSize(int64_t bytes) {
    static const char* const units[] = {"КБ", "МБ", "ГБ", "ТБ"};
    const QLocale russian(QLocale::Russian);
    if (bytes < 1000) return QStringLiteral("%1 байт").arg(bytes);
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1000 && unit < 3) {  // "1 020 МБ" reads worse than "1,0 ГБ"
        value /= 1024;
        ++unit;
    }
    return russian.toString(value, 'f', value < 10 ? 1 : 0) + QLatin1Char(' ') +
           QString::fromUtf8(units[unit]);
}

QString count(int64_t n) {
    return QLocale(QLocale::Russian).toString(static_cast<qlonglong>(n));
}

QString readMoment(const std::string& stored) {
    const QString text = QString::fromStdString(stored);
    const QDateTime moment = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return moment.isValid() ? moment.toString(QStringLiteral("dd.MM.yyyy hh:mm")) : text;
}

QString marksText(unsigned marks) {
    QStringList said;
    if (marks & store::kUnreadable) said << QStringLiteral("не прочитано");
    if (marks & store::kLinkLoop)
        said << QStringLiteral("ссылка по кругу");
    else if (marks & store::kLink)
        said << QStringLiteral("ссылка");
    if (marks & store::kNotUtf8) said << QStringLiteral("имя не в UTF-8");
    if (marks & store::kSpecial) said << QStringLiteral("устройство или канал");
    return said.join(QStringLiteral(", "));
}

ContentsModel::ContentsModel(QObject* parent) : QAbstractItemModel(parent) {}

ContentsModel::~ContentsModel() = default;

void ContentsModel::show(std::shared_ptr<store::Database> db, std::optional<int64_t> disk) {
    beginResetModel();
    db_ = std::move(db);
    disk_ = db_ ? disk : std::nullopt;
    root_ = std::make_unique<Node>();
    root_->entry.folder = true;
    root_->entry.id = store::kRootFolder;
    // The top level is read at once: whether the disk has any contents shows in the
    // window before the tree is looked at.
    try {
        fetch(*root_);
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

bool ContentsModel::empty() const {
    return !root_ || root_->children.empty();
}

QModelIndex ContentsModel::indexOfPath(const std::string& path) {
    QModelIndex at;
    for (size_t from = 0; from <= path.size();) {
        const size_t slash = std::min(path.find('/', from), path.size());
        const std::string_view name(path.data() + from, slash - from);
        if (canFetchMore(at)) fetchMore(at);
        const Node* node = nodeOf(at);
        const auto child = std::find_if(node->children.begin(), node->children.end(),
                                        [&](const auto& c) { return c->entry.name == name; });
        if (child == node->children.end()) return {};
        at = index((*child)->row, Name, at);
        from = slash + 1;
    }
    return at;
}

ContentsModel::Node* ContentsModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : root_.get();
}

// A folder's entries are read once, the first time anything asks for them.
void ContentsModel::fetch(Node& node) const {
    if (node.fetched || !node.entry.folder) return;
    node.fetched = true;
    if (!db_ || !disk_) return;
    const store::ContentsReader reader(*db_);
    for (store::StoredEntry& entry : reader.children(*disk_, node.entry.id)) {
        auto child = std::make_unique<Node>();
        child->entry = std::move(entry);
        child->parent = &node;
        child->row = static_cast<int>(node.children.size());
        child->fetched = !child->entry.folder;
        node.children.push_back(std::move(child));
    }
}

QModelIndex ContentsModel::index(int row, int column, const QModelIndex& parent) const {
    Node* node = nodeOf(parent);
    if (!node || row < 0 || column < 0 || column >= ColumnCount ||
        row >= static_cast<int>(node->children.size()))
        return {};
    return createIndex(row, column, node->children[row].get());
}

QModelIndex ContentsModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    Node* parent = static_cast<Node*>(child.internalPointer())->parent;
    if (!parent || parent == root_.get()) return {};
    return createIndex(parent->row, 0, parent);
}

int ContentsModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const Node* node = nodeOf(parent);
    return node ? static_cast<int>(node->children.size()) : 0;
}

int ContentsModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

bool ContentsModel::hasChildren(const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    if (!node || parent.column() > 0) return false;
    return node->fetched ? !node->children.empty() : node->entry.folder;
}

bool ContentsModel::canFetchMore(const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    return node && !node->fetched;
}

void ContentsModel::fetchMore(const QModelIndex& parent) {
    Node* node = nodeOf(parent);
    if (!node || node->fetched) return;
    Node scratch;
    scratch.entry = node->entry;
    fetch(scratch);
    if (scratch.children.empty()) {
        node->fetched = true;
        return;
    }
    beginInsertRows(parent, 0, static_cast<int>(scratch.children.size()) - 1);
    node->children = std::move(scratch.children);
    for (auto& child : node->children) child->parent = node;
    node->fetched = true;
    endInsertRows();
}

namespace {

QString modifiedText(const std::optional<int64_t>& modified) {
    if (!modified) return {};
    return QDateTime::fromSecsSinceEpoch(*modified).toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

QVariant icon(const store::StoredEntry& entry) {
    const QStyle* style = QApplication::style();
    if (entry.marks & (store::kLink | store::kLinkLoop))
        return style->standardIcon(entry.folder ? QStyle::SP_DirLinkIcon : QStyle::SP_FileLinkIcon);
    return style->standardIcon(entry.folder ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
}

}  // namespace

QVariant ContentsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const store::StoredEntry& entry = static_cast<Node*>(index.internalPointer())->entry;
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            switch (column) {
                case Name:
                    return QString::fromUtf8(entry.name);  // bad bytes: U+FFFD
                case Size:
                    return entry.size ? readableSize(*entry.size) : QString();
                case Modified:
                    return modifiedText(entry.modified);
                case Marks:
                    return marksText(entry.marks);
            }
            break;
        case Qt::ToolTipRole:
            if (column == Size && entry.size) return count(*entry.size) + QStringLiteral(" байт");
            if (column == Name || column == Marks) {
                const QString marks = marksText(entry.marks);
                if (!marks.isEmpty()) return marks;
            }
            break;
        case Qt::DecorationRole:
            if (column == Name) return icon(entry);
            break;
        case Qt::ForegroundRole:
            if (entry.marks & store::kUnreadable)
                return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
            break;
        case Qt::TextAlignmentRole:
            if (column == Size) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            break;
    }
    return {};
}

QVariant ContentsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case Name:
            return QStringLiteral("Имя");
        case Size:
            return QStringLiteral("Размер");
        case Modified:
            return QStringLiteral("Изменён");
        case Marks:
            return QStringLiteral("Отметка");
    }
    return {};
}

}  // namespace contents
