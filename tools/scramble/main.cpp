// Prints the scrambled form of each argument, ready to paste into
// encryption/texts.h.
#include "encryption/encryption.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        err << "usage: tavimere-scramble TEXT...\n";
        return 2;
    }
    int status = 0;
    for (const QString& plain : args) {
        const auto stored = scrambleText(plain);
        if (!stored) {
            err << "cannot scramble (a character has no group): " << plain << '\n';
            status = 1;
            continue;
        }
        QString literal = *stored;
        literal.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
        out << '"' << literal << "\"\n";
    }
    return status;
}
