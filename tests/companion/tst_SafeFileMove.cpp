// Moving one file: the destination is complete before the source goes, and a failed write leaves
// the source in place and nothing partial behind. Every case runs with a rename within the file
// system and with the copy that moves between file systems take.
#include "companion/SafeFileMove.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/resource.h>
#endif

using namespace qr;

Q_DECLARE_METATYPE(qr::SafeFileMove::Method)

namespace {

QByteArray pattern(int size, char seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>(seed + i * 31 + (i >> 8));
    return b;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

void addMethodColumn()
{
    QTest::addColumn<SafeFileMove::Method>("method");
}

} // namespace

class TestSafeFileMove : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void moves_data()
    {
        addMethodColumn();
        QTest::addColumn<bool>("replacing");
        QTest::addColumn<int>("size");
        for (const auto& [method, label] : {std::pair{SafeFileMove::Method::RenameWhenPossible, "rename"},
                                            std::pair{SafeFileMove::Method::CopyThenRemove, "copy"}}) {
            QTest::addRow("%s, new", label) << method << false << 3000;
            QTest::addRow("%s, replacing", label) << method << true << 3000;
            QTest::addRow("%s, empty file", label) << method << false << 0;
            // Larger than one copy chunk.
            QTest::addRow("%s, 2.5 MiB", label) << method << true << (5 << 19);
        }
    }
    void moves()
    {
        QFETCH(SafeFileMove::Method, method);
        QFETCH(bool, replacing);
        QFETCH(int, size);
        QTemporaryDir root;
        const QString from = root.path() + "/from";
        const QString to = root.path() + "/to";
        QVERIFY(QDir().mkdir(from) && QDir().mkdir(to));
        const QByteArray data = pattern(size, 'a');
        QVERIFY(writeFile(from + "/clip.mp4", data));
        if (replacing)
            QVERIFY(writeFile(to + "/clip.mp4", pattern(size / 2 + 7, 'z')));

        QVERIFY(SafeFileMove::moveFile(from + "/clip.mp4", to + "/clip.mp4", method));
        QCOMPARE(readFile(to + "/clip.mp4"), data);
        QVERIFY(entries(from).isEmpty());
        QCOMPARE(entries(to), QStringList{"clip.mp4"});
    }

    // Writes that cannot happen. Tests run as root, for whom a read-only folder is still writable,
    // so the destination is made unwritable by its shape instead: a folder where the file should
    // go, a file where its folder should be, a missing folder, or a link that must not be followed.
    void unwritableDestination_data()
    {
        addMethodColumn();
        QTest::addColumn<QString>("kind");
        for (const auto& [method, label] : {std::pair{SafeFileMove::Method::RenameWhenPossible, "rename"},
                                            std::pair{SafeFileMove::Method::CopyThenRemove, "copy"}}) {
            for (const char* kind :
                 {"folder at target", "file as folder", "missing folder", "link at target"})
                QTest::addRow("%s, %s", label, kind) << method << QString(kind);
        }
    }
    void unwritableDestination()
    {
        QFETCH(SafeFileMove::Method, method);
        QFETCH(QString, kind);
        QTemporaryDir root;
        const QString from = root.path() + "/Downloads";
        QVERIFY(QDir().mkdir(from));
        const QByteArray data = pattern(5000, 'k');
        QVERIFY(writeFile(from + "/a.krox", data));
        const QByteArray elsewhere = "elsewhere";
        QVERIFY(writeFile(root.path() + "/other", elsewhere));

        QString to = root.path() + "/Rx";
        if (kind == "folder at target") {
            QVERIFY(QDir().mkpath(to + "/a.krox/inner"));
        } else if (kind == "file as folder") {
            QVERIFY(writeFile(to, "not a folder"));
        } else if (kind == "link at target") {
            QVERIFY(QDir().mkdir(to));
            QVERIFY(QFile::link(root.path() + "/other", to + "/a.krox"));
        } else {
            to = root.path() + "/missing";
        }
        const QStringList rootBefore = entries(root.path());
        const QStringList toBefore = entries(to);

        QVERIFY(!SafeFileMove::moveFile(from + "/a.krox", to + "/a.krox", method));
        QCOMPARE(readFile(from + "/a.krox"), data);
        QCOMPARE(entries(from), QStringList{"a.krox"});
        QCOMPARE(entries(root.path()), rootBefore);
        QCOMPARE(entries(to), toBefore);
        QCOMPARE(readFile(root.path() + "/other"), elsewhere);
        if (kind == "file as folder")
            QCOMPARE(readFile(to), QByteArray("not a folder"));
        if (kind == "link at target")
            QVERIFY(QFileInfo(to + "/a.krox").isSymLink());
    }

#if defined(Q_OS_UNIX)
    // A write that fails half-way (the file-size limit stands in for a full disk, and binds root
    // too): the replaced file and the source are untouched and no partial file is left.
    void writeFailingHalfWay()
    {
        QTemporaryDir root;
        const QString from = root.path() + "/Tx";
        const QString to = root.path() + "/Downloads";
        QVERIFY(QDir().mkdir(from) && QDir().mkdir(to));
        const QByteArray data = pattern(3 << 20, 'v');
        const QByteArray old = pattern(1000, 'o');
        QVERIFY(writeFile(from + "/clip.mp4", data));
        QVERIFY(writeFile(to + "/clip.mp4", old));

        struct rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit limited = saved;
        limited.rlim_cur = 1 << 20;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const bool moved = SafeFileMove::moveFile(from + "/clip.mp4", to + "/clip.mp4",
                                                  SafeFileMove::Method::CopyThenRemove);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!moved);
        QCOMPARE(readFile(from + "/clip.mp4"), data);
        QCOMPARE(readFile(to + "/clip.mp4"), old);
        QCOMPARE(entries(to), QStringList{"clip.mp4"});
        QCOMPARE(entries(from), QStringList{"clip.mp4"});
    }
