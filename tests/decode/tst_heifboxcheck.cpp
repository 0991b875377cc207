#include "decode/HeifBoxCheck.h"

#include <QTest>

#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
Q_DECLARE_METATYPE(Bytes)

namespace {

void put32(Bytes& b, std::uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(std::uint8_t(v >> s));
}

void put16(Bytes& b, std::uint16_t v)
{
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}

// A box of `type` around `body`; `declared` overrides the size field (0 and 1 as the format means).
Bytes box(const char* type, const Bytes& body, std::int64_t declared = -1)
{
    Bytes b;
    put32(b, declared >= 0 ? std::uint32_t(declared) : std::uint32_t(8 + body.size()));
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One item's references: from item 2 to `ids`, `count` as written (the number of ids unless given).
Bytes dimg(std::vector<std::uint16_t> ids, int count = -1)
{
    Bytes body;
    put16(body, 2);
    put16(body, std::uint16_t(count >= 0 ? count : int(ids.size())));
    for (auto id : ids)
        put16(body, id);
    return box("dimg", body);
}

Bytes fullBox(const char* type, const Bytes& children, std::uint8_t version = 0)
{
    return box(type, cat({{version, 0, 0, 0}, children}));
}

const Bytes kFtyp = box("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1'});
const Bytes kIprp = box("iprp", box("ipco", fullBox("ispe", {0, 0, 0, 64, 0, 0, 0, 48})));

} // namespace

class TestHeifBoxCheck : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void files_data();
    void files();
};

void TestHeifBoxCheck::files_data()
{
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<bool>("wellFormed");
    const Bytes mdat = box("mdat", Bytes(40, 0xab));
    QTest::newRow("a grid's four references")
        << cat({kFtyp, fullBox("meta", cat({fullBox("iref", dimg({1, 3, 4, 5})), kIprp})), mdat}) << true;
    // 32-bit item ids
    Bytes wide;
    put32(wide, 2);
    put16(wide, 2);
    put32(wide, 1);
    put32(wide, 3);
    QTest::newRow("version 1 references")
        << cat({kFtyp, fullBox("meta", fullBox("iref", box("dimg", wide), 1))}) << true;
    QTest::newRow("216 references written, 1 held")
        << cat({kFtyp, fullBox("meta", cat({fullBox("iref", dimg({1}, 216)), kIprp})), mdat}) << false;
    QTest::newRow("one reference more than held")
        << cat({kFtyp, fullBox("meta", fullBox("iref", dimg({1, 3}, 3))), mdat}) << false;
    QTest::newRow("a reference box too short for its count")
        << cat({kFtyp, fullBox("meta", fullBox("iref", box("dimg", {0, 2, 0})))}) << false;
    Bytes longIprp = kIprp;
    longIprp[3] += 4; // claims four bytes the meta box does not hold
    QTest::newRow("a property box past the end of meta")
        << cat({kFtyp, fullBox("meta", longIprp), mdat}) << false;
    Bytes longMeta = fullBox("meta", kIprp);
    longMeta[3] += 100;
    QTest::newRow("meta past the end of the file") << cat({kFtyp, longMeta}) << false;
    QTest::newRow("meta to the end of the file (size 0)")
        << cat({kFtyp, box("meta", cat({{0, 0, 0, 0}, kIprp}), 0)}) << true;
    Bytes large = {0, 0, 0, 1, 'm', 'e', 't', 'a'};
    const Bytes metaBody = cat({{0, 0, 0, 0}, kIprp});
    for (int s = 56; s >= 0; s -= 8)
        large.push_back(std::uint8_t((16 + metaBody.size()) >> s));
    QTest::newRow("meta with a 64-bit size") << cat({kFtyp, large, metaBody}) << true;
    QTest::newRow("coded data cut short after meta")
        << cat({kFtyp, fullBox("meta", kIprp), Bytes{0, 0, 1, 0, 'm', 'd', 'a', 't', 1, 2}}) << true;
    QTest::newRow("no meta") << cat({kFtyp, mdat}) << false;
    QTest::newRow("a header cut short before meta") << Bytes{0, 0, 0} << false;
    QTest::newRow("empty") << Bytes{} << false;
}

void TestHeifBoxCheck::files()
{
    QFETCH(Bytes, file);
    QFETCH(bool, wellFormed);
    QCOMPARE(qr::HeifBoxCheck::wellFormed(file), wellFormed);
}

QTEST_APPLESS_MAIN(TestHeifBoxCheck)
#include "tst_heifboxcheck.moc"
