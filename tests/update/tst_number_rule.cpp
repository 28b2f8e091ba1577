#include "update/number_rule.h"

#include "core/decimal_separator.h"

#include <QTest>

#include <cfloat>
#include <cmath>

using qalu::update::parsePrice;

// How a price text from the grid becomes a number. Exact doubles are compared bit for bit
// (QCOMPARE on doubles is fuzzy), so rounding faults show.
class TestNumberRule : public QObject
{
    Q_OBJECT
private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<double>("expected");
        const QChar dot(u'.');
        const QChar comma(u',');
        QTest::newRow("blanks around") << QStringLiteral(" 12.5 ") << dot << 12.5;
        QTest::newRow("many blanks around") << QStringLiteral("    7    ") << dot << 7.0;
        QTest::newRow("plus sign") << QStringLiteral("+3") << dot << 3.0;
        QTest::newRow("exponent") << QStringLiteral("2.5e2") << dot << 250.0;
        QTest::newRow("capital exponent, negative") << QStringLiteral("25E-1") << dot << 2.5;
        QTest::newRow("exponent with plus") << QStringLiteral("1e+3") << dot << 1000.0;
        QTest::newRow("E without digits") << QStringLiteral("1E") << dot << 1.0;
        QTest::newRow("E and sign without digits") << QStringLiteral("1e-") << dot << 1.0;
        QTest::newRow("lone separator") << QStringLiteral(".") << dot << 0.0;
        QTest::newRow("lone separator with exponent") << QStringLiteral(".e5") << dot << 0.0;
        QTest::newRow("leading separator, negative") << QStringLiteral("-.5") << dot << -0.5;
        QTest::newRow("trailing separator") << QStringLiteral("12.") << dot << 12.0;
        QTest::newRow("leading zeros") << QStringLiteral("0007.250") << dot << 7.25;
        QTest::newRow("one tenth is the nearest double") << QStringLiteral("0.1") << dot << 0.1;
        QTest::newRow("price with cents") << QStringLiteral("1234.56") << dot << 1234.56;
        QTest::newRow("many digits") << QStringLiteral("123456789012345678901234567890") << dot
                                     << 123456789012345678901234567890.0;
        QTest::newRow("many fraction digits")
            << QStringLiteral("3.14159265358979323846264338327950288") << dot << 3.14159265358979323846;
        QTest::newRow("largest double") << QStringLiteral("1.7976931348623157e308") << dot << DBL_MAX;
        QTest::newRow("just above largest rounds down")
            << QStringLiteral("1.7976931348623158e308") << dot << DBL_MAX;
        QTest::newRow("fraction digits scale a large exponent")
            << QStringLiteral("0.001e311") << dot << 1e308;
        QTest::newRow("underflow reads as zero") << QStringLiteral("1e-400") << dot << 0.0;
        QTest::newRow("smallest subnormal")
            << QStringLiteral("4.9406564584124654e-324") << dot << 4.9406564584124654e-324;
        QTest::newRow("exponent of 499 on a tiny mantissa")
            << (QStringLiteral("0.") + QString(198, u'0') + QStringLiteral("1e499")) << dot << 1e300;
        // Rounded to 64 bits first: a text just off a midpoint between two doubles lands on it and
        // goes to the even neighbour, which may be the farther one.
        QTest::newRow("just above a midpoint, to even below")
            << QStringLiteral("1.000000000000000111022302462515655") << dot << 1.0;
        QTest::newRow("just below a midpoint, to even above")
            << QStringLiteral("1.000000000000000333066907387546961") << dot << 1.0000000000000004;
        QTest::newRow("just below a subnormal midpoint, to even above")
            << QStringLiteral("7.41098468761869816264853189302332e-324") << dot << 9.8813129168249309e-324;
        QTest::newRow("comma: decimal") << QStringLiteral("12,5") << comma << 12.5;
        QTest::newRow("comma: exponent") << QStringLiteral(" -1,5e1 ") << comma << -15.0;
    }
    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(QChar, separator);
        QFETCH(double, expected);
        const auto parsed = parsePrice(text, separator);
        QVERIFY2(parsed.ok(), qPrintable(text + QStringLiteral(": ") + parsed.problem));
        QCOMPARE(QByteArray::number(parsed.value, 'g', 17), QByteArray::number(expected, 'g', 17));
        QCOMPARE(std::signbit(parsed.value), std::signbit(expected));
    }

    void minusZeroKeepsItsSign()
    {
        const auto parsed = parsePrice(QStringLiteral("-0"), QChar(u'.'));
        QVERIFY(parsed.ok());
        QCOMPARE(parsed.value, 0.0);
        QVERIFY(std::signbit(parsed.value));
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("separator");
        const QChar dot(u'.');
        const QChar comma(u',');
        QTest::newRow("empty") << QString() << dot;
        QTest::newRow("thousands separator") << QStringLiteral("1,234.5") << dot;
        QTest::newRow("trailing letter") << QStringLiteral("12.5x") << dot;
        QTest::newRow("other separator") << QStringLiteral("12,5") << dot;
        QTest::newRow("trailing tab") << QStringLiteral("12.5\t") << dot;
        QTest::newRow("leading tab") << QStringLiteral("\t12.5") << dot;
        QTest::newRow("trailing line feed") << QStringLiteral("12.5\n") << dot;
        QTest::newRow("no-break space") << QStringLiteral("12.5\u00a0") << dot;
        QTest::newRow("blanks only") << QStringLiteral("   ") << dot;
        QTest::newRow("sign alone") << QStringLiteral("-") << dot;
        QTest::newRow("plus alone with blanks") << QStringLiteral(" + ") << dot;
        QTest::newRow("sign after blank after sign") << QStringLiteral("- 5") << dot;
        QTest::newRow("two signs") << QStringLiteral("+-5") << dot;
        QTest::newRow("two separators") << QStringLiteral("1.2.3") << dot;
        QTest::newRow("blank inside") << QStringLiteral("1 000") << dot;
        QTest::newRow("exponent alone") << QStringLiteral("e5") << dot;
        QTest::newRow("double exponent") << QStringLiteral("1e5e5") << dot;
        QTest::newRow("fractional exponent") << QStringLiteral("1e2.5") << dot;
        QTest::newRow("currency sign") << QStringLiteral("12.5$") << dot;
        QTest::newRow("arabic-indic digits") << QStringLiteral("\u0661\u0662") << dot;
        QTest::newRow("hexadecimal") << QStringLiteral("0x10") << dot;
        QTest::newRow("infinity word") << QStringLiteral("inf") << dot;
        QTest::newRow("nan word") << QStringLiteral("nan") << dot;
        QTest::newRow("beyond double range") << QStringLiteral("1E400") << dot;
        QTest::newRow("negative beyond double range") << QStringLiteral("-1E400") << dot;
        QTest::newRow("rounds to infinity") << QStringLiteral("1.7976931348623159e308") << dot;
        QTest::newRow("just below the overflow midpoint rounds onto it")
            << QStringLiteral("1.797693134862315807937289714053034e308") << dot;
        QTest::newRow("exponent 500 on one") << QStringLiteral("1E500") << dot;
        QTest::newRow("many digits beyond range") << QString(QStringLiteral("9").repeated(400)) << dot;
        // Exponent digits stop being taken at 500; what is left over is not a number.
        QTest::newRow("exponent digits after 500") << QStringLiteral("1E5000") << dot;
        QTest::newRow("zero with exponent digits after 500") << QStringLiteral("0E5000") << dot;
        QTest::newRow("negative exponent digits after 500") << QStringLiteral("1E-5000") << dot;
        QTest::newRow("comma: dot is not the separator") << QStringLiteral("12.5") << comma;
        QTest::newRow("comma: two separators") << QStringLiteral("1,2,3") << comma;
    }
    void rejected()
    {
        QFETCH(QString, text);
        QFETCH(QChar, separator);
        const auto parsed = parsePrice(text, separator);
        QVERIFY(!parsed.ok());
        QCOMPARE(parsed.value, 0.0);
    }

    // The locale's separator, mended to '.' where prices could not be written or read with it.
    void usableSeparator_data()
    {
        QTest::addColumn<QChar>("locale");
        QTest::addColumn<QChar>("used");
        const QChar dot = QLatin1Char('.');
        QTest::newRow("dot") << dot << dot;
        QTest::newRow("comma") << QChar(u',') << QChar(u',');
        QTest::newRow("digit") << QChar(u'5') << dot;
        QTest::newRow("minus") << QChar(u'-') << dot;
        QTest::newRow("exponent") << QChar(u'E') << dot;
        QTest::newRow("blank") << QChar(u' ') << dot;
        QTest::newRow("control") << QChar(u'\x01') << dot;
        // Arabic decimal separator: kept where the 8-bit texts are UTF-8, not under code page 1256.
        const QChar arabic(u'\u066b');
        const bool held = QString(arabic).toLocal8Bit() == QString(arabic).toUtf8();
        QTest::newRow("arabic") << arabic << (held ? arabic : dot);
    }
    void usableSeparator()
    {
        QFETCH(QChar, locale);
        QFETCH(QChar, used);
        QCOMPARE(qalu::usableDecimalSeparator(locale), used);
    }
};

QTEST_APPLESS_MAIN(TestNumberRule)
#include "tst_number_rule.moc"
