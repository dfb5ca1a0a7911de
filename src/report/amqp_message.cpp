#include "report/amqp_message.h"

#include <zlib.h>

#include <proton/binary.hpp>
#include <proton/message_id.hpp>
#include <proton/scalar.hpp>
#include <proton/timestamp.hpp>
#include <proton/value.hpp>

#include "report/cfx/envelope.h"

namespace stampwright {
namespace {

// zlib's window bits for the gzip wrapper instead of zlib's own.
constexpr int kGzipWindow = 15 + 16;

}  // namespace

std::string Gzip(const std::string& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END ? out : std::string();
}

std::optional<std::string> Gunzip(const std::string& data) {
  z_stream stream{};
  if (inflateInit2(&stream, kGzipWindow) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char chunk[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
    // No progress with input left: a truncated or corrupt stream, not a loop.
    if (result == Z_BUF_ERROR || (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)) break;
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) return std::nullopt;
  return out;
}

proton::message CfxAmqpMessage(const MesOutboxRow& row, bool gzip) {
  proton::message message;
  const std::string& json = row.envelope;
  const std::string body = gzip ? Gzip(json) : json;
  message.body(proton::binary(body));
  // Binary as a data section, not as an amqp-value.
  message.inferred(true);
  message.id(proton::message_id(row.unique_id));
  message.content_type(kCfxContentType);
  if (gzip) message.content_encoding("gzip");
  message.creation_time(proton::timestamp(row.created));
  message.subject(row.source + "." + row.message_name);
  message.reply_to(row.source);
  message.durable(true);
  auto& properties = message.properties();
  properties.put("cfx-topic", std::string(cfx::Topic(row.message_name)));
  properties.put("cfx-message", row.message_name);
  properties.put("cfx-handle", row.source);
  return message;
}

std::optional<std::string> CfxEnvelopeText(const proton::message& message, std::string* error) {
  const proton::value& body = message.body();
  std::string bytes;
  if (body.type() == proton::BINARY) {
    const auto binary = proton::get<proton::binary>(body);
    bytes.assign(binary.begin(), binary.end());
  } else if (body.type() == proton::STRING) {
    bytes = proton::get<std::string>(body);
  } else {
    *error = "the message's body is not a data section";
    return std::nullopt;
  }
  if (message.content_encoding() == "gzip") {
    auto inflated = Gunzip(bytes);
    if (!inflated) {
      *error = "the message's gzip body does not inflate";
      return std::nullopt;
    }
    return inflated;
  }
  return bytes;
}

}  // namespace stampwright
