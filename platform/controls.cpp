#include "platform/controls.h"

#include "platform/listview.h"

#include <QScrollBar>
#include <QTextCursor>

ImageCombo::ImageCombo(QWidget* parent)
    : QComboBox(parent)
{
    setIconSize(QSize(22, 18));
}

void ImageCombo::addPictureItem(int picture)
{
    addItem(images_ ? images_->icon(picture) : QIcon(), QString());
}

void ImageCombo::setSelectedIndex(int index)
{
    setCurrentIndex(index >= 1 && index <= count() ? index - 1 : -1);
}

RichTextView::RichTextView(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setUndoRedoEnabled(false);
}

void RichTextView::appendText(const QString& text, std::optional<QColor> colour)
{
    if (colour)
        current_ = *colour;
    QTextCursor cursor = batchDepth_ > 0 ? batch_ : QTextCursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    if (current_.isValid())
        format.setForeground(current_);
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    cursor.insertText(plain, format);
    if (batchDepth_ == 0)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void RichTextView::clear()
{
    if (batchDepth_ == 0) {
        QPlainTextEdit::clear();
        return;
    }
    batch_.endEditBlock();
    QPlainTextEdit::clear();
    batch_ = QTextCursor(document());
    batch_.beginEditBlock();
}

void RichTextView::beginAppends()
{
    if (batchDepth_++ == 0) {
        batch_ = QTextCursor(document());
        batch_.beginEditBlock();
    }
}

void RichTextView::endAppends()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    batch_.endEditBlock();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
