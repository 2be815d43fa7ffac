#include "convert/DocTypes.h"

#include "services/TextUtil.h"

namespace nib {

std::string ParseDocExtFiles(const std::string& value, std::vector<DocType>& table) {
  table.clear();
  T1DimStrArr entries;
  SplitText(value, ";", entries, true);
  for (const std::string& entry : entries) {
    if (entry.empty()) continue;  // two separators in a row name nothing
    T1DimStrArr parts;
    SplitText(entry, ",", parts, true);
    const std::string& app = parts[0];
    if (!TextEquals(app, "Excel") && !TextEquals(app, "Word") && !TextEquals(app, "PowerPoint")) return "ER:" + app;
    for (size_t i = 1; i < parts.size(); ++i) table.push_back({app, parts[i]});
  }
  return "OK";
}

int FindDocType(const std::vector<DocType>& table, const std::string& extension) {
  for (size_t i = 0; i < table.size(); ++i)
    if (TextEquals(table[i].extension, extension)) return static_cast<int>(i);
  return -1;
}

}  // namespace nib
