#include "platform/chatview.h"

#include "platform/focus_frame.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QStyleHints>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

bool breaksLine(char16_t c)
{
    if (c < 0x20)
        return c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
    return c == 0x85 || c == 0x2028 || c == 0x2029;
}

namespace {

// Space around the text, as a text document leaves it.
constexpr int kMargin = 4;

// The direction of a line, from its first strong character, as a text
// document gives it.
bool rightToLeft(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        switch (QChar::direction(c)) {
        case QChar::DirL:
            return false;
        case QChar::DirR:
        case QChar::DirAL:
            return true;
        default:
            break;
        }
    }
    return false;
}

LinkOpener& linkOpener()
{
    static LinkOpener opener;
    return opener;
}

void openLink(const QUrl& url)
{
    if (!isWebAddress(url))
        return;
    if (linkOpener())
        linkOpener()(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace

void setLinkOpener(LinkOpener opener)
{
    linkOpener() = std::move(opener);
}

// ------------------------------------------------------------------ log

ChatLog::ChatLog(int maxLines, qint64 maxCharacters)
    : maxLines_(maxLines)
    , maxCharacters_(maxCharacters)
{
}

void ChatLog::setLimits(int maxLines, qint64 maxCharacters)
{
    maxLines_ = maxLines;
    maxCharacters_ = maxCharacters;
    trim();
}

void ChatLog::append(QStringView text, const QColor& colour)
{
    if (text.isEmpty())
        return;
    if (runs_.empty() || runs_.back().colour != colour)
        runs_.push_back({end_, colour});
    const qsizetype size = text.size();
    qsizetype from = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (!breaksLine(text[i].unicode()))
            continue;
        text_.append(text.sliced(from, i - from));
        if (text[i] == u'\r' && i + 1 < size && text[i + 1] == u'\n') {
            text_.append(u'\n');
            ++i;
            starts_.push_back(base_ + text_.size());
        } else {
            text_.append(u' ');
        }
        from = i + 1;
    }
    text_.append(text.sliced(from));
    end_ = base_ + text_.size();
    trim();
}

// The oldest whole lines go while there are too many lines or characters.
void ChatLog::trim()
{
    const auto complete = [this] { return starts_.size() - 1; };
    bool trimmed = false;
    // The newest line stays, even alone past the limit on characters.
    const size_t keep = end_ == starts_.back() ? 1 : 0;
    while (complete() > keep
           && (complete() > static_cast<size_t>(maxLines_) || end_ - starts_.front() > maxCharacters_)) {
        starts_.pop_front();
        ++firstSerial_;
        trimmed = true;
    }
    if (!trimmed)
        return;
    while (runs_.size() > 1 && runs_[1].start <= starts_.front())
        runs_.pop_front();
    // The text of the lines gone makes room for new text once it is a
    // quarter of the text kept: the kept text moves to the front of the same
    // buffer, so that a full view stops growing, and each character moves a
    // few times at most.
    const qint64 dead = starts_.front() - base_;
    const qint64 live = text_.size() - dead;
    if (dead > 65536 && dead * 4 > live) {
        QChar* data = text_.data();
        std::memmove(data, data + dead, static_cast<size_t>(live) * sizeof(QChar));
        text_.resize(live);
        base_ += dead;
    }
}

void ChatLog::clear()
{
    text_ = QString();
    base_ = end_;
    firstSerial_ += static_cast<qint64>(starts_.size());
    starts_ = {end_};
    runs_.clear();
}

int ChatLog::lineCount() const
{
    const int lines = static_cast<int>(starts_.size());
    return end_ == starts_.back() ? lines - 1 : lines;
}

QStringView ChatLog::stored(qint64 start, qint64 end) const
{
    return QStringView(text_).sliced(start - base_, end - start);
}

QStringView ChatLog::lineText(int line) const
{
    const size_t i = static_cast<size_t>(line);
    const qint64 end = i + 1 < starts_.size() ? starts_[i + 1] - 1 : end_;
    return stored(starts_[i], end);
}

size_t ChatLog::runAt(qint64 position) const
{
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), position,
                                        [](qint64 p, const Run& run) { return p < run.start; });
    return after == runs_.begin() ? 0 : static_cast<size_t>(after - runs_.begin()) - 1;
}

