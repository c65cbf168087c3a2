#include "NameOrder.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <algorithm>
#include <numeric>

namespace kavio {
namespace {

// Each run of digits is written as its count of significant digits (two digits) followed by the
// digits without leading zeros: a shorter number then sorts first, equal lengths by their
// digits, under any collation that orders the digits 0..9.
QString numbersByValue(const QString& name) {
    QString key;
    key.reserve(name.size() + 8);
    for (qsizetype at = 0; at < name.size();) {
        if (!name[at].isDigit()) {
            key += name[at++];
            continue;
        }
        qsizetype end = at;
        while (end < name.size() && name[end].isDigit())
            ++end;
        qsizetype first = at;
        while (first + 1 < end && name[first].digitValue() == 0)
            ++first;
        const qsizetype digits = std::min<qsizetype>(end - first, 99);
        key += QLatin1Char(char('0' + digits / 10));
        key += QLatin1Char(char('0' + digits % 10));
        for (qsizetype d = first; d < end; ++d)
            key += QLatin1Char(char('0' + name[d].digitValue()));
        at = end;
    }
    return key;
}

class NameCollator {
public:
    NameCollator() {
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
        // The C locale's collator compares code points and would tell the cases apart.
        m_fold = m_collator.locale().language() == QLocale::C;
    }
    QString prepare(const QString& name) const {
        const QString key = numbersByValue(name);
        return m_fold ? key.toCaseFolded() : key;
    }
    QCollatorSortKey sortKey(const QString& name) const {
        return m_collator.sortKey(prepare(name));
    }
    int compare(const QString& a, const QString& b) const {
        return m_collator.compare(prepare(a), prepare(b));
    }

private:
    QCollator m_collator;
    bool m_fold = false;
};

} // namespace

int compareNames(const QString& a, const QString& b) {
    // One collator for the program's life: sorting a list box compares many times.
    static const NameCollator collator;
    return collator.compare(a, b);
}

std::vector<size_t> orderByName(const std::vector<QString>& names) {
    const NameCollator collator;
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString& name : names)
        keys.push_back(collator.sortKey(name));
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    return order;
}

} // namespace kavio
