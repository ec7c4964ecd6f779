#include "platform/listview.h"

#include "platform/focus_frame.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <algorithm>
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

// ------------------------------------------------------------- row index

// tree_[i - 1] sums the slots (i - lowbit(i), i], slots counted from 1.
void ListView::RowIndex::append(int value)
{
    const int i = static_cast<int>(tree_.size()) + 1;
    const int low = i & -i;
    tree_.push_back(value + before(i - 1) - before(i - low));
}

void ListView::RowIndex::add(int slot, int delta)
{
    for (int i = slot + 1; i <= static_cast<int>(tree_.size()); i += i & -i)
        tree_[i - 1] += delta;
}

int ListView::RowIndex::before(int slot) const
{
    int sum = 0;
    for (int i = slot; i > 0; i -= i & -i)
        sum += tree_[i - 1];
    return sum;
}

int ListView::RowIndex::slotOf(int row) const
{
    const int size = static_cast<int>(tree_.size());
    int step = 1;
    while (step * 2 <= size)
        step *= 2;
    int slot = 0;
    int rest = row + 1;
    for (; step > 0; step /= 2) {
        if (slot + step <= size && tree_[slot + step - 1] < rest) {
            slot += step;
            rest -= tree_[slot - 1];
        }
    }
    return slot;
}

// ------------------------------------------------------------- key table

ListView::KeyTable::KeyTable()
    : entries_(16)
{
}

size_t ListView::KeyTable::find(const QString& key, size_t hash, const std::vector<Item>& items) const
{
    const size_t mask = entries_.size() - 1;
    const auto low = static_cast<quint32>(hash);
    for (size_t place = hash & mask;; place = (place + 1) & mask) {
        const Entry& entry = entries_[place];
        if (entry.slot < 0 || (entry.hash == low && items[static_cast<size_t>(entry.slot)].key == key))
            return place;
    }
}

void ListView::KeyTable::insert(size_t place, size_t hash, int slot)
{
    entries_[place] = {static_cast<quint32>(hash), slot};
    if (++count_ * 2 > entries_.size())
        grow();
}

// Linear probing without tombstones: the entries after the freed place that
// would no longer be found move back into it.
void ListView::KeyTable::erase(size_t place)
{
    const size_t mask = entries_.size() - 1;
    size_t hole = place;
    for (size_t next = (hole + 1) & mask; entries_[next].slot >= 0; next = (next + 1) & mask) {
        const size_t home = entries_[next].hash & mask;
        // The hole lies between the entry's home and where it stands.
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            entries_[hole] = entries_[next];
            hole = next;
        }
    }
    entries_[hole] = Entry();
    --count_;
}

void ListView::KeyTable::clear()
{
    std::fill(entries_.begin(), entries_.end(), Entry());
    count_ = 0;
}

void ListView::KeyTable::renumber(const std::vector<int>& newSlot)
{
    for (Entry& entry : entries_) {
        if (entry.slot >= 0)
            entry.slot = newSlot[static_cast<size_t>(entry.slot)];
    }
}

void ListView::KeyTable::grow()
{
    std::vector<Entry> old(entries_.size() * 2);
    old.swap(entries_);
    const size_t mask = entries_.size() - 1;
    for (const Entry& entry : old) {
        if (entry.slot < 0)
            continue;
        size_t place = entry.hash & mask;
        while (entries_[place].slot >= 0)
            place = (place + 1) & mask;
        entries_[place] = entry;
    }
}

// ------------------------------------------------------------------ model

// What the screen sees: the rows it has been told of.
class ListView::Model : public QAbstractTableModel {
public:
    explicit Model(ListView* list)
        : QAbstractTableModel(list)
        , list_(list)
    {
    }

    QStringList captions;
    const ImageList* images = nullptr;

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : list_->shownCount_;
    }
    int columnCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(captions.size());
    }
    QVariant data(const QModelIndex& idx, int role) const override
    {
        if (!idx.isValid() || idx.row() >= list_->shownCount_)
            return {};
        const Item& item = list_->slots_[list_->shownRows_.slotOf(idx.row())];
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
    void setCaptions(const QStringList& c)
    {
        beginResetModel();
        captions = c;
        endResetModel();
    }

    using QAbstractTableModel::beginInsertRows;
    using QAbstractTableModel::beginRemoveRows;
    using QAbstractTableModel::beginResetModel;
    using QAbstractTableModel::endInsertRows;
    using QAbstractTableModel::endRemoveRows;
    using QAbstractTableModel::endResetModel;

private:
    ListView* list_;
};

