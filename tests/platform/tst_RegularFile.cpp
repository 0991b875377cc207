// What a file dropped into the Downloads folder may be, and what may happen to it while it is read:
// only regular files (and links to them) are opened, reads end at the size seen at open, and a file
// that changes or vanishes meanwhile gives an error instead of a hang or a mixed copy.
#include "platform/FileListing.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace qr;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A listening-free Unix socket bound at `path`; the descriptor stays open for the test's life.
bool makeSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (fd < 0 || native.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return false;
    std::memcpy(addr.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    return ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

} // namespace

class TestRegularFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void kinds_data();
    void kinds();
    void changesWhileRead_data();
    void changesWhileRead();
    void replacingFileLeavesNothingOnFailure();
};

// Kind of entry, whether it opens, and whether the listing hands it on as a file.
void TestRegularFile::kinds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("error");
    QTest::newRow("regular file") << "file" << true << "";
    QTest::newRow("link to a regular file") << "link-file" << true << "";
    QTest::newRow("FIFO") << "fifo" << false << "a FIFO";
    QTest::newRow("socket") << "socket" << false << "a socket";
    QTest::newRow("link to /dev/zero") << "link-zero" << false << "a device";
    QTest::newRow("link to /dev/urandom") << "link-urandom" << false << "a device";
    QTest::newRow("folder") << "folder" << false << "a folder";
    QTest::newRow("dangling link") << "link-dangling" << false << "No such file or directory";
    QTest::newRow("missing") << "missing" << false << "No such file or directory";
}

void TestRegularFile::kinds()
{
    QFETCH(QString, kind);
    QFETCH(bool, opens);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath("x.krox");
    QVERIFY(writeFile(dir.filePath("target"), "12345"));
    if (kind == "file")
        QVERIFY(writeFile(path, "12345"));
    else if (kind == "link-file")
        QVERIFY(QFile::link(dir.filePath("target"), path));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "socket")
        QVERIFY(makeSocket(path));
    else if (kind == "link-zero")
        QVERIFY(QFile::link("/dev/zero", path));
    else if (kind == "link-urandom")
        QVERIFY(QFile::link("/dev/urandom", path));
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
    else if (kind == "link-dangling")
        QVERIFY(QFile::link(dir.filePath("gone"), path));

    RegularFile file;
    QCOMPARE(file.open(path), opens);
    QCOMPARE(file.errorString(), error);
    QCOMPARE(RegularFile::isRegular(path), opens);
    const QStringList expected = opens ? QStringList{"target", "x.krox"} : QStringList{"target"};
    QCOMPARE(FileListing::names(dir.path(), FileListing::Entries::RegularFiles), expected);
    QCOMPARE(FileListing::regularFilesBelow(dir.path()), expected);
    if (opens) {
        QByteArray bytes;
        QVERIFY(file.readAll(bytes));
        QCOMPARE(bytes, QByteArray("12345"));
    }
}

void TestRegularFile::changesWhileRead_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("error");
    QTest::newRow("grows") << "grow"
                           << "changed while it was read";
    QTest::newRow("shrinks") << "shrink"
                             << "shorter than when it was opened";
    QTest::newRow("vanishes") << "remove"
                              << "removed while it was read";
    QTest::newRow("rewritten in place") << "rewrite"
                                        << "changed while it was read";
}

void TestRegularFile::changesWhileRead()
{
    QFETCH(QString, change);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath("x.rgb2");
    QVERIFY(writeFile(path, QByteArray(4096, 'a')));
    RegularFile file(path);
    QVERIFY(file.isOpen());
    QCOMPARE(file.size(), 4096);
    QFile other(path);
    if (change == "grow") {
        QVERIFY(other.open(QIODevice::Append));
        QCOMPARE(other.write(QByteArray(4096, 'b')), 4096);
    } else if (change == "shrink") {
        QVERIFY(other.resize(100));
    } else if (change == "remove") {
        QVERIFY(QFile::remove(path));
    } else {
        QVERIFY(other.open(QIODevice::ReadWrite));
        QCOMPARE(other.write("bbbb"), 4);
        // The same size; only the modification time tells.
        QVERIFY(
            other.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    }
    other.close();
    QByteArray bytes;
    QVERIFY(!file.readAll(bytes));
    QCOMPARE(file.errorString(), error);
    QVERIFY(bytes.isEmpty());
    // A read never reaches past the size seen at open, whatever the file holds now.
    std::uint8_t byte = 0;
    QVERIFY(!file.readAt(4096, std::span(&byte, 1)));
}

void TestRegularFile::replacingFileLeavesNothingOnFailure()
{
    QTemporaryDir dir;
    const QString target = dir.filePath("a.jpg");
    QVERIFY(writeFile(target, "old"));
    {
        ReplacingFile out(target);
        QVERIFY(out.ok());
        QVERIFY(out.write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("new"), 3)));
        // Abandoned: destroyed without a commit.
    }
    QCOMPARE(FileListing::names(dir.path(), FileListing::Entries::All), QStringList{"a.jpg"});
    // A folder in the target's place cannot be replaced: the commit fails and says so.
    QVERIFY(QDir().mkpath(dir.filePath("b.jpg")));
    QString error;
    QVERIFY(!writeFileReplacing(dir.filePath("b.jpg"), std::span<const std::uint8_t>(), &error));
    QVERIFY2(error.contains("b.jpg"), qPrintable(error));
    QCOMPARE(FileListing::names(dir.path(), FileListing::Entries::All), (QStringList{"a.jpg", "b.jpg"}));
    QVERIFY(writeFileReplacing(
        target, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("new"), 3)));
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("new"));
}

QTEST_GUILESS_MAIN(TestRegularFile)
#include "tst_RegularFile.moc"
