#pragma once
// File dialog filters: the program writes them as "description|pattern|..." pairs;
// Qt wants "description (patterns);;...".
#include <QString>
#include <QStringList>
#include <string>

namespace ofs {

QStringList ToQtNameFilters(const std::string& filter);

}  // namespace ofs
