// The Favorites folder and the sharing programs, without widgets.
#include "ui/FavouritesFolder.h"
#include "ui/SharingPicker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace qr;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A stand-in program that does nothing.
void makeProgram(const QString& dir, const QString& name)
{
    const QString path = dir + "/" + name;
    QVERIFY(writeFile(path, "#!/bin/sh\nexit 0\n"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class TstFavouritesSharing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sortedListing();
    void copy_data();
    void copy();
    void copyKeepsOldFavouriteWhenWriteFails();
    void shareItems();
    void commands_data();
    void commands();
};

void TstFavouritesSharing::sortedListing()
{
    QTemporaryDir dir;
    for (const char* name : {"b.jpg", "B.jpg", "a.jpg", ".hidden"})
        QVERIFY(writeFile(dir.filePath(name), "x"));
    // Plain character order: upper case before lower case, hidden entries included.
    QCOMPARE(FavouritesFolder::sortedListing(dir.path()),
             (QStringList{".hidden", "B.jpg", "a.jpg", "b.jpg"}));
    QVERIFY(FavouritesFolder::sortedListing(dir.filePath("missing")).isEmpty());
    QVERIFY(FavouritesFolder::sortedListing(QString()).isEmpty());
}

void TstFavouritesSharing::copy_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<QString>("favourite"); // file name in Favorites
    QTest::newRow("photo") << "IMG_0001.jpg" << true << "IMG_0001.jpg";
    QTest::newRow("photo in a sub-folder keeps its file name")
        << "sub/IMG_0002.jpg" << true << "IMG_0002.jpg";
    QTest::newRow("missing photo") << "nope.jpg" << false << "";
    QTest::newRow("parent folder") << ".." << false << "";
    QTest::newRow("empty name") << "" << false << "";
}

void TstFavouritesSharing::copy()
{
    QFETCH(QString, name);
    QFETCH(bool, copied);
    QFETCH(QString, favourite);
    QTemporaryDir root;
    const QString src = root.filePath("Downloads");
    const QString fav = root.filePath("Favorites");
    QVERIFY(QDir().mkpath(src + "/sub"));
    QVERIFY(QDir().mkpath(fav));
    QVERIFY(writeFile(src + "/IMG_0001.jpg", "one"));
    QVERIFY(writeFile(src + "/sub/IMG_0002.jpg", "two"));
    QCOMPARE(FavouritesFolder::copyInto(src, name, fav), copied);
    if (copied) {
        QCOMPARE(FavouritesFolder::sortedListing(fav), QStringList{favourite});
        QCOMPARE(readFile(fav + "/" + favourite), readFile(src + "/" + name));
    } else {
        QVERIFY(FavouritesFolder::sortedListing(fav).isEmpty());
    }
}

void TstFavouritesSharing::copyKeepsOldFavouriteWhenWriteFails()
{
    QTemporaryDir root;
    const QString src = root.filePath("Downloads");
    const QString fav = root.filePath("Favorites");
    QVERIFY(QDir().mkpath(src));
    QVERIFY(QDir().mkpath(fav + "/IMG_0001.jpg"));
    QVERIFY(writeFile(src + "/IMG_0001.jpg", "new"));
    QVERIFY(writeFile(fav + "/IMG_0001.jpg/kept.txt", "old"));
    // What stands under the favourite's name cannot be replaced by a file: the copy fails and leaves
    // it as it was, with no partial file beside it.
    QVERIFY(!FavouritesFolder::copyInto(src, "IMG_0001.jpg", fav));
    QCOMPARE(readFile(fav + "/IMG_0001.jpg/kept.txt"), QByteArray("old"));
    QCOMPARE(FavouritesFolder::sortedListing(fav), QStringList{"IMG_0001.jpg"});
    // Nor does a copy into a Favorites folder that is not there create anything.
    QVERIFY(!FavouritesFolder::copyInto(src, "IMG_0001.jpg", root.filePath("gone")));
    QVERIFY(!QFileInfo::exists(root.filePath("gone")));
}

void TstFavouritesSharing::shareItems()
{
    QTemporaryDir fav;
    QVERIFY(FavouritesFolder::shareItems(fav.path()).isEmpty());
    QVERIFY(writeFile(fav.filePath("IMG_0001.jpg"), "1"));
    QVERIFY(writeFile(fav.filePath("IMG_0002.jpg"), "2"));
    QCOMPARE(FavouritesFolder::shareItems(fav.path()),
             QList<QUrl>{QUrl::fromLocalFile(fav.filePath("IMG_0002.jpg"))});
}

void TstFavouritesSharing::commands_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("expected"); // program name and arguments per service, "" when off
    QTest::newRow("nothing installed") << QStringList{} << QStringList{"", "", ""};
    QTest::newRow("everything") << QStringList{"telegram-desktop", "xdg-email", "bluetooth-sendto",
                                               "kdeconnect-handler"}
                                << QStringList{"telegram-desktop -sendpath F", "xdg-email --attach F",
                                               "bluetooth-sendto F"};
    QTest::newRow("nearby falls back to KDE Connect")
        << QStringList{"kdeconnect-handler"} << QStringList{"", "", "kdeconnect-handler F"};
}

void TstFavouritesSharing::commands()
{
    QFETCH(QStringList, installed);
    QFETCH(QStringList, expected);
    QTemporaryDir bin;
    for (const QString& p : installed)
        makeProgram(bin.path(), p);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    const QList<SharingPicker::Service> services = SharingPicker::sharingServices();
    QCOMPARE(services.size(), 3);
    QCOMPARE(services[0].title, QStringLiteral("Messages"));
    QCOMPARE(services[1].title, QStringLiteral("Mail"));
    QCOMPARE(services[2].title, QStringLiteral("Nearby Device"));
    for (int i = 0; i < 3; ++i) {
        QStringList command = SharingPicker::commandFor(services[i], "F");
        if (!command.isEmpty())
            command[0] = QFileInfo(command[0]).fileName();
        QCOMPARE(command.join(' '), expected[i]);
    }
    qputenv("PATH", oldPath);
}

QTEST_GUILESS_MAIN(TstFavouritesSharing)
#include "tst_FavouritesSharing.moc"
