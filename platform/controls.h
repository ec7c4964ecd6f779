#pragma once

// The chat view has a file of its own.
#include "platform/chatview.h"

#include <QComboBox>
#include <QPlainTextEdit>

class ImageList;

// A drop-down of pictures; items are numbered from 1 (0: none selected).
class ImageCombo : public QComboBox {
    Q_OBJECT
public:
    explicit ImageCombo(QWidget* parent = nullptr);
    void setImageList(const ImageList* images) { images_ = images; }
    // Adds an item that shows picture `picture` and nothing else.
    void addPictureItem(int picture);
    int selectedIndex() const { return currentIndex() + 1; }
    // Selects item `index`; an index outside the items selects nothing.
    void setSelectedIndex(int index);

private:
    const ImageList* images_ = nullptr;
};

// A multi-line entry box that holds at most maxLength characters. What is
// pasted, dropped or typed past the limit is cut before it reaches the box,
// so a long paste costs no more than a short one; the text already there
// stays whole, and a character of two UTF-16 units (an emoji) is taken or
// refused whole.
class EntryLine : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit EntryLine(int maxLength, QWidget* parent = nullptr);

    // The longest start of `text` of at most `room` UTF-16 units that does
    // not end in the first half of a surrogate pair.
    static QString fitting(const QString& text, int room);

protected:
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // How many characters may go in at the caret, in place of the selection.
    int room() const;
    int length() const;
    void cutExcess();

    int maxLength_;
};
