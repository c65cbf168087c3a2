#include "NameOrder.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <algorithm>
#include <numeric>

namespace kavio {

std::vector<size_t> orderByName(const std::vector<QString>& names) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // The C locale's collator compares code points and would tell the cases apart.
    const bool fold = collator.locale().language() == QLocale::C;
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const QString& name : names)
        keys.push_back(collator.sortKey(fold ? name.toCaseFolded() : name));
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    return order;
}

} // namespace kavio