QVector<ChatRun> ChatLog::lineRuns(int line) const
{
    QVector<ChatRun> pieces;
    const qint64 start = starts_[static_cast<size_t>(line)];
    const qint64 end = start + lineText(line).size();
    for (size_t r = runAt(start); r < runs_.size() && runs_[r].start < end; ++r) {
        const qint64 from = std::max(runs_[r].start, start);
        const qint64 to = r + 1 < runs_.size() ? std::min(runs_[r + 1].start, end) : end;
        if (to > from)
            pieces.append({static_cast<int>(from - start), static_cast<int>(to - from), runs_[r].colour});
    }
    return pieces;
}

int ChatLog::lineAt(qint64 offset) const
{
    const qint64 position = origin() + offset;
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), position);
    const int line = static_cast<int>(after - starts_.begin()) - 1;
    return std::clamp(line, 0, std::max(0, lineCount() - 1));
}

QString ChatLog::text(qint64 start, qint64 end) const
{
    start = std::clamp<qint64>(start, 0, characterCount());
    end = std::clamp<qint64>(end, start, characterCount());
    return stored(origin() + start, origin() + end).toString();
}

QColor ChatLog::colourAt(qint64 offset, qint64* runStart, qint64* runEnd) const
{
    if (runs_.empty()) {
        *runStart = 0;
        *runEnd = characterCount();
        return {};
    }
    const size_t r = runAt(origin() + offset);
    *runStart = std::max(runs_[r].start, origin()) - origin();
    *runEnd = (r + 1 < runs_.size() ? runs_[r + 1].start : end_) - origin();
    return runs_[r].colour;
}

// ------------------------------------------------------- screen readers

namespace {

// Qt's own rules for words, sentences and lines, applied to a few lines of
// the view rather than to all of its text.
class TextWindow : public QAccessibleTextInterface {
public:
    explicit TextWindow(QString text)
        : text_(std::move(text))
    {
    }
    QString text(int start, int end) const override { return text_.mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(text_.size()); }
    // A window of text has nothing to select, show or point at.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override
    {
        *start = *end = -1;
        return {};
    }

private:
    QString text_;
};

QString rgb(const QColor& colour)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

} // namespace

