#pragma once

#include <optional>
#include <string>

#include <proton/message.hpp>

#include "report/mes_outbox.h"

namespace stampwright {

inline constexpr const char* kCfxContentType = "application/json; charset=\"utf-8\"";

// An outbox row as the CFX SDK puts an envelope on AMQP 1.0: one data section of UTF-8 JSON
// (gzip-compressed with content-encoding "gzip" when asked), message-id the UniqueID,
// creation-time the envelope's time, subject "<handle>.<MessageName>", reply-to the handle,
// application properties cfx-topic, cfx-message and cfx-handle, durable.
proton::message CfxAmqpMessage(const MesOutboxRow& row, bool gzip);

// The envelope's JSON text of a received message (gunzipped when its content-encoding says so);
// nothing with the reason in *error when its body is not one data section or does not inflate.
std::optional<std::string> CfxEnvelopeText(const proton::message& message, std::string* error);

// gzip's format (RFC 1952), as .NET's GZipStream writes and reads it.
std::string Gzip(const std::string& data);
std::optional<std::string> Gunzip(const std::string& data);

}  // namespace stampwright
