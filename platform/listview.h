#pragma once

#include <QIcon>
#include <QPoint>
#include <QStringList>
#include <QTableView>
#include <QTimer>
#include <QVector>
#include <optional>

// Pictures numbered from 1, as list items and combo items name them.
class ImageList {
public:
    void add(const QPixmap& picture);
    int count() const { return static_cast<int>(icons_.size()); }
    bool contains(int index) const { return index >= 1 && index <= count(); }
    // A null icon for an index outside the list.
    QIcon icon(int index) const;
    QPixmap picture(int index) const;

private:
    QVector<QPixmap> pictures_;
    QVector<QIcon> icons_;
};

// Report-style list: items with an optional unique key, a text, sub-items and
// a small icon. Operations that cannot apply (a key that exists, a key that
// does not, an icon the image list does not have) change nothing and say so
// in their result. Finding an item by key takes constant time; its row, and
// removing it, take time logarithmic in the list's size.
class ListView : public QTableView {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);

    void setColumns(const QStringList& captions);
    void setImageList(const ImageList* images);

    // Keyed items. add() fails when the key exists already.
    bool add(const QString& key, const QString& text);
    bool contains(const QString& key) const { return slotOf(key) >= 0; }
    bool remove(const QString& key);
    bool setIcon(const QString& key, int icon);
    bool setSubItem(const QString& key, int column, const QString& text);
    std::optional<int> icon(const QString& key) const;
    std::optional<int> row(const QString& key) const;

    // Items by position (0-based rows), with or without a key.
    int appendItem(const QString& text);
    bool setIconAt(int row, int icon);
    bool setSubItemAt(int row, int column, const QString& text);
    int count() const { return liveCount_; }
    QString key(int row) const;
    QString text(int row) const;
    QString subItem(int row, int column) const;
    int iconAt(int row) const;

    void clear();

    // A burst of changes. Between beginBatch() and endBatch() the list itself
    // is up to date at every call, while the screen goes on showing the list
    // as it was and learns of the changes at endBatch(): the items added in
    // one insertion, each run of neighbouring removed items in one removal,
    // the changed items in one update. Batches nest; the outermost
    // endBatch() counts.
    void beginBatch();
    void endBatch();

    // The selected item, by row or by key (nullopt when none is selected).
    std::optional<int> selectedRow() const;
    std::optional<QString> selectedKey() const;
    // Selects an item and makes it current, scrolling it into view.
    void selectRow(int row);
    // Selects the item with this key where the list stands, without
    // scrolling; false when no item has the key.
    bool selectKey(const QString& key);
    // The scroll position, to be put back after the list has been emptied
    // and filled again (a value past the new end stops at the end).
    QPoint scrollPosition() const;
    void setScrollPosition(QPoint position);

    void setColumnWidthPx(int column, double width);

signals:
    // A double-click on an item, or Enter on the selected one.
    void itemDoubleClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Item {
        QString key;
        QStringList cells;
        int icon = 0;
        bool keyed = false;
        // In the list; and on the screen, which until the end of a batch
        // still shows an item removed during it.
        bool live = false;
        bool shown = false;
    };

    // Items per slot, summed in a binary indexed tree: the row of a slot and
    // the slot of a row both take logarithmic time, whatever the size.
    class RowIndex {
    public:
        void clear() { tree_.clear(); }
        void append(int value);
        void add(int slot, int delta);
        // Counted slots before `slot`.
        int before(int slot) const;
        // The slot holding counted row `row`.
        int slotOf(int row) const;

    private:
        std::vector<int> tree_;
    };

    // Keys to slots, in an open-addressed table that keeps every key's hash:
    // growing it, emptying it and renumbering the slots never hash a key
    // again, so that no single item of a burst pays for the whole list (a
    // QHash growing past 65,536 keys held the window up for 24 ms).
    class KeyTable {
    public:
        KeyTable();
        // Where `key` stands among these items' keys, or the free entry
        // where it would go.
        size_t find(const QString& key, size_t hash, const std::vector<Item>& items) const;
        // The slot at a place that find() gave; -1 when the place is free.
        int slotAt(size_t place) const { return entries_[place].slot; }
        void insert(size_t place, size_t hash, int slot);
        void erase(size_t place);
        // Empties the table and keeps its room: a list is mostly refilled to
        // about its old size right away.
        void clear();
        // Every slot s becomes newSlot[s].
        void renumber(const std::vector<int>& newSlot);

    private:
        // The low half of the hash is enough to tell keys apart before
        // comparing them, and keeps an entry to eight bytes.
        struct Entry {
            quint32 hash = 0;
            int slot = -1;
        };
        void grow();
        // A power of two, at most half full.
        std::vector<Entry> entries_;
        size_t count_ = 0;
    };

    class Model;

    // The slot of a key, -1 when no item has it.
    int slotOf(const QString& key) const;

    void fitRowHeight();

    void appendSlot(const QString& key, const QString& text, bool keyed);
    const Item* itemAt(int row) const;
    void changed(int slot, int column);
    void removeShown(int firstSlot, int lastSlot);
    void showChanges();
    void dropDeadSlots();
    void freeRetired();

    Model* model_;
    // The items in row order; a removed item leaves a dead slot behind until
    // the dead outnumber the live.
    std::vector<Item> slots_;
    // The items of emptied lists, freed a few thousand at a time over the
    // next passes of the event loop by `retireTimer_`.
    std::vector<std::vector<Item>> retired_;
    QTimer* retireTimer_;
    // Rows of the list (live slots) and of the screen (shown slots).
    RowIndex rows_;
    RowIndex shownRows_;
    KeyTable keys_;
    int liveCount_ = 0;
    int shownCount_ = 0;
    int deadCount_ = 0;
    int batchDepth_ = 0;
    // What the screen has yet to learn: slots added from `firstUnshown_` on,
    // slots removed, and the range of slots changed.
    int firstUnshown_ = 0;
    std::vector<int> removedShown_;
    int dirtyFirst_ = -1;
    int dirtyLast_ = -1;
};
