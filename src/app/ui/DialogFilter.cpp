#include "app/ui/DialogFilter.h"

namespace ofs {

QStringList ToQtNameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // "OFS file(*.ofs)" already ends with its pattern list, which is what Qt reads.
    if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
      filters << description;
    else
      filters << description + QLatin1String(" (") + patterns + QLatin1Char(')');
  }
  return filters;
}

}  // namespace ofs
