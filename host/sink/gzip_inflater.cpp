#include "host/sink/gzip_inflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace siem_sink {
namespace {

// zlib's window bits for a gzip wrapper and nothing else: a raw or zlib
// stream under "Content-Encoding: gzip" is a broken client.
constexpr int kGzipWindowBits = 16 + MAX_WBITS;
constexpr std::size_t kChunk = 256 * 1024;
// zlib counts in 32 bits; longer input goes in several steps.
constexpr std::size_t kMaxStep = std::numeric_limits<uInt>::max();

// The usual body, one member whose trailer gives its inflated size, in one
// call of the faster decoder. Whatever that does not take whole (several
// members, a size past the bound, damage) goes to zlib, which tells the cases
// apart: the answer is zlib's in every case.
bool InflateOneMember(std::string_view compressed, std::size_t maxInflatedBytes, std::string& out) {
  constexpr std::size_t kSmallestMember = 18;  // header 10, empty block 0, trailer 8
  if (compressed.size() < kSmallestMember) return false;
  const auto* trailer = reinterpret_cast<const unsigned char*>(compressed.data() + compressed.size() - 4);
  const std::size_t size = std::size_t{trailer[0]} | std::size_t{trailer[1]} << 8 | std::size_t{trailer[2]} << 16 |
                           std::size_t{trailer[3]} << 24;
  if (size > maxInflatedBytes) return false;
  thread_local const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> decompressor(
      libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
  if (!decompressor) return false;
  out.resize(size);
  std::size_t taken = 0, written = 0;
  return libdeflate_gzip_decompress_ex(decompressor.get(), compressed.data(), compressed.size(), out.data(), size,
                                       &taken, &written) == LIBDEFLATE_SUCCESS &&
         taken == compressed.size() && written == size;
}

}  // namespace

GzipInflater::Result GzipInflater::Inflate(std::string_view compressed, std::size_t maxInflatedBytes,
                                           std::string& out) {
  if (InflateOneMember(compressed, maxInflatedBytes, out)) return Result::kInflated;
  out.clear();
  z_stream stream{};
  const int initialized = inflateInit2(&stream, kGzipWindowBits);
  if (initialized == Z_MEM_ERROR) throw std::bad_alloc();
  if (initialized != Z_OK) return Result::kInvalid;
  const std::unique_ptr<z_stream, int (*)(z_streamp)> end(&stream, &inflateEnd);

  const auto* next = reinterpret_cast<const Bytef*>(compressed.data());
  std::size_t left = compressed.size();
  // An empty body is no gzip stream: it lacks even the header.
  if (left == 0) return Result::kInvalid;
  for (;;) {
    if (stream.avail_in == 0 && left > 0) {
      const std::size_t step = std::min(left, kMaxStep);
      stream.next_in = const_cast<Bytef*>(next);
      stream.avail_in = static_cast<uInt>(step);
      next += step;
      left -= step;
    }
    const std::size_t before = out.size();
    // One byte past the bound is room enough to tell "too large" apart from
    // "exactly at the bound".
    const std::size_t room = std::min(kChunk, maxInflatedBytes + 1 - before);
    out.resize(before + room);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + before);
    stream.avail_out = static_cast<uInt>(room);
    const int status = inflate(&stream, Z_NO_FLUSH);
    out.resize(before + (room - stream.avail_out));
    if (out.size() > maxInflatedBytes) return Result::kTooLarge;
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    if (status == Z_STREAM_END) {
      if (stream.avail_in == 0 && left == 0) return Result::kInflated;
      // Another member follows.
      if (inflateReset(&stream) != Z_OK) return Result::kInvalid;
      continue;
    }
    if (status == Z_BUF_ERROR) {
      // No progress was possible. Only a full output buffer excuses that;
      // otherwise the input ran out before the stream's end.
      if (stream.avail_out == 0) continue;
      return Result::kInvalid;
    }
    if (status != Z_OK) return Result::kInvalid;
    if (stream.avail_in == 0 && left == 0 && stream.avail_out != 0) {
      // All input taken, room left, and no end of stream: truncated.
      return Result::kInvalid;
    }
  }
}

}  // namespace siem_sink