// What screen readers see of the view: the same text and text attributes a
// text edit gives them.
class RichTextViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit RichTextViewAccessible(RichTextView* view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return view()->toPlainText();
        return QAccessibleWidget::text(t);
    }

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        const auto [start, end] = selected();
        if (selectionIndex == 0 && start < end) {
            *startOffset = start;
            *endOffset = end;
        }
    }
    int selectionCount() const override
    {
        const auto [start, end] = selected();
        return start < end ? 1 : 0;
    }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            view()->setSelection(view()->caret_, view()->caret_);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex != 0)
            return;
        const qint64 origin = log().origin();
        view()->caretPlaced_ = true;
        view()->setSelection(origin + startOffset, origin + endOffset);
    }

    int cursorPosition() const override
    {
        const RichTextView* v = view();
        if (!v->caretPlaced_)
            return characterCount();
        return static_cast<int>(std::clamp<qint64>(v->caret_ - log().origin(), 0, log().characterCount()));
    }
    void setCursorPosition(int position) override
    {
        const qint64 at = log().origin() + position;
        view()->caretPlaced_ = true;
        view()->setSelection(at, at);
    }

    QString text(int startOffset, int endOffset) const override { return log().text(startOffset, endOffset); }
    int characterCount() const override { return static_cast<int>(log().characterCount()); }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                             int* endOffset) const override
    {
        return inWindow(offset, type, startOffset, endOffset, &QAccessibleTextInterface::textBeforeOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                            int* endOffset) const override
    {
        return inWindow(offset, type, startOffset, endOffset, &QAccessibleTextInterface::textAfterOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                         int* endOffset) const override
    {
        return inWindow(offset, type, startOffset, endOffset, &QAccessibleTextInterface::textAtOffset);
    }

    QRect characterRect(int offset) const override
    {
        RichTextView* v = view();
        const int line = log().lineAt(offset);
        const std::optional<QRectF> where = v->lineRect(line);
        if (!where || offset < 0 || offset > log().characterCount())
            return {};
        const int position = static_cast<int>(offset - log().lineStart(line));
        const QTextLayout& layout = v->layoutOf(line);
        const QTextLine textLine = layout.lineForTextPosition(std::min(position, int(layout.text().size())));
        if (!textLine.isValid())
            return {};
        const qreal x = textLine.cursorToX(position);
        const qreal next = textLine.cursorToX(position + 1);
        const QRectF rect(where->left() + x, where->top() + textLine.y(), std::max<qreal>(1, std::abs(next - x)),
                          textLine.height());
        return QRect(v->viewport()->mapToGlobal(rect.topLeft().toPoint()), rect.size().toSize());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        RichTextView* v = view();
        const QPoint local = v->viewport()->mapFromGlobal(point);
        if (!v->viewport()->rect().contains(local))
            return -1;
        return static_cast<int>(v->offsetAt(local));
    }
    void scrollToSubstring(int startIndex, int) override { view()->scrollToLine(log().lineAt(startIndex)); }

    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        const qint64 count = log().characterCount();
        if (offset == -2)
            offset = cursorPosition();
        if (offset == -1 || offset == count)
            offset = static_cast<int>(count - 1);
        if (offset < 0 || offset > count) {
            *startOffset = *endOffset = -1;
            return {};
        }
        const int line = log().lineAt(offset);
        const qint64 lineStart = log().lineStart(line);
        const QStringView lineText = log().lineText(line);
        qint64 runStart = 0;
        qint64 runEnd = 0;
        const QColor colour = log().colourAt(offset, &runStart, &runEnd);
        // A run ends with its line's text; the line break stands alone.
        const qint64 textEnd = lineStart + lineText.size();
        bool link = false;
        if (offset < textEnd) {
            runStart = std::max(runStart, lineStart);
            runEnd = std::min(runEnd, textEnd);
            // A web address is a run of its own, underlined as it is shown.
            for (const TextLink& found : findLinks(lineText)) {
                const qint64 from = lineStart + found.start;
                const qint64 to = from + found.length;
                if (offset >= to) {
                    runStart = std::max(runStart, to);
                    continue;
                }
                if (offset >= from) {
                    runStart = std::max(runStart, from);
                    runEnd = std::min(runEnd, to);
                    link = true;
                } else {
                    runEnd = std::min(runEnd, from);
                }
                break;
            }
        } else {
            runStart = textEnd;
            runEnd = textEnd + 1;
        }
        *startOffset = static_cast<int>(runStart);
        *endOffset = static_cast<int>(std::min(runEnd, count));

        const QFont font = view()->font();
        QString family = font.families().value(0);
        QString out;
        if (!family.isEmpty()) {
            for (const QChar special : {u'\\', u':', u',', u'=', u';', u'"'})
                family.replace(special, QString(u'\\') + special);
            out += QStringLiteral("font-family:\"%1\";").arg(family);
        }
        if (const int size = font.pointSize(); size > 0)
            out += QStringLiteral("font-size:%1pt;").arg(size);
        out += font.weight() > QFont::Normal ? QStringLiteral("font-weight:bold;")
                                             : QStringLiteral("font-weight:normal;");
        out += font.style() == QFont::StyleItalic    ? QStringLiteral("font-style:italic;")
            : font.style() == QFont::StyleOblique ? QStringLiteral("font-style:oblique;")
                                                  : QStringLiteral("font-style:normal;");
        if (link)
            out += QStringLiteral("text-underline-style:solid;text-underline-type:single;");
        if (rightToLeft(lineText))
            out += QStringLiteral("writing-mode:rl;");
        out += QStringLiteral("text-position:baseline;");
        if (colour.isValid())
            out += QStringLiteral("color:") + rgb(colour) + u';';
        out += QStringLiteral("text-align:left;");
        return out;
    }

private:
    RichTextView* view() const { return static_cast<RichTextView*>(widget()); }
    const ChatLog& log() const { return view()->log_; }

    std::pair<int, int> selected() const
    {
        const RichTextView* v = view();
        const qint64 origin = log().origin();
        const qint64 count = log().characterCount();
        const qint64 start = std::clamp<qint64>(std::min(v->anchor_, v->caret_) - origin, 0, count);
        const qint64 end = std::clamp<qint64>(std::max(v->anchor_, v->caret_) - origin, 0, count);
        return {static_cast<int>(start), static_cast<int>(end)};
    }

    using Finder = QString (QAccessibleTextInterface::*)(int, QAccessible::TextBoundaryType, int*, int*) const;

    // The line of the offset and its neighbours hold every word, sentence and
    // line next to it: the view's lines never run into each other.
    QString inWindow(int offset, QAccessible::TextBoundaryType type, int* startOffset, int* endOffset,
                     Finder find) const
    {
        const qint64 count = log().characterCount();
        if (type == QAccessible::NoBoundary) {
            *startOffset = 0;
            *endOffset = static_cast<int>(count);
            return log().text(0, count);
        }
        if (offset == -1)
            offset = static_cast<int>(count);
        if (offset == -2)
            offset = cursorPosition();
        if (offset < 0 || offset > count || count == 0) {
            *startOffset = *endOffset = -1;
            return {};
        }
        const int line = log().lineAt(offset);
        const qint64 from = log().lineStart(std::max(0, line - 1));
        const qint64 to = line + 2 < log().lineCount() ? log().lineStart(line + 2) : count;
        const TextWindow window(log().text(from, to));
        const QString found = (window.*find)(static_cast<int>(offset - from), type, startOffset, endOffset);
        if (*startOffset >= 0)
            *startOffset += static_cast<int>(from);
        if (*endOffset >= 0)
            *endOffset += static_cast<int>(from);
        return found;
    }
};