// ------------------------------------------------------------------- list

ListView::ListView(QWidget* parent)
    : QTableView(parent)
    , model_(new Model(this))
    , retireTimer_(new QTimer(this))
{
    retireTimer_->setSingleShot(true);
    retireTimer_->setInterval(0);
    connect(retireTimer_, &QTimer::timeout, this, &ListView::freeRetired);
    setModel(model_);
    // A row has the same height whatever it holds, so that laying out a list
    // of 100,000 costs no more than one of ten.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    fitRowHeight();
    connect(this, &QTableView::doubleClicked, this, [this] { emit itemDoubleClicked(); });
}

// Enter does to the selected item what a double-click does, so that the
// list serves the keyboard as well as the mouse. The item the keyboard's
// focus stands on counts as chosen, as a click would have made it.
void ListView::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        QTableView::keyPressEvent(event);
        return;
    }
    event->accept();
    if (!selectedRow() && currentIndex().isValid())
        selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (selectedRow())
        emit itemDoubleClicked();
}

// The list shows that it has the keyboard's focus, empty or not, with a
// frame around its items.
void ListView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    paintFocusFrame(this, viewport());
}

void ListView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
}

void ListView::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

void ListView::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitRowHeight();
}

// Every row is as high as one with a line of text and, in a list of
// pictures, a picture.
void ListView::fitRowHeight()
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Xg");
    const ImageList* images = model_->images;
    if (images && images->count() > 0) {
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.decorationSize = images->icon(1).actualSize(iconSize());
    }
    const int height = itemDelegate()->sizeHint(option, QModelIndex()).height();
    // The header would keep a row at least as high as its own captions.
    verticalHeader()->setMinimumSectionSize(height);
    verticalHeader()->setDefaultSectionSize(height);
}

void ListView::setColumns(const QStringList& captions)
{
    model_->setCaptions(captions);
}

void ListView::setImageList(const ImageList* images)
{
    model_->images = images;
    fitRowHeight();
}

const ListView::Item* ListView::itemAt(int row) const
{
    if (row < 0 || row >= liveCount_)
        return nullptr;
    return &slots_[rows_.slotOf(row)];
}

void ListView::appendSlot(const QString& key, const QString& text, bool keyed)
{
    Item& item = slots_.emplace_back();
    item.key = key;
    item.cells = QStringList{text};
    item.keyed = keyed;
    item.live = true;
    rows_.append(1);
    shownRows_.append(0);
    ++liveCount_;
    if (batchDepth_ == 0)
        showChanges();
}

void ListView::changed(int slot, int column)
{
    if (!slots_[slot].shown)
        return;
    if (batchDepth_ > 0) {
        dirtyFirst_ = dirtyFirst_ < 0 ? slot : std::min(dirtyFirst_, slot);
        dirtyLast_ = std::max(dirtyLast_, slot);
        return;
    }
    const QModelIndex i = model_->index(shownRows_.before(slot), column);
    emit model_->dataChanged(i, i);
}

// Takes shown slots firstSlot to lastSlot (all removed from the list, and
// neighbours on the screen) off the screen in one removal.
void ListView::removeShown(int firstSlot, int lastSlot)
{
    const int first = shownRows_.before(firstSlot);
    const int last = shownRows_.before(lastSlot);
    // The view would hand the current item on to the next row and lay the
    // whole list out again to show it, at every removal of a burst that goes
    // down the list; the item leaves alone instead, with nothing current
    // after it.
    const int current = currentIndex().row();
    if (current >= first && current <= last)
        selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    model_->beginRemoveRows({}, first, last);
    for (int slot = firstSlot; slot <= lastSlot; ++slot) {
        if (!slots_[slot].shown)
            continue;
        slots_[slot] = Item();
        shownRows_.add(slot, -1);
        --shownCount_;
    }
    model_->endRemoveRows();
}

