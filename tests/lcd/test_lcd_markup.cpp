// The markup pass that fills the character grid, and the splitting of animation script lines.

#include "CharGrid.h"
#include "Exception.h"
#include "LCDMarkup.h"
#include "ScriptParser.h"

#include <QtTest>

using namespace kavio;
using namespace kavio::lcd;

Q_DECLARE_METATYPE(QList<TScriptCommand>)

namespace {

QString lineText(const TCharGrid& grid, int line) {
    QString text;
    for (int p = 1; p <= grid.lineLength(line); ++p)
        text.append(QChar(grid.cell(line, p).ch));
    return text;
}

QList<int> lineAttributes(const TCharGrid& grid, int line) {
    QList<int> attributes;
    for (int p = 1; p <= grid.lineLength(line); ++p)
        attributes.append(grid.cell(line, p).attr);
    return attributes;
}

} // namespace

class TestLcdMarkup : public QObject {
    Q_OBJECT

private slots:
    void parseLines_data();
    void parseLines();
    void parseLinesRefillsFromScratch();
    void textBeyondTheGridIsDropped();
    void scriptLine_data();
    void scriptLine();
    void badScriptLine_data();
    void badScriptLine();
};

void TestLcdMarkup::parseLines_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("attributes");

    QTest::newRow("bold word then plain") << QStringList{"<b>bold</b> plain"} << 0 << "bold plain"
                                          << QList<int>{4, 4, 4, 4, 0, 0, 0, 0, 0, 0};
    QTest::newRow("a lone < is a character")
        << QStringList{"a<b"} << 0 << "a<b" << QList<int>{0, 0, 0};
    QTest::newRow("two tags, one character")
        << QStringList{"<b><i>x"} << 0 << "x" << QList<int>{12};
    QTest::newRow("inverse carried over the line end")
        << QStringList{"<inv>", "ab"} << 1 << "ab" << QList<int>{32, 32};
    QTest::newRow("a line of tags only is empty")
        << QStringList{"<inv>", "ab"} << 0 << "" << QList<int>{};
    QTest::newRow("carried across an empty entry")
        << QStringList{"<u>a", "", "b"} << 2 << "b" << QList<int>{1};
    QTest::newRow("every tag") << QStringList{"<u>a<s>b<b>c<i>d<bl>e<inv>f"} << 0 << "abcdef"
                               << QList<int>{1, 3, 7, 15, 31, 63};
    QTest::newRow("every closing tag")
        << QStringList{"<u><s><b><i><bl><inv>a</u>b</s>c</b>d</i>e</bl>f</inv>g"} << 0 << "abcdefg"
        << QList<int>{63, 62, 60, 56, 48, 32, 0};
    QTest::newRow("closing what is off changes nothing")
        << QStringList{"</b>a<i></b>b"} << 0 << "ab" << QList<int>{0, 8};
    QTest::newRow("tags are not nested")
        << QStringList{"<b><b>a</b>b"} << 0 << "ab" << QList<int>{4, 0};
    QTest::newRow("tags are case-sensitive")
        << QStringList{"<B>a"} << 0 << "<B>a" << QList<int>{0, 0, 0, 0};
    QTest::newRow("an unfinished tag is text")
        << QStringList{"<inv"} << 0 << "<inv" << QList<int>{0, 0, 0, 0};
    QTest::newRow("<bl> is not <b> and l") << QStringList{"<bl>x"} << 0 << "x" << QList<int>{16};
    QTest::newRow("a NUL ends the line")
        << QStringList{QStringLiteral("ab") + QChar(0) + QStringLiteral("cd")} << 0 << "ab"
        << QList<int>{0, 0};
}

void TestLcdMarkup::parseLines() {
    QFETCH(QStringList, lines);
    QFETCH(int, line);

    TCharGrid grid;
    ParseLines(lines, grid);
    QTEST(lineText(grid, line), "text");
    QTEST(lineAttributes(grid, line), "attributes");
}