namespace {

QAccessibleInterface* accessibleChatView(const QString& className, QObject* object)
{
    if (className == QLatin1String("RichTextView") && object && object->isWidgetType())
        return new RichTextViewAccessible(static_cast<RichTextView*>(object));
    return nullptr;
}

} // namespace

// ------------------------------------------------------------------ view

RichTextView::RichTextView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , log_(kMaxLines, kMaxCharacters)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleChatView);
        return true;
    }();
    Q_UNUSED(installed);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    // The pointer shows a hand over a web address.
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(1);
}

RichTextView::~RichTextView() = default;

void RichTextView::setLimits(int maxLines, qint64 maxCharacters)
{
    log_.setLimits(maxLines, maxCharacters);
    contentChanged();
}

void RichTextView::appendText(const QString& text, std::optional<QColor> colour)
{
    if (colour)
        current_ = *colour;
    // The line written to is laid out anew with what it gains.
    layouts_.erase(log_.openSerial());
    log_.append(text, current_);
    if (batchDepth_ == 0)
        contentChanged();
}

void RichTextView::beginAppends()
{
    ++batchDepth_;
}

void RichTextView::endAppends()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    contentChanged();
}

void RichTextView::clear()
{
    log_.clear();
    layouts_.clear();
    anchor_ = caret_ = log_.origin();
    caretPlaced_ = false;
    following_ = true;
    contentChanged();
}

QString RichTextView::toPlainText() const
{
    return log_.text(0, log_.characterCount());
}

// Lays out and scrolls once per pass of the event loop, however many lines
// and blocks came in meanwhile.
void RichTextView::contentChanged()
{
    if (refreshPending_)
        return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(this, &RichTextView::refresh, Qt::QueuedConnection);
}

