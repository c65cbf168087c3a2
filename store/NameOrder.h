#pragma once

#include <QString>
#include <vector>

namespace kavio {

// The order in which names are shown everywhere (list, tabs' members, the group dialog, kavioctl):
// as people read them. Letters compare without regard to case, in the language's order, and a
// run of digits compares by its value, so "Rack 2" comes before "Rack 10". Equal names keep the
// order they came in (callers read records by key, so equal names end up by key): names that
// differ only in case each keep their place.

// Compares two names in that order: negative, zero or positive.
int compareNames(const QString& a, const QString& b);

// Gives the positions of `names` in that order.
std::vector<size_t> orderByName(const std::vector<QString>& names);

// Sorts records into that order; `nameOf` gives a record's name.
template <typename Record, typename NameOf>
void sortByName(std::vector<Record>& records, NameOf nameOf) {
    std::vector<QString> names;
    names.reserve(records.size());
    for (const Record& record : records)
        names.push_back(nameOf(record));
    std::vector<Record> sorted;
    sorted.reserve(records.size());
    for (size_t position : orderByName(names))
        sorted.push_back(std::move(records[position]));
    records = std::move(sorted);
}

} // namespace kavio
