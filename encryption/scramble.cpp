#include "encryption/scramble.h"

#include "encryption/texts.h"

#include <QHash>
#include <QVector>
#include <utility>

namespace {

struct Entry {
    QString key;
    QChar value;
};

QString piece(const char* text)
{
    return QString::fromLatin1(text);
}

// Searched in this order; the first equal key wins. A few keys are put
// together from pieces and one value from its character code, so that the
// table does not stand in the program as one readable block.
const QVector<Entry>& table()
{
    static const QVector<Entry> entries = {
        {QStringLiteral("uRm"), QChar(u'l')},
        {QStringLiteral("LUc"), QChar(u'q')},
        {QStringLiteral("vW9"), QChar(u'g')},
        {QStringLiteral("tdP"), QChar(u'~')},
        {QStringLiteral("EjS"), QChar(u'R')},
        {QStringLiteral("XED"), QChar(u'*')},
        {QStringLiteral("qkp"), QChar(u'J')},
        {QStringLiteral("Ult"), QChar(u'/')},
        {QStringLiteral("dT4"), QChar(u'{')},
        {QStringLiteral("RIa"), QChar(u'@')},
        {QStringLiteral("5b5"), QChar(u'T')},
        {QStringLiteral("y9O"), QChar(u'Q')},
        {QStringLiteral("LBL"), QChar(u'1')},
        {QStringLiteral("wff"), QChar(u'r')},
        {QStringLiteral("Etz"), QChar(u'Z')},
        {QStringLiteral("Hhi"), QChar(u'd')},
        {QStringLiteral("kSx"), QChar(u'H')},
        {piece("S") + piece("FC"), QChar(u'e')},
        {QStringLiteral("WGP"), QChar(u'h')},
        {QStringLiteral("II8"), QChar(u'L')},
        {QStringLiteral("Ecx"), QChar(u'.')},
        {QStringLiteral("YRv"), QChar(u':')},
        {QStringLiteral("5gq"), QChar(u'z')},
        {QStringLiteral("7q8"), QChar(u'm')},
        {QStringLiteral("vdv"), QChar(u'F')},
        {QStringLiteral("Qk4"), QChar(u'\'')},
        {QStringLiteral("zJr"), QChar(u'K')},
        {QStringLiteral("BuU"), QChar(u'<')},
        {QStringLiteral("ItV"), QChar(u',')},
        {QStringLiteral("1uK"), QChar(u'>')},
        {QStringLiteral("c6l"), QChar(u'(')},
        {QStringLiteral("hm3"), QChar(u'%')},
        {QStringLiteral("7aU"), QChar(u'8')},
        {QStringLiteral("Vos"), QChar(u'n')},
        {QStringLiteral("hKT"), QChar(u'[')},
        {QStringLiteral("59m"), QChar(u's')},
        {QStringLiteral("qcR"), QChar(u'_')},
        {QStringLiteral("Jad"), QChar(u'D')},
        {QStringLiteral("Hnc"), QChar(u'#')},
        {QStringLiteral("zc9"), QChar(u'v')},
        {QStringLiteral("VNu"), QChar(u'2')},
        {QStringLiteral("KHL"), QChar(u'U')},
        {QStringLiteral("F2s"), QChar(u'-')},
        {QStringLiteral("Vym"), QChar(u'Y')},
        {QStringLiteral("Ci1"), QChar(u'!')},
        {QStringLiteral("OLl"), QChar(u'B')},
        {QStringLiteral("qOk"), QChar(u'w')},
        {QStringLiteral("YUD"), QChar(u'O')},
        {QStringLiteral("rXU"), QChar(34)},
        {QStringLiteral("QNE"), QChar(u'=')},
        {QStringLiteral("uDn"), QChar(u';')},
        {QStringLiteral("NmK"), QChar(u'c')},
        {piece("g") + piece("Kr"), QChar(u' ')},
        {QStringLiteral("9Pg"), QChar(u'a')},
        {QStringLiteral("2fl"), QChar(u'G')},
        {QStringLiteral("rk6"), QChar(u']')},
        {QStringLiteral("7oZ"), QChar(u')')},
        {QStringLiteral("A1H"), QChar(u'N')},
        {QStringLiteral("ppn"), QChar(u'&')},
        {QStringLiteral("BKr"), QChar(u'k')},
        {QStringLiteral("MBx"), QChar(u'f')},
        {QStringLiteral("JzM"), QChar(u'X')},
        {QStringLiteral("ibM"), QChar(u'p')},
        {QStringLiteral("eWX"), QChar(u'C')},
        {QStringLiteral("tX0"), QChar(u'o')},
        {QStringLiteral("kzv"), QChar(u'A')},
        {QStringLiteral("qJD"), QChar(u'0')},
        {QStringLiteral("6UH"), QChar(u'S')},
        {QStringLiteral("Omh"), QChar(u'$')},
        {QStringLiteral("J3X"), QChar(u'i')},
        {QStringLiteral("JWZ"), QChar(u'V')},
        {QStringLiteral("wOF"), QChar(u'M')},
        {QStringLiteral("RjA"), QChar(u'y')},
        {QStringLiteral("F2K"), QChar(u'4')},
        {QStringLiteral("KeH"), QChar(u'b')},
        {QStringLiteral("PA8"), QChar(u'6')},
        {QStringLiteral("TfJ"), QChar(u'9')},
        {piece("rg") + QChar(u'B'), QChar(u't')},
        {QStringLiteral("J0M"), QChar(u'3')},
        {QStringLiteral("Ah3"), QChar(u'I')},
        {QStringLiteral("3cm"), QChar(u'j')},
        {QStringLiteral("12Z"), QChar(u'}')},
        {QStringLiteral("RpU"), QChar(u'7')},
        {QStringLiteral("hNe"), QChar(u'+')},
        {QStringLiteral("UoK"), QChar(u'x')},
        {QStringLiteral("slg"), QChar(u'E')},
        {QStringLiteral("BaQ"), QChar(u'5')},
        {QStringLiteral("w5a"), QChar(u'?')},
        {QStringLiteral("Cdy"), QChar(u'\\')},
        {QStringLiteral("eXB"), QChar(u'P')},
        {QStringLiteral("BMJ"), QChar(u'u')},
        {QStringLiteral("gAd"), QChar(u'W')},
        {QStringLiteral("1\"k"), QChar(u'A')},
    };
    return entries;
}

} // namespace

