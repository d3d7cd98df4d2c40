#include "ui/NameOrder.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <numeric>

#include "ui/TextCodec.h"

void SortNames(std::vector<std::string>& names) {
  QCollator collator{QLocale(QLocale::French)};
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  // One key per name, made once: a comparison of keys is cheap, one of names is not.
  std::vector<QCollatorSortKey> keys;
  keys.reserve(names.size());
  for (const std::string& name : names) keys.push_back(collator.sortKey(DisplayText(name)));
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int byKey = keys[a].compare(keys[b]);
    return byKey != 0 ? byKey < 0 : names[a] < names[b];
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (const std::size_t i : order) sorted.push_back(std::move(names[i]));
  names = std::move(sorted);
}
