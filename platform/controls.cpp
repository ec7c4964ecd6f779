#include "platform/controls.h"

#include "platform/listview.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

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

EntryLine::EntryLine(int maxLength, QWidget* parent)
    : QPlainTextEdit(parent)
    , maxLength_(maxLength)
{
    // Text set or inserted by the program, and whatever else gets past the
    // checks below, is cut back afterwards.
    connect(this, &QPlainTextEdit::textChanged, this, &EntryLine::cutExcess);
}

QString EntryLine::fitting(const QString& text, int room)
{
    if (room <= 0)
        return QString();
    if (text.size() <= room)
        return text;
    qsizetype end = room;
    if (text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate())
        --end;
    return text.left(end);
}

int EntryLine::length() const
{
    // The document counts one character more than it holds: the end of its
    // last line. A break at the very start is the one the last Enter left
    // behind; the next Enter takes it away, so it takes no room of the line.
    const QTextDocument* doc = document();
    const bool leftByEnter = doc->blockCount() > 1 && doc->firstBlock().length() == 1;
    return doc->characterCount() - 1 - (leftByEnter ? 1 : 0);
}

int EntryLine::room() const
{
    const QTextCursor cursor = textCursor();
    return maxLength_ - length() + (cursor.selectionEnd() - cursor.selectionStart());
}

void EntryLine::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    // The box keeps a CR LF as one line break, as it does a lone CR or LF.
    QString text = source->text();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QString fits = fitting(text, room());
    if (fits.isEmpty())
        return;
    QMimeData cut;
    cut.setText(fits);
    QPlainTextEdit::insertFromMimeData(&cut);
}

void EntryLine::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool inserts = !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.isPrint() || c.isSurrogate();
    });
    // A key whose character does not fit is refused, like any further key.
    if (inserts && fitting(text, room()).size() < text.size()) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void EntryLine::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    const int room = this->room() + event->replacementLength();
    if (commit.size() <= room) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(fitting(commit, room), event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&cut);
}

void EntryLine::cutExcess()
{
    const int size = length();
    const int over = size - maxLength_;
    if (over <= 0)
        return;
    // The caret stands after what was just put in: its excess goes. Text set
    // as a whole (caret at its start) loses its end. Either way a surrogate
    // pair goes whole.
    QTextCursor cursor = textCursor();
    const int end = cursor.position() >= over ? cursor.position() : size;
    int start = end - over;
    if (start > 0) {
        const QString text = toPlainText();
        if (text.at(start - 1).isHighSurrogate() && text.at(start).isLowSurrogate())
            --start;
    }
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    setTextCursor(cursor);
}