void TestLcdMarkup::parseLinesRefillsFromScratch() {
    TCharGrid grid;
    ParseLines({"<b>long line", "second"}, grid);
    ParseLines({"ab"}, grid);
    QCOMPARE(lineText(grid, 0), QStringLiteral("ab"));
    // Attributes start off again, and nothing of the longer text survives.
    QCOMPARE(grid.cell(0, 1).attr, 0);
    QCOMPARE(grid.cell(0, 3).ch, u'\0');
    QCOMPARE(lineText(grid, 1), QString());
    ParseLines({}, grid);
    QCOMPARE(lineText(grid, 0), QString());
}

void TestLcdMarkup::textBeyondTheGridIsDropped() {
    QStringList lines;
    lines.append(QString(300, QLatin1Char('x')) + QStringLiteral("<inv>"));
    for (int i = 1; i < 300; ++i)
        lines.append(QStringLiteral("line %1").arg(i));

    TCharGrid grid;
    ParseLines(lines, grid);
    QCOMPARE(grid.lineLength(0), 255);
    QCOMPARE(grid.cell(0, 255).ch, u'x');
    // The tag after the dropped characters still switches its attribute.
    QCOMPARE(grid.cell(1, 1).attr, 32);
    QCOMPARE(lineText(grid, 255), QStringLiteral("line 255"));
    QCOMPARE(grid.cell(256, 1).ch, u'\0');
}

void TestLcdMarkup::scriptLine_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QList<TScriptCommand>>("commands");

    QTest::newRow("one command") << "[horzscroll(-1);]"
                                 << QList<TScriptCommand>{{"horzscroll", -1}};
    QTest::newRow("any delimiters, blanks, case")
        << "x  HorzScroll(2);   VertScroll(-30) ;  setintensity(+7);x"
        << QList<TScriptCommand>{{"horzscroll", 2}, {"vertscroll", -30}, {"setintensity", 7}};
    QTest::newRow("blank before the name")
        << "{ gotoline(3); }" << QList<TScriptCommand>{{"gotoline", 3}};
    QTest::newRow("unknown names are kept for the caller to ignore")
        << "[beep(1);]" << QList<TScriptCommand>{{"beep", 1}};
    QTest::newRow("name cut to 25 characters")
        << "[abcdefghijklmnopqrstuvwxyz0123(5);]"
        << QList<TScriptCommand>{{"abcdefghijklmnopqrstuvwxy", 5}};
    QTest::newRow("full 32-bit range")
        << "[animationdelay(2147483647);]" << QList<TScriptCommand>{{"animationdelay", 2147483647}};
    QTest::newRow("no commands") << "[]" << QList<TScriptCommand>{};
    QTest::newRow("empty line") << "" << QList<TScriptCommand>{};
    QTest::newRow("no semicolon, no command") << "[horzscroll(1)]" << QList<TScriptCommand>{};
}

void TestLcdMarkup::scriptLine() {
    QFETCH(QString, line);
    QTEST(ParseScriptLine(line), "commands");
}

void TestLcdMarkup::badScriptLine_data() {
    QTest::addColumn<QString>("line");
    QTest::newRow("argument not a number") << "[horzscroll(x);]";
    QTest::newRow("empty argument") << "[horzscroll();]";
    QTest::newRow("blank before the parenthesis") << "[horzscroll (1);]";
    QTest::newRow("missing (") << "[horzscroll1);]";
    QTest::newRow("missing )") << "[horzscroll(1;]";
    QTest::newRow("final ; dropped as a delimiter") << "horzscroll(1);";
    QTest::newRow("; as a delimiter counts as a command") << ";horzscroll(1);;";
    QTest::newRow("a bad command spoils the good one") << "[horzscroll(1); vertscroll(y);]";
    QTest::newRow("beyond 32 bits") << "[animationdelay(2147483648);]";
    QTest::newRow("blank inside the parentheses") << "[horzscroll( 1);]";
}

void TestLcdMarkup::badScriptLine() {
    QFETCH(QString, line);
    QVERIFY_THROWS_EXCEPTION(kavio::Exception, ParseScriptLine(line));
}

QTEST_MAIN(TestLcdMarkup)
#include "test_lcd_markup.moc"