void RichTextView::refresh()
{
    refreshPending_ = false;
    const int maxTop = bottomTop();
    if (!following_ && topLine() >= maxTop)
        following_ = true;
    QScrollBar* bar = verticalScrollBar();
    adjusting_ = true;
    bar->setRange(0, maxTop);
    bar->setPageStep(std::max(1, log_.lineCount() - maxTop));
    bar->setValue(following_ ? maxTop : topLine());
    adjusting_ = false;
    forgetLayouts(bar->value(), bar->value());
    tellScreenReaders();
    viewport()->update();
}

int RichTextView::topLine() const
{
    const qint64 line = topSerial_ - log_.firstSerial();
    return static_cast<int>(std::clamp<qint64>(line, 0, std::max(0, log_.lineCount() - 1)));
}

int RichTextView::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

// The top line that shows the last line at the bottom.
int RichTextView::bottomTop()
{
    const int lines = log_.lineCount();
    const qreal room = viewport()->height() - 2 * kMargin;
    qreal used = 0;
    int line = lines - 1;
    for (; line >= 0; --line) {
        used += heightOf(line);
        if (used > room)
            break;
    }
    return std::clamp(line + 1, 0, std::max(0, lines - 1));
}

QTextLayout& RichTextView::layoutOf(int line)
{
    const qint64 serial = log_.serial(line);
    auto found = layouts_.find(serial);
    if (found != layouts_.end())
        return *found->second;
    auto layout = std::make_unique<QTextLayout>(log_.lineText(line).toString(), font(), viewport());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    QList<QTextLayout::FormatRange> formats;
    for (const ChatRun& run : log_.lineRuns(line)) {
        if (!run.colour.isValid())
            continue;
        QTextLayout::FormatRange range;
        range.start = run.start;
        range.length = run.length;
        range.format.setForeground(run.colour);
        formats.append(range);
    }
    // Web addresses keep their runs' colours and gain an underline.
    for (const TextLink& link : findLinks(layout->text())) {
        QTextLayout::FormatRange range;
        range.start = static_cast<int>(link.start);
        range.length = static_cast<int>(link.length);
        range.format.setFontUnderline(true);
        formats.append(range);
    }
    layout->setFormats(formats);
    layout->setCacheEnabled(true);
    const qreal width = std::max(16, viewport()->width() - 2 * kMargin);
    qreal height = 0;
    layout->beginLayout();
    for (QTextLine textLine = layout->createLine(); textLine.isValid(); textLine = layout->createLine()) {
        textLine.setLeadingIncluded(true);
        textLine.setLineWidth(width);
        textLine.setPosition(QPointF(0, height));
        height += textLine.height();
    }
    layout->endLayout();
    return *layouts_.emplace(serial, std::move(layout)).first->second;
}

qreal RichTextView::heightOf(int line)
{
    const QTextLayout& layout = layoutOf(line);
    const int lines = layout.lineCount();
    if (lines == 0)
        return 0;
    const QTextLine last = layout.lineAt(lines - 1);
    return last.y() + last.height();
}

std::optional<QRectF> RichTextView::lineRect(int line)
{
    const int top = verticalScrollBar()->value();
    if (line < top || line >= log_.lineCount())
        return std::nullopt;
    qreal y = kMargin;
    for (int i = top; i < line; ++i) {
        y += heightOf(i);
        if (y >= viewport()->height())
            return std::nullopt;
    }
    return QRectF(kMargin, y, viewport()->width() - 2 * kMargin, heightOf(line));
}