// Tells the screen everything it has not heard of yet: removals, changes,
// then the items added, in one insertion.
void ListView::showChanges()
{
    if (!removedShown_.empty()) {
        std::sort(removedShown_.begin(), removedShown_.end());
        // From the end, so that the rows of the runs still to go stay put.
        size_t end = removedShown_.size();
        while (end > 0) {
            size_t begin = end - 1;
            while (begin > 0
                   && shownRows_.before(removedShown_[begin - 1]) + 1 == shownRows_.before(removedShown_[begin]))
                --begin;
            removeShown(removedShown_[begin], removedShown_[end - 1]);
            end = begin;
        }
        removedShown_.clear();
    }
    if (dirtyFirst_ >= 0) {
        const int first = shownRows_.before(dirtyFirst_);
        const int last = shownRows_.before(dirtyLast_ + 1) - 1;
        dirtyFirst_ = dirtyLast_ = -1;
        if (first <= last)
            emit model_->dataChanged(model_->index(first, 0), model_->index(last, model_->columnCount({}) - 1));
    }
    const int added = liveCount_ - shownCount_;
    const int size = static_cast<int>(slots_.size());
    if (added > 0) {
        model_->beginInsertRows({}, shownCount_, shownCount_ + added - 1);
        for (int slot = firstUnshown_; slot < size; ++slot) {
            if (slots_[slot].live) {
                slots_[slot].shown = true;
                shownRows_.add(slot, 1);
            }
        }
        shownCount_ = liveCount_;
        model_->endInsertRows();
    }
    firstUnshown_ = size;
}

int ListView::slotOf(const QString& key) const
{
    return keys_.slotAt(keys_.find(key, qHash(key), slots_));
}

bool ListView::add(const QString& key, const QString& text)
{
    // One lookup both checks and claims the key: lists of thousands are
    // filled an item at a time from a single server burst.
    const size_t hash = qHash(key);
    const size_t place = keys_.find(key, hash, slots_);
    if (keys_.slotAt(place) >= 0)
        return false;
    keys_.insert(place, hash, static_cast<int>(slots_.size()));
    appendSlot(key, text, true);
    return true;
}

bool ListView::remove(const QString& key)
{
    const size_t place = keys_.find(key, qHash(key), slots_);
    const int slot = keys_.slotAt(place);
    if (slot < 0)
        return false;
    keys_.erase(place);
    Item& item = slots_[slot];
    item.live = false;
    rows_.add(slot, -1);
    --liveCount_;
    ++deadCount_;
    if (!item.shown) {
        item = Item();
        return true;
    }
    // The screen goes on showing the item until it is told.
    removedShown_.push_back(slot);
    if (batchDepth_ == 0) {
        showChanges();
        dropDeadSlots();
    }
    return true;
}

// Rebuilds the slots without the dead ones once they outnumber the live, so
// that memory and lookups follow the list's size, not its history. The rows
// stay as they are: nothing to tell the screen.
void ListView::dropDeadSlots()
{
    if (deadCount_ < 64 || deadCount_ < liveCount_)
        return;
    std::vector<Item> live;
    live.reserve(static_cast<size_t>(liveCount_));
    std::vector<int> newSlot(slots_.size(), -1);
    rows_.clear();
    shownRows_.clear();
    for (size_t slot = 0; slot < slots_.size(); ++slot) {
        Item& item = slots_[slot];
        if (!item.live)
            continue;
        newSlot[slot] = static_cast<int>(live.size());
        live.push_back(std::move(item));
        rows_.append(1);
        shownRows_.append(1);
    }
    slots_ = std::move(live);
    keys_.renumber(newSlot);
    deadCount_ = 0;
    firstUnshown_ = static_cast<int>(slots_.size());
}

bool ListView::setIcon(const QString& key, int icon)
{
    const int slot = slotOf(key);
    if (slot < 0 || !model_->images || !model_->images->contains(icon))
        return false;
    slots_[slot].icon = icon;
    changed(slot, 0);
    return true;
}

bool ListView::setSubItem(const QString& key, int column, const QString& text)
{
    const int slot = slotOf(key);
    if (slot < 0 || column < 1 || column >= model_->captions.size())
        return false;
    QStringList& cells = slots_[slot].cells;
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
    changed(slot, column);
    return true;
}

