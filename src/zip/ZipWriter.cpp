#include "zip/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "services/TextUtil.h"

namespace fs = std::filesystem;

namespace nib {
namespace {

constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;

class ByteWriter {
 public:
  void U16(std::uint16_t v) {
    bytes.push_back(static_cast<char>(v & 0xFF));
    bytes.push_back(static_cast<char>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v & 0xFFFF));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Text(const std::string& text) { bytes += text; }
  std::string bytes;
};

std::vector<std::uint8_t> ReadWholeFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::error_code error;
  auto size = fs::file_size(file, error);
  if (!in || error) throw std::runtime_error("cannot read " + file.string());
  std::vector<std::uint8_t> data(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size())))
    throw std::runtime_error("cannot read " + file.string());
  return data;
}

// Raw deflate (no zlib header), as ZIP wants it.
std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data, int level) {
  z_stream stream{};
  // memLevel 9: more memory for the hash chains, a little faster at the same level.
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflate cannot start");
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(data.size())));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

struct ZipEntry {
  std::string name;
  std::uint16_t method;
  std::uint32_t dosTime;
  std::uint32_t crc;
  std::uint32_t compressedSize;
  std::uint32_t size;
  std::uint16_t internalAttributes;
  std::uint32_t externalAttributes;
  std::uint32_t offset;
};

// The fields the local header and the central directory entry share, from
// the flags to the extra-field length.
void WriteSharedFields(ByteWriter& out, const ZipEntry& entry) {
  out.U16(0);  // general purpose flags
  out.U16(entry.method);
  out.U32(entry.dosTime);
  out.U32(entry.crc);
  out.U32(entry.compressedSize);
  out.U32(entry.size);
  out.U16(static_cast<std::uint16_t>(entry.name.size()));
  out.U16(0);  // extra field
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace


bool WildcardMatch(std::string_view mask, std::string_view name) {
  if (mask == "*.*" || mask == "*") return true;
  size_t m = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      star = m++;
      resume = n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

std::uint16_t ZipInternalAttribute(const std::uint8_t* data, size_t size) {
  size_t text = 0;
  for (size_t i = 0; i < size; ++i) text += static_cast<unsigned>(data[i] - 7) <= 127 - 7;
  size_t binary = size - text;
  return text / 4 >= binary ? 1 : 0;
}

bool ZipWriter::Matches(const fs::path& file) const {
  std::string name = file.filename().string();
  return std::any_of(masks_.begin(), masks_.end(), [&](const std::string& mask) { return WildcardMatch(mask, name); });
}

bool ZipWriter::NeverCompressed(const fs::path& file) const {
  std::string extension = file.extension().string();
  return std::any_of(neverCompressed_.begin(), neverCompressed_.end(),
                     [&](const std::string& e) { return TextEquals(e, extension); });
}

std::vector<fs::path> ZipWriter::CollectFiles() const {
  // The files of a folder in name order, then each subfolder's, recursively.
  std::vector<fs::path> files;
  std::error_code error;
  fs::path archive = fs::weakly_canonical(archive_, error);
  std::function<void(const fs::path&)> collect = [&](const fs::path& folder) {
    std::vector<fs::path> here, subfolders;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      if (entry.is_directory())
        subfolders.push_back(entry.path());
      else if (entry.is_regular_file() && Matches(entry.path()))
        here.push_back(entry.path());
    }
    std::sort(here.begin(), here.end());
    std::sort(subfolders.begin(), subfolders.end());
    for (const fs::path& file : here) {
      // An archive written inside its own root is never packed into itself.
      std::error_code ignored;
      if (fs::weakly_canonical(file, ignored) != archive) files.push_back(file);
    }
    if (relativePaths_)
      for (const fs::path& subfolder : subfolders) collect(subfolder);
  };
  collect(root_);
  return files;
}

int ZipWriter::Pack() {
  std::ofstream out(archive_, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write the archive " + archive_.string());
  std::vector<fs::path> files = root_.empty() || !fs::is_directory(root_) ? std::vector<fs::path>() : CollectFiles();
  std::vector<ZipEntry> entries;
  std::uint32_t offset = 0;
  for (const fs::path& file : files) {
    std::vector<std::uint8_t> data = ReadWholeFile(file);
    fs::path relative = relativePaths_ ? file.lexically_relative(root_) : file.filename();
    ZipEntry entry{};
    entry.name = ReplaceChar(platform_.oemName(relative), '\\', '/');
    entry.dosTime = platform_.dosTime(file);
    entry.externalAttributes = platform_.attributes(file);
    entry.crc = static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    entry.size = static_cast<std::uint32_t>(data.size());
    entry.internalAttributes = ZipInternalAttribute(data.data(), data.size());
    entry.offset = offset;

    std::vector<std::uint8_t> packed;
    bool deflate = level_ > 0 && !NeverCompressed(file) && !data.empty();
    if (deflate) packed = Deflate(data, level_);
    // Deflating that does not shrink the file: store it instead.
    if (deflate && packed.size() < data.size()) {
      entry.method = kDeflated;
    } else {
      entry.method = kStored;
      packed = std::move(data);
    }
    entry.compressedSize = static_cast<std::uint32_t>(packed.size());

    ByteWriter header;
    header.U32(0x04034B50);
    header.U16(kVersion);
    WriteSharedFields(header, entry);
    header.Text(entry.name);
    out.write(header.bytes.data(), static_cast<std::streamsize>(header.bytes.size()));
    out.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
    offset += static_cast<std::uint32_t>(header.bytes.size() + packed.size());
    entries.push_back(std::move(entry));
  }

  ByteWriter directory;
  for (const ZipEntry& entry : entries) {
    directory.U32(0x02014B50);
    directory.U16(kVersion);  // made by
    directory.U16(kVersion);  // needed
    WriteSharedFields(directory, entry);
    directory.U16(0);  // comment
    directory.U16(0);  // disk number
    directory.U16(entry.internalAttributes);
    directory.U32(entry.externalAttributes);
    directory.U32(entry.offset);
    directory.Text(entry.name);
  }
  ByteWriter end;
  end.U32(0x06054B50);
  end.U16(0);
  end.U16(0);
  end.U16(static_cast<std::uint16_t>(entries.size()));
  end.U16(static_cast<std::uint16_t>(entries.size()));
  end.U32(static_cast<std::uint32_t>(directory.bytes.size()));
  end.U32(offset);
  end.U16(0);
  out.write(directory.bytes.data(), static_cast<std::streamsize>(directory.bytes.size()));
  out.write(end.bytes.data(), static_cast<std::streamsize>(end.bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write the archive " + archive_.string());
  return static_cast<int>(entries.size());
}

}  // namespace nib