QString unscrambleGroups(QString& text, const BetweenGroups& betweenGroups)
{
    QString result;
    const int length = static_cast<int>(text.size());
    for (int p = 0; p < length; p += 3) {
        if (betweenGroups)
            betweenGroups();
        const QString group = text.mid(p, 3);
        QString piece = group;
        for (const Entry& entry : table()) {
            if (entry.key == group) {
                piece = entry.value;
                break;
            }
        }
        result += piece;
        if (betweenGroups)
            betweenGroups();
    }
    text = result;
    return result;
}

namespace {
// Keyed by the scrambled text's characters, not by its address: each file
// that names a stored text may hold its own copy of the literal (a
// sanitizer build, for one, does not merge them), and an address key finds
// nothing for such a copy.
QHash<QByteArray, QString>& plainTexts()
{
    static QHash<QByteArray, QString> texts;
    return texts;
}
} // namespace

void turnBackStoredTexts(const BetweenGroups& betweenGroups)
{
    QHash<QByteArray, QString>& texts = plainTexts();
    if (!texts.isEmpty())
        return;
    QHash<QByteArray, QString> turnedBack;
    for (const scrambled::StoredText& stored : scrambled::kAll) {
        QString text = QString::fromLatin1(stored.prefix) + QString::fromLatin1(stored.scrambled);
        turnedBack.insert(QByteArray(stored.scrambled), unscrambleGroups(text, betweenGroups));
    }
    texts = std::move(turnedBack);
}

const QString& plainText(const char* stored)
{
    static const QString missing;
    if (!stored)
        return missing;
    const QHash<QByteArray, QString>& texts = plainTexts();
    const auto it = texts.constFind(QByteArray::fromRawData(stored, qstrlen(stored)));
    return it == texts.constEnd() ? missing : it.value();
}

std::optional<QString> scrambleText(const QString& plain)
{
    QString out;
    for (const QChar c : plain) {
        const Entry* found = nullptr;
        for (const Entry& entry : table()) {
            if (entry.value == c && !entry.key.startsWith(QStringLiteral("1\""))) {
                found = &entry;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        out += found->key;
    }
    return out;
}
