#include "component/sendara/base/detail/request_sender/multi_part_builder.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <random>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/request_sender/content_type.h"

namespace sendara::base {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kDashes = "--";

// The fields of a GUID in their standard order.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

Guid RandomGuid() {
  std::random_device device;
  std::uniform_int_distribution<std::uint32_t> word;
  Guid guid;
  guid.data1 = word(device);
  const std::uint32_t middle = word(device);
  guid.data2 = static_cast<std::uint16_t>(middle >> 16);
  // Version 4 (random).
  guid.data3 = static_cast<std::uint16_t>((middle & 0x0FFFu) | 0x4000u);
  for (int half = 0; half < 2; ++half) {
    const std::uint32_t bits = word(device);
    for (int i = 0; i < 4; ++i) guid.data4[half * 4 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  // Variant 1 (RFC 4122).
  guid.data4[0] = static_cast<std::uint8_t>((guid.data4[0] & 0x3Fu) | 0x80u);
  return guid;
}

}  // namespace

std::string MultiPartBuilder::BuildBody(std::span<const MultiPart> parts, std::string_view boundary) {
  std::size_t size = boundary.size() + 4;
  for (const MultiPart& part : parts) {
    size += boundary.size() + part.name.size() + part.content.size() + 128 +
            (part.fileName ? part.fileName->size() : 0);
  }
  std::string body;
  body.reserve(size);
  for (const MultiPart& part : parts) {
    body += kDashes;
    body += boundary;
    body += kCrLf;
    body += "Content-Disposition: form-data; name=\"";
    body += part.name;
    body += "\"";
    if (part.fileName) {
      body += "; filename=\"";
      body += *part.fileName;
      body += "\"";
    }
    body += kCrLf;
    body += "Content-type: ";
    body += part.fileName ? ContentType::kGzip : ContentType::kJson;
    body += kCrLf;
    body += kCrLf;
    body += part.content;
    body += kCrLf;
  }
  body += kDashes;
  body += boundary;
  body += kDashes;
  return body;
}

std::string MultiPartBuilder::NewBoundary() {
  Guid guid;
  try {
    guid = RandomGuid();
  } catch (const std::exception&) {
    SENDARA_THROW(tools_exception, tools_exception::kDefaultCode, "can't generate multipart boundary");
  }
  char text[37];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(guid.data1), static_cast<unsigned>(guid.data2),
                static_cast<unsigned>(guid.data3), guid.data4[0], guid.data4[1], guid.data4[2],
                guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return std::string(text, 36);
}

std::string MultiPartBuilder::ContentTypeFor(std::string_view boundary) {
  std::string type(ContentType::kMultiPartPrefix);
  type += boundary;
  return type;
}

}  // namespace sendara::base
