#include "LCDMarkup.h"

#include <QStringView>

#include <algorithm>

namespace kavio::lcd {
namespace {

struct Tag {
    QStringView text;
    quint8 bit;
    bool on;
};

// Grouped by length and tried shortest first, so at most one tag is consumed per step.
constexpr Tag tags[] = {
    {u"<u>", caUnderline, true}, {u"<s>", caStrike, true},   {u"<b>", caBold, true},
    {u"<i>", caItalic, true},    {u"<bl>", caBlink, true},   {u"</u>", caUnderline, false},
    {u"</s>", caStrike, false},  {u"</b>", caBold, false},   {u"</i>", caItalic, false},
    {u"<inv>", caInverse, true}, {u"</bl>", caBlink, false}, {u"</inv>", caInverse, false},
};

const Tag* tagAt(QStringView text) {
    for (const Tag& tag : tags) {
        if (text.startsWith(tag.text))
            return &tag;
    }
    return nullptr;
}

} // namespace

void ParseLines(const QStringList& lines, TCharGrid& grid) {
    grid.clear();
    quint8 attributes = 0;
    const int lineCount = std::min<qsizetype>(lines.size(), TCharGrid::LineCount);
    for (int l = 0; l < lineCount; ++l) {
        const QString& entry = lines.at(l);
        int position = 1;
        for (qsizetype i = 0; i < entry.size() && entry.at(i) != QChar(0);) {
            const QChar c = entry.at(i);
            if (c == QLatin1Char('<')) {
                if (const Tag* tag = tagAt(QStringView(entry).mid(i))) {
                    attributes = tag->on ? (attributes | tag->bit) : (attributes & ~tag->bit);
                    i += tag->text.size();
                    continue;
                }
            }
            if (position <= TCharGrid::LastPosition)
                grid.setCell(l, position++, TCharCell{c.unicode(), attributes});
            ++i;
        }
    }
}

} // namespace kavio::lcd
