#pragma once

#include "chattext/links.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QString>
#include <QVector>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTextLayout;
class QUrl;

// Opens a web address that the user clicked in the chat view: in the user's
// browser, or wherever a test puts it instead. Only http and https
// addresses ever get here. An empty opener restores the browser.
using LinkOpener = std::function<void(const QUrl&)>;
void setLinkOpener(LinkOpener opener);

// Whether a character would start a new line on screen, though only CR LF
// ends a line of received text.
bool breaksLine(char16_t c);

// A piece of a chat line in one colour; an invalid colour is the view's own
// text colour.
struct ChatRun {
    int start = 0;
    int length = 0;
    QColor colour;
};

// The chat view's text: lines of coloured runs, the newest kept. CR LF ends a
// line; any other line or paragraph break is kept as a blank, so that one
// line always reads as one. Once there are more than maxLines lines, or more
// than maxCharacters characters, the oldest lines go, always whole. Offsets
// count the kept text from its start, each line followed by "\n".
class ChatLog {
public:
    ChatLog(int maxLines, qint64 maxCharacters);

    void setLimits(int maxLines, qint64 maxCharacters);
    void append(QStringView text, const QColor& colour);
    void clear();

    // Lines, the last one possibly still without its CR LF (an empty last
    // line is not counted).
    int lineCount() const;
    QStringView lineText(int line) const;
    QVector<ChatRun> lineRuns(int line) const;
    // A number that stays with a line while older lines go.
    qint64 serial(int line) const { return firstSerial_ + line; }
    qint64 firstSerial() const { return firstSerial_; }
    // The serial of the line appends go into.
    qint64 openSerial() const { return firstSerial_ + static_cast<qint64>(starts_.size()) - 1; }

    qint64 characterCount() const { return end_ - starts_.front(); }
    // Where the kept text starts among all positions ever appended; a
    // position stays with its character while older lines go.
    qint64 origin() const { return starts_.front(); }
    qint64 lineStart(int line) const { return starts_[static_cast<size_t>(line)] - starts_.front(); }
    int lineAt(qint64 offset) const;
    QString text(qint64 start, qint64 end) const;
    // The colour in force at an offset, and the run of it around the offset.
    QColor colourAt(qint64 offset, qint64* runStart, qint64* runEnd) const;

private:
    struct Run {
        qint64 start;
        QColor colour;
    };

    void trim();
    size_t runAt(qint64 position) const;
    QStringView stored(qint64 start, qint64 end) const;

    int maxLines_;
    qint64 maxCharacters_;
    // All text ever appended is counted in one sequence of positions; text_
    // holds the positions from base_ on, the oldest of them no longer kept.
    QString text_;
    qint64 base_ = 0;
    qint64 end_ = 0;
    // Where each kept line starts; the last entry is the line still open.
    std::deque<qint64> starts_{0};
    qint64 firstSerial_ = 0;
    // Colour changes, each in force up to the next.
    std::deque<Run> runs_;
};

// The chat view: text is only ever appended, always as plain text (never as
// markup), each run in one colour. It keeps the newest lines (see ChatLog),
// lays out only the lines on screen, and scrolls a line at a time, so a
// wrapped line scrolls whole. At its end it follows new lines; scrolled away
// from the end, it stays where the user put it, also while old lines go.
// Text can be selected with the mouse and copied, and screen readers read
// its text and colours. Web addresses (http and https) show underlined in
// their text's colour and open in the browser on a click.
class RichTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 100000;
    static constexpr qint64 kMaxCharacters = 16 * 1024 * 1024;

    explicit RichTextView(QWidget* parent = nullptr);
    ~RichTextView() override;

    // Moves to the end and inserts `text`; without a colour the text takes
    // the colour of the text before it. CR LF ends a line.
    void appendText(const QString& text, std::optional<QColor> colour = std::nullopt);
    // A burst of appends, laid out and scrolled once at the next pass of the
    // event loop after its end.
    void beginAppends();
    void endAppends();
    // Empties the view; safe in the middle of a burst.
    void clear();
    void setLimits(int maxLines, qint64 maxCharacters);

    int lineCount() const { return log_.lineCount(); }
    QString lineText(int line) const { return log_.lineText(line).toString(); }
    QVector<ChatRun> lineRuns(int line) const { return log_.lineRuns(line); }
    // Every line followed by "\n", as a screen reader reads the view.
    QString toPlainText() const;

    // Whether the view follows new lines (it is at its end), and the line at
    // its top.
    bool followsEnd() const { return following_; }
    int firstVisibleLine() const;

    QString selectedText() const;
    void selectAll();
    void copy() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class RichTextViewAccessible;

    void contentChanged();
    void refresh();
    QTextLayout& layoutOf(int line);
    void forgetLayouts(int top, int bottom);
    qreal heightOf(int line);
    int topLine() const;
    int bottomTop();
    // The offset under a point of the viewport.
    qint64 offsetAt(QPoint point);
    // The web address under a point of the viewport, and its line's serial.
    struct LinkHit {
        qint64 serial = 0;
        TextLink link;
    };
    std::optional<LinkHit> linkAt(QPoint point);
    std::optional<QRectF> lineRect(int line);
    void setSelection(qint64 anchor, qint64 caret);
    void scrollToLine(int line);
    void tellScreenReaders();

    ChatLog log_;
    QColor current_;
    int batchDepth_ = 0;
    bool refreshPending_ = false;
    bool adjusting_ = false;
    bool following_ = true;
    // The line at the top while the view does not follow, by serial.
    qint64 topSerial_ = 0;
    // Selection ends, as positions of the log (so that they stay on their
    // text while old lines go); equal when nothing is selected. Until the
    // user puts it somewhere, the caret stays at the end.
    qint64 anchor_ = 0;
    qint64 caret_ = 0;
    bool caretPlaced_ = false;
    bool selecting_ = false;
    // The address the mouse went down on: a click that ends on it opens it.
    std::optional<LinkHit> pressedLink_;
    QElapsedTimer sinceDoubleClick_;
    // Laid-out lines by serial, only around what is on screen.
    std::map<qint64, std::unique_ptr<QTextLayout>> layouts_;
    // The positions of the text screen readers last heard of.
    qint64 toldFrom_ = 0;
    qint64 toldTo_ = 0;
};

// The server-data view: lines only ever added at the end, one line each, the
// newest maxLines kept and at most maxCharacters characters, older lines
// going whole. Like the chat view it follows new lines at its end and stays
// where the user scrolled it anywhere else.
class InfoView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kMaxCharacters = 2 * 1024 * 1024;

    explicit InfoView(QWidget* parent = nullptr);

    // Adds each line (line breaks inside it shown as blanks) in one edit and
    // one scroll, each in its colour where one is given.
    void appendLines(const QStringList& lines, const QList<QColor>& colours = {});
    void setLimits(int maxLines, int maxCharacters);

protected:
    // A read-only view has no caret to show that it has the focus.
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Removes the oldest lines past the limits; how many went.
    int trim();

    int maxLines_ = kMaxLines;
    int maxCharacters_ = kMaxCharacters;
};