void RichTextView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const int lines = log_.lineCount();
    const int top = std::min(verticalScrollBar()->value(), std::max(0, lines - 1));
    const qint64 origin = log_.origin();
    const qint64 selectionStart = std::min(anchor_, caret_) - origin;
    const qint64 selectionEnd = std::max(anchor_, caret_) - origin;
    QTextCharFormat selectedFormat;
    selectedFormat.setBackground(palette().brush(QPalette::Highlight));
    selectedFormat.setForeground(palette().brush(QPalette::HighlightedText));
    qreal y = kMargin;
    int line = top;
    for (; line < lines && y < viewport()->height(); ++line) {
        QTextLayout& layout = layoutOf(line);
        QList<QTextLayout::FormatRange> selection;
        const qint64 start = log_.lineStart(line);
        const qint64 from = std::max(selectionStart, start) - start;
        const qint64 to = std::min(selectionEnd, start + layout.text().size()) - start;
        if (to > from)
            selection.append({static_cast<int>(from), static_cast<int>(to - from), selectedFormat});
        layout.draw(&painter, QPointF(kMargin, y), selection);
        y += heightOf(line);
    }
    painter.end();
    forgetLayouts(top, line);
    paintFocusFrame(this, viewport());
}

// Keeps the lines around those on screen laid out, and the ones at the end
// for the next lines to come; nothing else, whether the view is painted or
// not.
void RichTextView::forgetLayouts(int top, int bottom)
{
    const qint64 keepFrom = log_.serial(top) - 64;
    const qint64 keepTo = log_.serial(bottom) + 64;
    const qint64 endFrom = log_.serial(std::max(0, log_.lineCount() - 1)) - 128;
    for (auto it = layouts_.begin(); it != layouts_.end();) {
        const bool keep = (it->first >= keepFrom && it->first <= keepTo) || it->first >= endFrom;
        it = keep ? std::next(it) : layouts_.erase(it);
    }
}

void RichTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    layouts_.clear();
    refresh();
}

void RichTextView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void RichTextView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void RichTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        layouts_.clear();
        refresh();
    }
}

// The user scrolled: at the end the view follows new lines, anywhere else
// it stays on the line now at the top.
void RichTextView::scrollContentsBy(int, int)
{
    if (!adjusting_) {
        const QScrollBar* bar = verticalScrollBar();
        following_ = bar->value() >= bar->maximum();
        topSerial_ = log_.firstSerial() + bar->value();
    }
    viewport()->update();
}

void RichTextView::scrollToLine(int line)
{
    following_ = false;
    topSerial_ = log_.serial(line);
    refresh();
}

qint64 RichTextView::offsetAt(QPoint point)
{
    const int lines = log_.lineCount();
    if (lines == 0)
        return 0;
    int line = std::min(verticalScrollBar()->value(), lines - 1);
    if (point.y() < kMargin)
        return log_.lineStart(line);
    qreal y = kMargin;
    for (; line < lines; ++line) {
        const qreal height = heightOf(line);
        if (point.y() < y + height || line == lines - 1 || y + height >= viewport()->height()) {
            const QTextLayout& layout = layoutOf(line);
            const qreal inside = point.y() - y;
            for (int i = 0; i < layout.lineCount(); ++i) {
                const QTextLine textLine = layout.lineAt(i);
                if (inside < textLine.y() + textLine.height() || i == layout.lineCount() - 1)
                    return log_.lineStart(line) + textLine.xToCursor(point.x() - kMargin);
            }
            return log_.lineStart(line);
        }
        y += height;
    }
    return log_.characterCount();
}

