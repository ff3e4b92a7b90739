#include "db/passworddigest.h"

#include "digestvectors.h"

#include <QtTest>

using testsupport::DigestVector;

class TestPasswordDigest : public QObject
{
    Q_OBJECT

private slots:
    void shouldHaveVectorsOfEveryKind();
    void shouldMatchIndependentDigest_data();
    void shouldMatchIndependentDigest();
};

// The cases the storage tests rely on are really in the data file.
void TestPasswordDigest::shouldHaveVectorsOfEveryKind()
{
    const QList<DigestVector> vectors = testsupport::digestVectors();
    QVERIFY2(vectors.size() >= 15, "tests/data/digests.tsv is missing or short");
    bool notText = false, zero = false, endsInSpace = false;
    for (const DigestVector &vector : vectors) {
        QCOMPARE(vector.digest.size(), 20);
        notText |= !QUtf8StringView(vector.digest).isValidUtf8();
        zero |= vector.digest.contains('\0');
        endsInSpace |= vector.digest.endsWith(' ');
    }
    QVERIFY(notText);
    QVERIFY(zero);
    QVERIFY(endsInSpace);
}

void TestPasswordDigest::shouldMatchIndependentDigest_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("digest");
    for (const DigestVector &vector : testsupport::digestVectors())
        QTest::newRow(qPrintable(vector.name)) << vector.user << vector.password << vector.digest;
}

void TestPasswordDigest::shouldMatchIndependentDigest()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, digest);
    const QByteArray computed = hashPassword(user, password);
    QCOMPARE(computed.size(), 20);
    QCOMPARE(computed.toHex(), digest.toHex());
}

QTEST_GUILESS_MAIN(TestPasswordDigest)
#include "tst_passworddigest.moc"
