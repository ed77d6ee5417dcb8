#include "core/unformatted_file.hpp"

#include <cstdint>

namespace kinrad {
namespace {

constexpr long long max_marker = 2147483647;

}  // namespace

bool UnformattedWriter::open(const std::string& path) {
  close();
  f_ = std::fopen(path.c_str(), "wb");
  good_ = f_ != nullptr;
  return good_;
}

bool UnformattedWriter::close() {
  if (f_ == nullptr) return false;
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  const bool ok = good_ && closed;
  good_ = false;
  return ok;
}

void UnformattedWriter::put_marker(long long n) {
  const std::int32_t m = static_cast<std::int32_t>(n);
  if (std::fwrite(&m, sizeof m, 1, f_) != 1) good_ = false;
}

void UnformattedWriter::put_record() {
  if (f_ == nullptr) {
    good_ = false;
    return;
  }
  const std::size_t limit =
      max_subrecord_ < static_cast<std::size_t>(max_marker) ? max_subrecord_ : max_marker;
  const std::size_t total = buf_.size();
  std::size_t at = 0;
  bool first = true;
  do {
    const std::size_t n = total - at > limit ? limit : total - at;
    const bool last = at + n == total;
    const auto len = static_cast<long long>(n);
    put_marker(last ? len : -len);
    if (n > 0 && std::fwrite(buf_.data() + at, 1, n, f_) != n) good_ = false;
    put_marker(first ? len : -len);
    at += n;
    first = false;
  } while (at < total);
}

bool UnformattedReader::open(const std::string& path) {
  close();
  f_ = std::fopen(path.c_str(), "rb");
  if (f_ == nullptr) return false;
  // The size bounds every length read from the file, so a damaged length cannot make the
  // reader reserve gigabytes for a record that is not there.
  long size = -1;
  if (std::fseek(f_, 0, SEEK_END) == 0) size = std::ftell(f_);
  if (size < 0 || std::fseek(f_, 0, SEEK_SET) != 0) {
    close();
    return false;
  }
  size_ = static_cast<std::size_t>(size);
  pos_ = 0;
  return true;
}

void UnformattedReader::close() {
  if (f_ != nullptr) std::fclose(f_);
  f_ = nullptr;
  rec_.clear();
  size_ = 0;
  pos_ = 0;
}

void UnformattedReader::rewind() {
  if (f_ != nullptr) std::rewind(f_);
  pos_ = 0;
}

IoStatus UnformattedReader::load_record() {
  rec_.clear();
  if (f_ == nullptr) return IoStatus::error;
  bool first = true;
  for (;;) {
    if (first && pos_ == size_) return IoStatus::end;
    std::int32_t head = 0;
    if (size_ - pos_ < sizeof head || std::fread(&head, 1, sizeof head, f_) != sizeof head ||
        head == INT32_MIN)
      return IoStatus::error;
    pos_ += sizeof head;
    const bool more = head < 0;
    const std::size_t n = static_cast<std::size_t>(more ? -head : head);
    std::int32_t tail = 0;
    if (size_ - pos_ < n + sizeof tail) return IoStatus::error;
    const std::size_t at = rec_.size();
    rec_.resize(at + n);
    if (n > 0 && std::fread(rec_.data() + at, 1, n, f_) != n) return IoStatus::error;
    if (std::fread(&tail, 1, sizeof tail, f_) != sizeof tail) return IoStatus::error;
    pos_ += n + sizeof tail;
    // The trailing length repeats the leading one, negative when a subrecord came before.
    const std::int32_t expect =
        first ? static_cast<std::int32_t>(n) : -static_cast<std::int32_t>(n);
    if (tail != expect) return IoStatus::error;
    if (!more) return IoStatus::ok;
    first = false;
  }
}

}  // namespace kinrad
