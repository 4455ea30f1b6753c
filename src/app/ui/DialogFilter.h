#pragma once
// File dialog filters: the program writes them as "description|pattern;pattern|..." pairs.
// On Linux a person expects "*.*" to list every file and an extension to match in any
// letter case, so the patterns are rewritten for Qt while the descriptions stay as written.
#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <string>

namespace ofs {

// "description (patterns)" per pair, for a dialog that hides the pattern part.
QStringList ToQtNameFilters(const std::string& filter);

// Filters and, for a save dialog, the first pattern's extension added to a name without one.
// Qt's own dialog everywhere: native ones treat patterns and hidden details each their own way.
void ConfigureFileDialog(QFileDialog& dialog, const std::string& filter, bool save);

}  // namespace ofs
