#include "app/ui/DialogFilter.h"

namespace ofs {
namespace {

// "*.ofs" -> "*.[oO][fF][sS]"; "*.*" -> "*".
QString AnyCasePattern(const QString& pattern) {
  if (pattern == QLatin1String("*.*")) return QStringLiteral("*");
  QString out;
  for (const QChar c : pattern) {
    if (c.isLetter())
      out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    else
      out += c;
  }
  return out;
}

struct FilterPair {
  QString description;
  QStringList patterns;
};

QList<FilterPair> Pairs(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QList<FilterPair> pairs;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    pairs.append({parts[i], parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)});
  }
  return pairs;
}

}  // namespace

QStringList ToQtNameFilters(const std::string& filter) {
  QStringList filters;
  for (const FilterPair& pair : Pairs(filter)) {
    QStringList patterns;
    for (const QString& p : pair.patterns) patterns << AnyCasePattern(p);
    filters << pair.description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

void ConfigureFileDialog(QFileDialog& dialog, const std::string& filter, bool save) {
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(ToQtNameFilters(filter));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QList<FilterPair> pairs = Pairs(filter);
  if (save && !pairs.isEmpty() && !pairs[0].patterns.isEmpty()) {
    const QString first = pairs[0].patterns[0];
    const qsizetype dot = first.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && !first.mid(dot + 1).contains(QLatin1Char('*'))) dialog.setDefaultSuffix(first.mid(dot + 1));
  }
}

}  // namespace ofs
