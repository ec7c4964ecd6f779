// The settings store as the program finds it on disk: values that are
// corrupt, of the wrong type or out of range give the defaults, and a store
// that cannot be written does not disturb the end of the program.

#include "app/forms.h"
#include "login/login.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

QString storePath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavimere1.3")).fileName();
}

// Replaces the whole store file by the bytes.
bool writeStore(const QByteArray& bytes)
{
    QDir().rmdir(storePath());
    QFile file(storePath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

struct Loaded {
    QString name;
    int flag;
    qint16 filter;
    qint16 notify;
    qint32 width;
    qint32 height;
    qint32 state;
};

Loaded load()
{
    login().ensureLoaded();
    return {login().userTxt->text(), login().flagBox->selectedIndex(), login().getFilterValue(),
            login().getNotifyValue(), login().getchX(), login().getchY(), login().getchS()};
}

const Loaded kDefaults{QStringLiteral("Username"), 1, 1, 1, 10635, 8835, 0};

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void corruptValuesGiveDefaults_data();
    void corruptValuesGiveDefaults();
    void unwritableStoreAtExit_data();
    void unwritableStoreAtExit();
};

void TestSettingsStore::init()
{
    useFreshSettings();
}

void TestSettingsStore::cleanup()
{
    QDir(storePath()).removeRecursively();
    QFile::remove(storePath());
}

void TestSettingsStore::corruptValuesGiveDefaults_data()
{
    QTest::addColumn<QByteArray>("store");

    static const char binary[] = "\x7f" "ELF\x02\x01\x01\0\0\0\xff\xfe[[[=\n=\n";
    static const char nuls[] = "[General]\nFlag=1\0" "2\nProfanityFilter=0\0x\nChannelS=2\0\n";
    const QList<std::pair<const char*, QByteArray>> rows = {
        {"empty file", ""},
        {"not a settings file", QByteArray(binary, sizeof binary - 1)},
        {"keys without values", "[General]\nUsername\nFlag\nProfanityFilter\nUserNotify\nChannelX\nChannelY\nChannelS\n"},
        {"empty values", "[General]\nFlag=\nProfanityFilter=\nUserNotify=\nChannelX=\nChannelY=\nChannelS=\n"},
        {"words", "[General]\nFlag=seven\nProfanityFilter=yes\nUserNotify=on\nChannelX=wide\nChannelY=tall\nChannelS=max\n"},
        {"numbers with junk", "[General]\nFlag=7x\nProfanityFilter=1.5\nUserNotify=0x1\nChannelX=12e3\nChannelY=9 9\n"
                              "ChannelS=--2\n"},
        {"lists", "[General]\nUsername=Ann, Bob\nFlag=1, 2\nProfanityFilter=0, 0\nUserNotify=0, 1\nChannelX=1, 2\n"
                  "ChannelY=3, 4\nChannelS=2, 2\n"},
        {"typed values", "[General]\nUsername=@Invalid()\nFlag=@ByteArray(\\xff\\0)\nProfanityFilter=@Variant(\\0\\0\\0\\x7f)\n"
                         "UserNotify=@Rect(1 2 3 4)\nChannelX=@Size(1 2)\nChannelY=@Point(1 2)\nChannelS=@Invalid()\n"},
        {"beyond their sizes", "[General]\nFlag=99999\nProfanityFilter=40000\nUserNotify=-40000\nChannelX=99999999999\n"
                               "ChannelY=-99999999999\nChannelS=4294967296\n"},
        {"flag past the pictures", "[General]\nFlag=52\n"},
        {"negative flag", "[General]\nFlag=-1\n"},
        {"a mebibyte of digits", "[General]\nFlag=" + QByteArray(1024 * 1024, '7') + "\nChannelX=" + QByteArray(1024 * 1024, '1')
                                     + "\n"},
        {"NUL inside numbers", QByteArray(nuls, sizeof nuls - 1)},
    };
    for (const auto& [name, bytes] : rows)
        QTest::newRow(name) << bytes;

    // A check box is on or off; the window is normal, minimised or
    // maximised; a size is positive.
    QTest::newRow("flag zero") << QByteArray("[General]\nFlag=0\n");
    QTest::newRow("filter 5") << QByteArray("[General]\nProfanityFilter=5\n");
    QTest::newRow("notify -1") << QByteArray("[General]\nUserNotify=-1\n");
    QTest::newRow("width negative") << QByteArray("[General]\nChannelX=-10635\n");
    QTest::newRow("height zero") << QByteArray("[General]\nChannelY=0\n");
    QTest::newRow("state 7") << QByteArray("[General]\nChannelS=7\n");
}

void TestSettingsStore::corruptValuesGiveDefaults()
{
    QFETCH(QByteArray, store);
    QVERIFY(writeStore(store));
    MessageBoxRecorder boxes;
    Forms forms;
    const Loaded loaded = load();
    QCOMPARE(loaded.name, kDefaults.name);
    QCOMPARE(loaded.flag, kDefaults.flag);
    QCOMPARE(loaded.filter, kDefaults.filter);
    QCOMPARE(loaded.notify, kDefaults.notify);
    QCOMPARE(loaded.width, kDefaults.width);
    QCOMPARE(loaded.height, kDefaults.height);
    QCOMPARE(loaded.state, kDefaults.state);
    QVERIFY(boxes.boxes.isEmpty());
}

void TestSettingsStore::unwritableStoreAtExit_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Exit button") << false;
    QTest::newRow("close box") << true;
}

// The store's file is a folder: nothing can be read or written there. The
// program starts with the defaults and ends as it always does, silently.
void TestSettingsStore::unwritableStoreAtExit()
{
    QFETCH(bool, closeBox);
    QFile::remove(storePath());
    QVERIFY(QDir().mkpath(storePath()));
    MessageBoxRecorder boxes;
    Forms forms;
    QCOMPARE(load().name, kDefaults.name);
    login().show();
    QSignalSpy ended(&login(), &Login::programEnded);
    login().userTxt->setText(QStringLiteral("Marlow"));
    if (closeBox)
        login().close();
    else
        login().Command3->click();
    QCOMPARE(ended.count(), 1);
    QVERIFY(boxes.boxes.isEmpty());
    QVERIFY(QFileInfo(storePath()).isDir());
}

QTEST_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