std::optional<int> ListView::icon(const QString& key) const
{
    const int slot = slotOf(key);
    if (slot < 0)
        return std::nullopt;
    return slots_[slot].icon;
}

std::optional<int> ListView::row(const QString& key) const
{
    const int slot = slotOf(key);
    if (slot < 0)
        return std::nullopt;
    return rows_.before(slot);
}

int ListView::appendItem(const QString& text)
{
    appendSlot(QString(), text, false);
    return liveCount_ - 1;
}

bool ListView::setIconAt(int row, int icon)
{
    if (row < 0 || row >= count() || !model_->images || !model_->images->contains(icon))
        return false;
    const int slot = rows_.slotOf(row);
    slots_[slot].icon = icon;
    changed(slot, 0);
    return true;
}

bool ListView::setSubItemAt(int row, int column, const QString& text)
{
    if (row < 0 || row >= count() || column < 1 || column >= model_->captions.size())
        return false;
    const int slot = rows_.slotOf(row);
    QStringList& cells = slots_[slot].cells;
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
    changed(slot, column);
    return true;
}

QString ListView::key(int row) const
{
    const Item* item = itemAt(row);
    return item ? item->key : QString();
}

QString ListView::text(int row) const
{
    const Item* item = itemAt(row);
    return item ? item->cells.value(0) : QString();
}

QString ListView::subItem(int row, int column) const
{
    const Item* item = itemAt(row);
    return item ? item->cells.value(column) : QString();
}

int ListView::iconAt(int row) const
{
    const Item* item = itemAt(row);
    return item ? item->icon : 0;
}

void ListView::clear()
{
    model_->beginResetModel();
    keys_.clear();
    // Freeing 100,000 items in one go held the window up twice: here, and in
    // the allocator at the next paint, which gathered up what they left.
    const size_t size = slots_.size();
    retired_.push_back(std::move(slots_));
    slots_ = {};
    slots_.reserve(size);
    retireTimer_->start();
    rows_.clear();
    shownRows_.clear();
    liveCount_ = 0;
    shownCount_ = 0;
    deadCount_ = 0;
    firstUnshown_ = 0;
    removedShown_.clear();
    dirtyFirst_ = dirtyLast_ = -1;
    model_->endResetModel();
}

void ListView::freeRetired()
{
    constexpr size_t kFreedAtOnce = 5000;
    for (size_t freed = 0; !retired_.empty() && freed < kFreedAtOnce;) {
        std::vector<Item>& items = retired_.back();
        const size_t now = std::min(items.size(), kFreedAtOnce - freed);
        items.resize(items.size() - now);
        freed += now;
        if (items.empty())
            retired_.pop_back();
    }
    if (!retired_.empty())
        retireTimer_->start();
}

void ListView::beginBatch()
{
    ++batchDepth_;
}

void ListView::endBatch()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    showChanges();
    dropDeadSlots();
}

std::optional<int> ListView::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    // During a batch the screen may still show an item that has left.
    const int slot = shownRows_.slotOf(rows.first().row());
    if (!slots_[slot].live)
        return std::nullopt;
    return rows_.before(slot);
}

std::optional<QString> ListView::selectedKey() const
{
    const std::optional<int> r = selectedRow();
    if (!r)
        return std::nullopt;
    return key(*r);
}

void ListView::selectRow(int row)
{
    // An item must be on the screen before it can be selected there.
    showChanges();
    setCurrentIndex(model_->index(row, 0));
}

bool ListView::selectKey(const QString& key)
{
    const std::optional<int> r = row(key);
    if (!r)
        return false;
    showChanges();
    const bool scrolls = hasAutoScroll();
    setAutoScroll(false);
    setCurrentIndex(model_->index(*r, 0));
    setAutoScroll(scrolls);
    return true;
}

QPoint ListView::scrollPosition() const
{
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void ListView::setScrollPosition(QPoint position)
{
    // The scroll bars learn the list's new length only when the rows are laid
    // out, which otherwise waits for the next pass of the event loop.
    executeDelayedItemsLayout();
    updateGeometries();
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

void ListView::setColumnWidthPx(int column, double width)
{
    setColumnWidth(column, std::max(0, static_cast<int>(std::lround(width))));
}