std::optional<RichTextView::LinkHit> RichTextView::linkAt(QPoint point)
{
    const int lines = log_.lineCount();
    qreal y = kMargin;
    for (int line = verticalScrollBar()->value(); line < lines && y < viewport()->height(); ++line) {
        const qreal height = heightOf(line);
        if (point.y() < y)
            return std::nullopt;
        if (point.y() >= y + height) {
            y += height;
            continue;
        }
        const QTextLayout& layout = layoutOf(line);
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine textLine = layout.lineAt(i);
            if (!textLine.naturalTextRect().translated(kMargin, y).contains(point))
                continue;
            const int at = textLine.xToCursor(point.x() - kMargin, QTextLine::CursorOnCharacter);
            for (const TextLink& link : findLinks(log_.lineText(line))) {
                if (at >= link.start && at < link.start + link.length)
                    return LinkHit{log_.serial(line), link};
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

void RichTextView::setSelection(qint64 anchor, qint64 caret)
{
    anchor_ = anchor;
    caret_ = caret;
    viewport()->update();
    if (!QAccessible::isActive())
        return;
    const qint64 origin = log_.origin();
    QAccessibleTextSelectionEvent event(this, static_cast<int>(std::min(anchor, caret) - origin),
                                        static_cast<int>(std::max(anchor, caret) - origin));
    event.setCursorPosition(static_cast<int>(caret - origin));
    QAccessible::updateAccessibility(&event);
}

QString RichTextView::selectedText() const
{
    const qint64 origin = log_.origin();
    return log_.text(std::min(anchor_, caret_) - origin, std::max(anchor_, caret_) - origin);
}

void RichTextView::selectAll()
{
    caretPlaced_ = true;
    setSelection(log_.origin(), log_.origin() + log_.characterCount());
}

void RichTextView::copy() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void RichTextView::keyPressEvent(QKeyEvent* event)
{
    QScrollBar* bar = verticalScrollBar();
    if (event == QKeySequence::Copy)
        copy();
    else if (event == QKeySequence::SelectAll)
        selectAll();
    else if (event == QKeySequence::MoveToStartOfDocument)
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
    else if (event == QKeySequence::MoveToEndOfDocument)
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
    else
        return QAbstractScrollArea::keyPressEvent(event);
    event->accept();
}

void RichTextView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const qint64 offset = offsetAt(event->position().toPoint());
    const qint64 at = log_.origin() + offset;
    caretPlaced_ = true;
    pressedLink_.reset();
    if (event->modifiers() == Qt::NoModifier)
        pressedLink_ = linkAt(event->position().toPoint());
    // A third click soon after a double-click takes the whole line.
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    if (sinceDoubleClick_.isValid() && sinceDoubleClick_.elapsed() < interval) {
        sinceDoubleClick_.invalidate();
        const int line = log_.lineAt(offset);
        const qint64 start = log_.origin() + log_.lineStart(line);
        setSelection(start, start + log_.lineText(line).size());
        return;
    }
    selecting_ = true;
    setSelection(event->modifiers() & Qt::ShiftModifier ? anchor_ : at, at);
}

void RichTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (!selecting_ || !(event->buttons() & Qt::LeftButton)) {
        viewport()->setCursor(linkAt(event->position().toPoint()) ? Qt::PointingHandCursor : Qt::IBeamCursor);
        return;
    }
    // Dragging past the top or bottom edge scrolls on.
    QPoint point = event->position().toPoint();
    QScrollBar* bar = verticalScrollBar();
    if (point.y() < 0)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() > viewport()->height())
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    point.setY(std::clamp(point.y(), 0, viewport()->height()));
    setSelection(anchor_, log_.origin() + offsetAt(point));
}

void RichTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    selecting_ = false;
    // A click on a web address, not a drag that selects it, opens it.
    const std::optional<LinkHit> pressed = std::exchange(pressedLink_, std::nullopt);
    if (pressed && anchor_ == caret_) {
        const std::optional<LinkHit> released = linkAt(event->position().toPoint());
        if (released && released->serial == pressed->serial && released->link.start == pressed->link.start)
            openLink(released->link.url);
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && anchor_ != caret_)
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void RichTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    pressedLink_.reset();
    const qint64 at = offsetAt(event->position().toPoint());
    const int line = log_.lineAt(at);
    const QStringView text = log_.lineText(line);
    const qint64 lineStart = log_.lineStart(line);
    const auto inWord = [](QChar c) { return c.isLetterOrNumber() || c.isMark() || c == u'_'; };
    qint64 start = std::clamp<qint64>(at - lineStart, 0, text.size());
    qint64 end = start;
    while (start > 0 && inWord(text[start - 1]))
        --start;
    while (end < text.size() && inWord(text[end]))
        ++end;
    caretPlaced_ = true;
    sinceDoubleClick_.start();
    setSelection(log_.origin() + lineStart + start, log_.origin() + lineStart + end);
}

void RichTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(QStringLiteral("&Copy"), this, &RichTextView::copy);
    copyAction->setEnabled(anchor_ != caret_);
    copyAction->setShortcut(QKeySequence::Copy);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Select All"), this, &RichTextView::selectAll)->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}

// Screen readers, while one listens, hear of the lines that went and came
// since they last heard, once per pass of the event loop. The text gone is
// gone: they hear how much of it.
void RichTextView::tellScreenReaders()
{
    const qint64 from = log_.origin();
    const qint64 to = from + log_.characterCount();
    if (!QAccessible::isActive()) {
        toldFrom_ = from;
        toldTo_ = to;
        return;
    }
    const qint64 goneTo = std::min(from, toldTo_);
    if (goneTo > toldFrom_) {
        QAccessibleTextRemoveEvent removed(this, 0, QString(static_cast<qsizetype>(goneTo - toldFrom_), u' '));
        QAccessible::updateAccessibility(&removed);
    }
    const qint64 newFrom = std::max(from, toldTo_);
    if (to > newFrom) {
        QAccessibleTextInsertEvent inserted(this, static_cast<int>(newFrom - from),
                                            log_.text(newFrom - from, to - from));
        QAccessible::updateAccessibility(&inserted);
    }
    toldFrom_ = from;
    toldTo_ = to;
}

// ------------------------------------------------------------- info view

InfoView::InfoView(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
}

void InfoView::paintEvent(QPaintEvent* event)
{
    QPlainTextEdit::paintEvent(event);
    paintFocusFrame(this, viewport());
}

void InfoView::focusInEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusInEvent(event);
    viewport()->update();
}

void InfoView::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    viewport()->update();
}

void InfoView::setLimits(int maxLines, int maxCharacters)
{
    maxLines_ = maxLines;
    maxCharacters_ = maxCharacters;
    trim();
}

void InfoView::appendLines(const QStringList& lines, const QList<QColor>& colours)
{
    if (lines.isEmpty())
        return;
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const QTextBlock top = firstVisibleBlock();
    const int topBlock = top.blockNumber();
    const int intoTop = bar->value() - top.firstLineNumber();

    QTextCursor end(document());
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    // Lines of one colour go in together.
    QString text;
    QColor colour;
    const auto insert = [&] {
        QTextCharFormat format;
        if (colour.isValid())
            format.setForeground(colour);
        end.insertText(text, format);
        text.clear();
    };
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QColor lineColour = colours.value(n);
        if (lineColour != colour && !text.isEmpty())
            insert();
        colour = lineColour;
        if (n > 0 || !document()->isEmpty())
            text += u'\n';
        const qsizetype start = text.size();
        text += lines.at(n);
        for (qsizetype i = start; i < text.size(); ++i) {
            if (breaksLine(text.at(i).unicode()))
                text[i] = u' ';
        }
    }
    insert();
    end.endEditBlock();
    const int gone = trim();

    if (atEnd) {
        bar->setValue(bar->maximum());
    } else if (topBlock < gone) {
        bar->setValue(0);
    } else {
        // The same line stays at the top, though the lines above it went.
        bar->setValue(document()->findBlockByNumber(topBlock - gone).firstLineNumber() + intoTop);
    }
}

int InfoView::trim()
{
    QTextDocument* doc = document();
    int gone = 0;
    int characters = doc->characterCount();
    QTextBlock block = doc->firstBlock();
    while (block.next().isValid() && (doc->blockCount() - gone > maxLines_ || characters > maxCharacters_)) {
        characters -= block.length();
        block = block.next();
        ++gone;
    }
    if (gone == 0)
        return 0;
    QTextCursor cursor(doc);
    cursor.setPosition(block.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    return gone;
}
