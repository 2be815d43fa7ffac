#pragma once
// The document types the converter accepts: "Excel,XLS;Word,Doc;PowerPoint,PPT"
// names, per Office application, the file extensions (without dot) it
// converts. Portable: tested natively.

#include <string>
#include <vector>

namespace nib {

inline constexpr char kDefaultDocExtFiles[] = "Excel,XLS;Word,Doc;PowerPoint,PPT";

struct DocType {
  std::string app;        // "Excel", "Word" or "PowerPoint"
  std::string extension;  // without the dot
};

// Rebuilds `table` from `value`: "OK", or "ER:" and the first application name
// that is none of the three (the pairs before it stay).
std::string ParseDocExtFiles(const std::string& value, std::vector<DocType>& table);
// The first entry with this extension (ASCII case ignored), or -1.
int FindDocType(const std::vector<DocType>& table, const std::string& extension);

}  // namespace nib
