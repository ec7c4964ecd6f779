#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QStringList>
#include <QTreeView>
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
// a small icon. Lookups by key take constant time. Operations that cannot
// apply (a key that exists, a key that does not, an icon the image list does
// not have) change nothing and say so in their result.
class ListView : public QTreeView {
    Q_OBJECT
public:
    explicit ListView(QWidget* parent = nullptr);

    void setColumns(const QStringList& captions);
    void setImageList(const ImageList* images);

    // Keyed items. add() fails when the key exists already.
    bool add(const QString& key, const QString& text);
    bool contains(const QString& key) const { return row(key).has_value(); }
    bool remove(const QString& key);
    bool setIcon(const QString& key, int icon);
    bool setSubItem(const QString& key, int column, const QString& text);
    std::optional<int> icon(const QString& key) const;
    std::optional<int> row(const QString& key) const;

    // Items by position (0-based rows), with or without a key.
    int appendItem(const QString& text);
    bool setIconAt(int row, int icon);
    bool setSubItemAt(int row, int column, const QString& text);
    int count() const;
    QString key(int row) const;
    QString text(int row) const;
    QString subItem(int row, int column) const;
    int iconAt(int row) const;

    void clear();
    // The row of the selected item, if any.
    std::optional<int> selectedRow() const;
    void selectRow(int row);

    void setColumnWidthPx(int column, double width);

signals:
    void itemDoubleClicked();

private:
    class Model;
    Model* model_;
};
