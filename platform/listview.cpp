#include "platform/listview.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <cmath>

void ImageList::add(const QPixmap& picture)
{
    pictures_.append(picture);
    icons_.append(QIcon(picture));
}

QIcon ImageList::icon(int index) const
{
    return contains(index) ? icons_[index - 1] : QIcon();
}

QPixmap ImageList::picture(int index) const
{
    return contains(index) ? pictures_[index - 1] : QPixmap();
}

class ListView::Model : public QAbstractTableModel {
public:
    struct Item {
        QString key;
        QStringList cells;
        int icon = 0;
    };

    QStringList captions;
    const ImageList* images = nullptr;
    QVector<Item> items;
    // Keys beside the rows, so that lookups stay constant-time.
    QHash<QString, int> keys;

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(items.size());
    }
    int columnCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(captions.size());
    }
    QVariant data(const QModelIndex& idx, int role) const override
    {
        if (!idx.isValid() || idx.row() >= items.size())
            return {};
        const Item& item = items[idx.row()];
        if (role == Qt::DisplayRole)
            return idx.column() < item.cells.size() ? item.cells[idx.column()] : QString();
        if (role == Qt::DecorationRole && idx.column() == 0 && images && item.icon > 0)
            return images->icon(item.icon);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < captions.size())
            return captions[section];
        return {};
    }
    void changed(int row, int column)
    {
        const QModelIndex i = createIndex(row, column);
        emit dataChanged(i, i);
    }
    void append(Item item)
    {
        const int row = static_cast<int>(items.size());
        beginInsertRows({}, row, row);
        items.append(std::move(item));
        endInsertRows();
    }
    void removeAt(int row)
    {
        beginRemoveRows({}, row, row);
        items.removeAt(row);
        endRemoveRows();
    }
    void removeAll()
    {
        beginResetModel();
        items.clear();
        endResetModel();
    }
    void setCaptions(const QStringList& c)
    {
        beginResetModel();
        captions = c;
        endResetModel();
    }
};

ListView::ListView(QWidget* parent)
    : QTreeView(parent)
    , model_(new Model)
{
    model_->setParent(this);
    setModel(model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
    connect(this, &QTreeView::doubleClicked, this, [this] { emit itemDoubleClicked(); });
}

void ListView::setColumns(const QStringList& captions)
{
    model_->setCaptions(captions);
}

void ListView::setImageList(const ImageList* images)
{
    model_->images = images;
}

bool ListView::add(const QString& key, const QString& text)
{
    // One lookup both checks and claims the key: lists of thousands are
    // filled an item at a time from a single server burst.
    auto& index = model_->keys;
    const qsizetype before = index.size();
    int& row = index[key];
    if (index.size() == before)
        return false;
    row = count();
    model_->append({key, {text}, 0});
    return true;
}

bool ListView::remove(const QString& key)
{
    auto& index = model_->keys;
    const auto it = index.find(key);
    if (it == index.end())
        return false;
    const int removed = it.value();
    index.erase(it);
    model_->removeAt(removed);
    for (auto i = index.begin(); i != index.end(); ++i) {
        if (i.value() > removed)
            --i.value();
    }
    return true;
}

bool ListView::setIcon(const QString& key, int icon)
{
    const auto r = row(key);
    return r && setIconAt(*r, icon);
}

bool ListView::setSubItem(const QString& key, int column, const QString& text)
{
    const auto r = row(key);
    return r && setSubItemAt(*r, column, text);
}

std::optional<int> ListView::icon(const QString& key) const
{
    const auto r = row(key);
    if (!r)
        return std::nullopt;
    return model_->items[*r].icon;
}

std::optional<int> ListView::row(const QString& key) const
{
    const auto& index = model_->keys;
    const auto it = index.constFind(key);
    if (it == index.constEnd())
        return std::nullopt;
    return it.value();
}

int ListView::appendItem(const QString& text)
{
    model_->append({QString(), {text}, 0});
    return count() - 1;
}

bool ListView::setIconAt(int row, int icon)
{
    if (row < 0 || row >= count() || !model_->images || !model_->images->contains(icon))
        return false;
    model_->items[row].icon = icon;
    model_->changed(row, 0);
    return true;
}

bool ListView::setSubItemAt(int row, int column, const QString& text)
{
    if (row < 0 || row >= count() || column < 1 || column >= model_->captions.size())
        return false;
    QStringList& cells = model_->items[row].cells;
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
    model_->changed(row, column);
    return true;
}

int ListView::count() const
{
    return static_cast<int>(model_->items.size());
}

QString ListView::key(int row) const
{
    return row >= 0 && row < count() ? model_->items[row].key : QString();
}

QString ListView::text(int row) const
{
    return row >= 0 && row < count() ? model_->items[row].cells.value(0) : QString();
}

QString ListView::subItem(int row, int column) const
{
    return row >= 0 && row < count() ? model_->items[row].cells.value(column) : QString();
}

int ListView::iconAt(int row) const
{
    return row >= 0 && row < count() ? model_->items[row].icon : 0;
}

void ListView::clear()
{
    // A list is mostly refilled to about its old size right away; keeping
    // the key table's room spares growing it step by step again.
    const qsizetype room = model_->keys.capacity();
    model_->keys.clear();
    model_->keys.reserve(room);
    model_->removeAll();
}

std::optional<int> ListView::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row();
}

void ListView::selectRow(int row)
{
    setCurrentIndex(model_->index(row, 0));
}

void ListView::setColumnWidthPx(int column, double width)
{
    setColumnWidth(column, std::max(0, static_cast<int>(std::lround(width))));
}