#endif

    // The destination folder reached through a link to the source folder: the same file.
    void ontoItself_data()
    {
        addMethodColumn();
        QTest::newRow("rename") << SafeFileMove::Method::RenameWhenPossible;
        QTest::newRow("copy") << SafeFileMove::Method::CopyThenRemove;
    }
    void ontoItself()
    {
        QFETCH(SafeFileMove::Method, method);
        QTemporaryDir root;
        const QString dir = root.path() + "/Downloads";
        QVERIFY(QDir().mkdir(dir));
        QVERIFY(QFile::link(dir, root.path() + "/Rx"));
        const QByteArray data = pattern(4000, 's');
        QVERIFY(writeFile(dir + "/a.krox", data));

        QVERIFY(SafeFileMove::moveFile(dir + "/a.krox", root.path() + "/Rx/a.krox", method));
        QCOMPARE(readFile(dir + "/a.krox"), data);
        QCOMPARE(entries(dir), QStringList{"a.krox"});
    }

    // A link in the source folder is not moved: it would carry any file it names into the shared
    // folder. The link and its target stay; nothing arrives.
    void linkedSource_data()
    {
        ontoItself_data();
    }
    void linkedSource()
    {
        QFETCH(SafeFileMove::Method, method);
        QTemporaryDir root;
        const QString from = root.path() + "/Downloads";
        const QString to = root.path() + "/Rx";
        QVERIFY(QDir().mkdir(from) && QDir().mkdir(to));
        const QByteArray data = pattern(2000, 'l');
        QVERIFY(writeFile(root.path() + "/real.krox", data));
        QVERIFY(QFile::link(root.path() + "/real.krox", from + "/a.krox"));

        QString error;
        QVERIFY(!SafeFileMove::moveFile(from + "/a.krox", to + "/a.krox", method, &error));
        QVERIFY2(error.contains(QLatin1String("link")), qPrintable(error));
        QVERIFY(entries(to).isEmpty());
        QVERIFY(QFileInfo(from + "/a.krox").isSymLink());
        QCOMPARE(readFile(root.path() + "/real.krox"), data);
    }

    void nothingToMove_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("missing") << "missing.krox";
        QTest::newRow("folder") << "folder.krox";
        QTest::newRow("dangling link") << "dangling.krox";
        QTest::newRow("empty path") << "";
    }
    void nothingToMove()
    {
        QFETCH(QString, source);
        QTemporaryDir root;
        QVERIFY(QDir().mkdir(root.path() + "/folder.krox"));
        QVERIFY(QFile::link(root.path() + "/gone", root.path() + "/dangling.krox"));
        QVERIFY(QDir().mkdir(root.path() + "/Rx"));
        const QString path = source.isEmpty() ? QString() : root.path() + "/" + source;
        QVERIFY(!SafeFileMove::moveFile(path, root.path() + "/Rx/" + source));
        QVERIFY(entries(root.path() + "/Rx").isEmpty());
        QCOMPARE(entries(root.path()), (QStringList{"Rx", "dangling.krox", "folder.krox"}));
    }
};

QTEST_GUILESS_MAIN(TestSafeFileMove)
#include "tst_SafeFileMove.moc"
