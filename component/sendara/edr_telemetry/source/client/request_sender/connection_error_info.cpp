#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"

#include <variant>

namespace sendara::edr_telemetry {
namespace {

std::optional<std::uint64_t> NumberOf(const oru::Exception::PropertyValue* value) {
  if (!value) return std::nullopt;
  if (const auto* u = std::get_if<std::uint64_t>(value)) return *u;
  if (const auto* i = std::get_if<std::int64_t>(value)) return static_cast<std::uint64_t>(*i);
  return std::nullopt;
}

std::optional<std::string> TextOf(const oru::Exception::PropertyValue* value) {
  if (!value) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(value)) return *text;
  return std::nullopt;
}

}  // namespace

ConnectionErrorInfo ConnectionErrorInfo::From(const base::connection_exception& exception) {
  ConnectionErrorInfo info;
  info.reason = static_cast<std::uint32_t>(NumberOf(exception.FindProperty(kReason)).value_or(0));
  info.serverAddress = TextOf(exception.FindProperty(kServerAddress)).value_or("");
  info.apiVersion = TextOf(exception.FindProperty(kApiVersion));
  if (const auto protocol = NumberOf(exception.FindProperty(kDataDiodeProtocol))) {
    info.dataDiodeProtocol = static_cast<std::uint32_t>(*protocol);
  }
  return info;
}

void ConnectionErrorInfo::ApplyTo(base::connection_exception& exception) const {
  exception.SetProperty(kReason, static_cast<std::uint64_t>(reason));
  exception.SetProperty(kServerAddress, serverAddress);
  if (apiVersion) exception.SetProperty(kApiVersion, *apiVersion);
  if (dataDiodeProtocol) exception.SetProperty(kDataDiodeProtocol, static_cast<std::uint64_t>(*dataDiodeProtocol));
}

}  // namespace sendara::edr_telemetry
